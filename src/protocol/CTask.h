#pragma once

#include <QByteArray>
#include <QObject>
#include <atomic>

class QTimer;

// Creates, restarts and deletes the session timers. Lives on the timer thread, the only
// thread that ever starts, stops or deletes one of them; everything reaches it as a queued
// call from CTimeout.
class CTask : public QObject
{
    Q_OBJECT
public:
    explicit CTask(QObject *parent = nullptr);

    void SetDefaultInterval(int v_iInterval);
    int DefaultInterval() const { return m_iDefaultInterval.load(); }

Q_SIGNALS:
    void TimerCreated(const QByteArray &v_oSessionID, QTimer *v_poTimer);

public Q_SLOTS:
    void CreateTimer(const QByteArray &v_oSessionID);
    // Runs the timer again for v_iInterval ms, which may be less than the default interval.
    void RestartTimer(QTimer *v_poTimer, int v_iInterval);
    void DeleteTimerLater(QTimer *v_poTimer);

private:
    // Set by CTimeout's thread, read on the timer thread.
    std::atomic<int> m_iDefaultInterval{0};
};
