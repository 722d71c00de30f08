#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

class CSslConnectionHandler;
class OtherAccountsShare;
class HttpRequestHandler;
class QSettings;
class QThread;

// Lends free connection handlers, creates new ones up to maxThreads and retires one idle
// handler per clean-up tick down to minThreads. Lives on the listener thread.
class CSslConnectionHandlerPool : public QObject
{
    Q_OBJECT
public:
    CSslConnectionHandlerPool(QSettings *settings, HttpRequestHandler *requestHandler);
    ~CSslConnectionHandlerPool() override;

    // A handler already marked busy, or null when the pool is exhausted.
    CSslConnectionHandler *getConnectionHandler();
    OtherAccountsShare &otherAccounts() { return *m_poOtherAccounts; }

private Q_SLOTS:
    void cleanup();

private:
    static void retireAndWait(CSslConnectionHandler *handler);
    static void waitAndDelete(QThread *thread);

    QSettings *m_poSettings;                // not owned
    HttpRequestHandler *m_poRequestHandler; // not owned
    // Shared with every handler, which may outlive the pool when stuck at shutdown.
    std::shared_ptr<OtherAccountsShare> m_poOtherAccounts;
    QList<CSslConnectionHandler *> m_oPool; // guarded by m_oMutex; handlers live on their own threads
    // Threads of handlers retired by cleanup; each deletes itself once finished, unless the
    // pool ends first (then the event loop that would delete it is gone). Main thread only.
    QList<QPointer<QThread>> m_oRetiredThreads;
    QTimer m_oCleanupTimer;
    QMutex m_oMutex;
};
