#include "CSslConnectionHandlerPool.h"

#include "CSslConnectionHandler.h"
#include "OtherAccountsShare.h"
#include "logging/LogStatement.h"
#include "settings/CSettings.h"

#include <QThread>

namespace {
constexpr int kShutdownWaitMs = 10000;
}

CSslConnectionHandlerPool::CSslConnectionHandlerPool(QSettings *settings, HttpRequestHandler *requestHandler)
    : m_poSettings(settings), m_poRequestHandler(requestHandler),
      m_poOtherAccounts(std::make_shared<OtherAccountsShare>(
          CSettings::instance()->ReadMaxThreads(), CSettings::instance()->ReadOtherAccountsPoolShare()))
{
    VYR_LOG_SERVER(Info) << "Connections of other accounts may hold " << m_poOtherAccounts->limit()
                         << " connection handlers";
    connect(&m_oCleanupTimer, &QTimer::timeout, this, &CSslConnectionHandlerPool::cleanup);
    m_oCleanupTimer.start(CSettings::instance()->ReadCleanupInterval());
}

CSslConnectionHandlerPool::~CSslConnectionHandlerPool()
{
    const QMutexLocker locker(&m_oMutex);
    for (CSslConnectionHandler *handler : std::as_const(m_oPool))
        retireAndWait(handler);
    m_oPool.clear();
    for (const QPointer<QThread> &thread : std::as_const(m_oRetiredThreads)) {
        if (thread)
            waitAndDelete(thread);
    }
    VYR_LOG_SERVER(Debug) << "destroyed";
}

void CSslConnectionHandlerPool::retireAndWait(CSslConnectionHandler *handler)
{
    QThread *thread = handler->ownThread();
    handler->deleteLater(); // its destructor ends the thread
    waitAndDelete(thread);
}

void CSslConnectionHandlerPool::waitAndDelete(QThread *thread)
{
    QObject::disconnect(thread, &QThread::finished, thread, &QObject::deleteLater);
    // A handler stuck in a module call is left behind rather than blocking shutdown.
    if (thread->wait(kShutdownWaitMs))
        delete thread; // also drops a deleteLater already queued for it
}

CSslConnectionHandler *CSslConnectionHandlerPool::getConnectionHandler()
{
    const QMutexLocker locker(&m_oMutex);
    for (CSslConnectionHandler *handler : std::as_const(m_oPool)) {
        if (!handler->isBusy()) {
            handler->setBusy();
            VYR_LOG_SERVER(Debug) << "found free handle in pool";
            return handler;
        }
    }
    const int maxThreads = CSettings::instance()->ReadMaxThreads();
    VYR_LOG_SERVER(Debug) << "need to create new handle. pool size: " << m_oPool.size()
                          << ", max threads: " << maxThreads;
    if (m_oPool.size() >= maxThreads)
        return nullptr;
    auto *handler = new CSslConnectionHandler(m_poSettings, m_poRequestHandler, m_poOtherAccounts);
    handler->setBusy();
    m_oPool.append(handler);
    return handler;
}

void CSslConnectionHandlerPool::cleanup()
{
    const QMutexLocker locker(&m_oMutex);
    const int minThreads = CSettings::instance()->ReadMinThreads();
    int idleHandlers = 0;
    for (CSslConnectionHandler *handler : std::as_const(m_oPool)) {
        if (handler->isBusy())
            continue;
        if (++idleHandlers > minThreads) {
            m_oPool.removeOne(handler);
            m_oRetiredThreads.removeAll(nullptr);
            m_oRetiredThreads.append(handler->ownThread());
            handler->deleteLater();
            VYR_LOG_SERVER(Debug) << "Removed connection handler, pool size is now: " << m_oPool.size();
            break;
        }
    }
}
