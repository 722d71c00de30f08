#pragma once

#include <QObject>
#include <QSharedPointer>
#include <memory>

class CRequestMapper;
class CSslListener;
class QSettings;

// Runs on the listener thread: creates the TLS listener there and closes it on request.
class ListenerTask : public QObject
{
    Q_OBJECT
public:
    ListenerTask(QSharedPointer<QSettings> settings, QSharedPointer<CRequestMapper> requestMapper);
    ~ListenerTask() override;

public Q_SLOTS:
    void startListening();
    void stopListening();
    // Destroys the server and everything it owns, on this thread.
    void shutdown();

private:
    QSharedPointer<QSettings> m_poSettings;           // group "listener" entered; read-only
    QSharedPointer<CRequestMapper> m_poRequestMapper; // main-thread object, service() is thread-safe
    std::unique_ptr<CSslListener> m_poServer;         // lives on the listener thread
};
