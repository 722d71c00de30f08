#pragma once

#include <QObject>
#include <QScopedPointer>
#include <QSharedPointer>

class CRequestMapper;
class ListenerTask;
class QSettings;
class QThread;

// Owns the listener thread and the task that runs the TLS listener on it.
// Lives on the main thread.
class Listener : public QObject
{
    Q_OBJECT
public:
    Listener(QSharedPointer<QSettings> settings, QSharedPointer<CRequestMapper> requestMapper,
             QObject *parent);
    ~Listener() override;

Q_SIGNALS:
    void start();
    void stop();

private:
    QScopedPointer<QThread> m_poThread;
    QScopedPointer<ListenerTask> m_poTask; // lives on m_poThread until it ends
};
