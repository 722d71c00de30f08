#include "CTimeout.h"

#include "CTask.h"
#include "http/HttpSession.h"
#include "http/HttpSessionStore.h"
#include "logging/LogStatement.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/SlotGuard.h"
#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

CTimeout::Services CTimeout::ProcessServices()
{
    return {&CLauncher::GetInstance, &DllManager::instance, &HttpSessionStore::published};
}

ProcessInstance<CTimeout> &CTimeout::processInstance()
{
    static ProcessInstance<CTimeout> instance([] {
        auto timeouts = std::make_unique<CTimeout>(CSettings::instance()->ReadTimeoutInterval());
        if (QCoreApplication::instance())
            timeouts->moveToThread(QCoreApplication::instance()->thread());
        return timeouts;
    });
    return instance;
}

CTimeout *CTimeout::instance()
{
    return processInstance().get();
}

void CTimeout::ShutdownInstance()
{
    processInstance().end();
}

CTimeout::CTimeout(std::optional<int> interval, Services services, QObject *parent)
    : QObject(parent), m_oServices(std::move(services))
{
    qRegisterMetaType<QTimer *>(); // travels in the queued calls between the two threads
    if (!interval) {
        VYR_LOG_SERVER(Error) << "Problem with Settings module.";
        return;
    }
    m_oDefaultInterval = *interval;
    VYR_LOG_SERVER(Debug) << "m_oDefaultInterval=" << m_oDefaultInterval;
    StartTimerThread();
    VYR_LOG_SERVER(Debug) << "Manager created.";
}

void CTimeout::StartTimerThread()
{
    // Owned by the timer thread from here on: deleted there when the thread finishes.
    m_poTask = new CTask;
    m_poTask->SetDefaultInterval(m_oDefaultInterval);
    m_poTimerThread.reset(new QThread);
    m_poTimerThread->setObjectName(QStringLiteral("VyrSessionTimers"));
    m_poTimerThread->start(QThread::InheritPriority);
    m_poTask->moveToThread(m_poTimerThread.get());
    connect(m_poTimerThread.get(), &QThread::finished, m_poTask, &QObject::deleteLater);
    connect(this, &CTimeout::AddTimerCalled, m_poTask, &CTask::CreateTimer);
    connect(m_poTask, &CTask::TimerCreated, this, &CTimeout::InsertTimerToMap);
    connect(this, &CTimeout::RestartTimerCalled, m_poTask, &CTask::RestartTimer);
    connect(this, &CTimeout::DeleteRemovedTimer, m_poTask, &CTask::DeleteTimerLater);
}

CTimeout::~CTimeout()
{
    QList<QByteArray> sessionIds;
    {
        const QMutexLocker locker(&s_oMutex);
        sessionIds = m_oTimers.keys();
    }
    for (const QByteArray &sessionId : sessionIds)
        RemoveTimer(sessionId);
    // Stops the timer thread; the task and any timer not yet deleted go with it.
    m_poTimerThread.reset();
    VYR_LOG_SERVER(Debug) << "Manager destroyed.";
}

void CTimeout::AddNewTimer(const QByteArray &v_oSessionID)
{
    const QMutexLocker locker(&s_oMutex);
    m_oPendingTimers.insert(v_oSessionID);
    Q_EMIT AddTimerCalled(v_oSessionID);
    VYR_LOG_SERVER(Debug) << "New timer created and started. sessionID=" << v_oSessionID;
}

void CTimeout::InsertTimerToMap(const QByteArray &v_oSessionID, QTimer *v_poTimer)
{
    if (!v_poTimer)
        return;
    runGuarded("CTimeout", "InsertTimerToMap", [&] {
        const QMutexLocker locker(&s_oMutex);
        if (!m_oPendingTimers.remove(v_oSessionID)) {
            Q_EMIT DeleteRemovedTimer(v_poTimer); // the session ended while this was made
            return;
        }
        connect(v_poTimer, &QTimer::timeout, this, &CTimeout::ExecuteTimeout);
        QTimer *replaced = m_oTimers.value(v_oSessionID);
        m_oTimers.insert(v_oSessionID, v_poTimer);
        if (replaced && replaced != v_poTimer) {
            // A session given a second timer keeps one: the older is let go unfired.
            disconnect(replaced, &QTimer::timeout, this, &CTimeout::ExecuteTimeout);
            Q_EMIT DeleteRemovedTimer(replaced);
        }
    });
}

void CTimeout::RestartTimer(const QByteArray &v_oSessionID)
{
    const QMutexLocker locker(&s_oMutex);
    QTimer *timer = m_oTimers.value(v_oSessionID);
    if (!timer && m_oPendingTimers.contains(v_oSessionID))
        return; // its timer is being made and starts with the full interval
    if (!timer) {
        VYR_LOG_SERVER(Warning) << "Timer for sessionID <" << v_oSessionID << "> not exist!";
        return;
    }
    Q_EMIT RestartTimerCalled(timer);
    VYR_LOG_SERVER(Debug) << "Timer restarted. sessionID=" << v_oSessionID;
}

void CTimeout::RemoveTimer(const QByteArray &v_oSessionID)
{
    const QMutexLocker locker(&s_oMutex);
    QTimer *timer = m_oTimers.take(v_oSessionID);
    const bool wasPending = m_oPendingTimers.remove(v_oSessionID);
    if (!timer && wasPending)
        return;
    if (!timer) {
        VYR_LOG_SERVER(Warning) << "Timer for sessionID <" << v_oSessionID << "> not exist!";
        return;
    }
    VYR_LOG_SERVER(Debug) << "Timer removed. sessionID=" << v_oSessionID;
    // A timeout already queued from this timer then finds no sender and tears nothing down.
    disconnect(timer, &QTimer::timeout, this, &CTimeout::ExecuteTimeout);
    Q_EMIT DeleteRemovedTimer(timer);
}

bool CTimeout::HasTimer(const QByteArray &v_oSessionID) const
{
    const QMutexLocker locker(&s_oMutex);
    return m_oTimers.contains(v_oSessionID);
}

void CTimeout::ExecuteTimeout()
{
    runGuarded("CTimeout", "ExecuteTimeout", [&] {
        // Only the sender's identity is used: the timer belongs to the timer thread.
        const QObject *timer = sender();
        if (!timer) {
            VYR_LOG_SERVER(Warning) << "Timer passed is NULL!";
            return;
        }
        const QByteArray sessionId = SessionOfTimer(timer);
        VYR_LOG_SERVER(Info) << "Timeout occured. sessionID=" << sessionId;
        TearDownSession(sessionId);
    });
}

QByteArray CTimeout::SessionOfTimer(const QObject *timer) const
{
    const QMutexLocker locker(&s_oMutex);
    for (auto entry = m_oTimers.cbegin(); entry != m_oTimers.cend(); ++entry) {
        if (entry.value() == timer)
            return entry.key();
    }
    return {};
}

void CTimeout::TearDownSession(const QByteArray &sessionId)
{
    HttpSessionStore *store = m_oServices.sessionStore ? m_oServices.sessionStore() : nullptr;
    const HttpSession session = store ? store->getSession(sessionId) : HttpSession();
    if (session.isNull())
        VYR_LOG_SERVER(Warning) << "Session is null!";
    // Returns at once: a job whose function still runs is left to it, its result dropped.
    CLauncher *launcher = m_oServices.launcher ? m_oServices.launcher() : nullptr;
    const bool bCancelled = launcher && launcher->RemoveAllForSession(sessionId);
    VYR_LOG_SERVER(Info) << "Operation cancelled: " << bCancelled;
    if (store && !session.isNull())
        store->removeSession(session);
    VYR_LOG_SERVER(Info) << "session destroyed. sessionID=" << sessionId;
    RemoveTimer(sessionId);
    if (DllManager *manager = m_oServices.manager ? m_oServices.manager() : nullptr)
        manager->unloadAllModulesForSession(sessionId);
}
