#pragma once

#include "common/ProcessInstance.h"
#include "modules/OwnedThread.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <functional>
#include <memory>
#include <optional>

class CLauncher;
class CSettings;
class CTask;
class DllManager;
class HttpSessionStore;
class QTimer;

// Tears a client session down once it has been silent for the timeout interval: its jobs
// ended, results dropped, HTTP session removed and modules let go. Request threads only
// note a session's activity or post to the timer thread, where CTask owns every timer; the
// table and the teardown live in CTimeout's thread (the main thread for the process's
// instance).
class CTimeout : public QObject
{
    Q_OBJECT
public:
    // Where the teardown finds the rest of the server; any of them may answer null.
    struct Services
    {
        std::function<CLauncher *()> launcher;
        std::function<DllManager *()> manager;
        std::function<HttpSessionStore *()> sessionStore;
    };
    // The process's launcher, module manager and published session store.
    static Services ProcessServices();

    // The process's instance, reading the interval from the settings; created on first use
    // and moved to the application object's thread.
    static CTimeout *instance();
    // For process exit, on the main thread before the launcher is shut down: deletes every
    // timer, stops the timer thread and destroys the instance.
    static void ShutdownInstance();

    // interval in ms; without one (no settings) no timer thread is started and no timer runs.
    explicit CTimeout(std::optional<int> interval, Services services = ProcessServices(),
                      QObject *parent = nullptr);
    ~CTimeout() override;
    CTimeout(const CTimeout &) = delete;
    CTimeout &operator=(const CTimeout &) = delete;

    void AddNewTimer(const QByteArray &v_oSessionID);
    void RestartTimer(const QByteArray &v_oSessionID);
    void RemoveTimer(const QByteArray &v_oSessionID);
    bool HasTimer(const QByteArray &v_oSessionID) const;
    // A timer's timeout, on this object's thread; one removed or replaced since is let go.
    void ExecuteTimeout(const QByteArray &v_oSessionID, const QTimer *v_poTimer);

Q_SIGNALS:
    void AddTimerCalled(const QByteArray &v_oSessionID);
    void RestartTimerCalled(QTimer *v_poTimer, int v_iInterval);
    void DeleteRemovedTimer(QTimer *v_poTimer);

public Q_SLOTS:
    void InsertTimerToMap(const QByteArray &v_oSessionID, QTimer *v_poTimer);

private:
    void StartTimerThread();
    bool IsTimerOf(const QByteArray &sessionId, const QTimer *timer) const;
    bool PostponeTimeout(const QByteArray &sessionId);
    static qint64 NowMs();
    void TearDownSession(const QByteArray &sessionId);

    Services m_oServices;
    // A request only notes the time it was seen (a timer restart costs the timer thread a
    // scan of all its timers); a timer that fires while its session was active since is
    // started again for what remains of the interval.
    struct TimerEntry
    {
        QTimer *timer = nullptr;
        qint64 activeAt = 0; // NowMs() of the last request since the timer was started; 0 for none
    };
    // Session ID -> its timer. The timers live in the timer thread; only their identity is
    // used here.
    QHash<QByteArray, TimerEntry> m_oTimers;
    // Sessions whose timer the timer thread is still making. A session removed in that gap
    // leaves this set, and its timer is let go unfired when it arrives.
    QSet<QByteArray> m_oPendingTimers;
    int m_oDefaultInterval = 0;
    // Owned here rather than deleting itself when finished, so shutdown can wait for it.
    OwnedThread m_poTimerThread;
    // Lives in the timer thread, which deletes it (and any timer left) when it finishes.
    CTask *m_poTask = nullptr;

    // The timeout mutex: guards the table and the pending set.
    static inline QMutex s_oMutex;
    // Lives in the main thread; created by whichever thread asks first, destroyed at exit.
    static ProcessInstance<CTimeout> &processInstance();
};
