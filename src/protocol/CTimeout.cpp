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
#include <chrono>

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
        // The session travels with the call: sender() would walk every timer connected here.
        connect(v_poTimer, &QTimer::timeout, this,
                [this, v_oSessionID, v_poTimer] { ExecuteTimeout(v_oSessionID, v_poTimer); });
        QTimer *replaced = m_oTimers.value(v_oSessionID).timer;
        m_oTimers.insert(v_oSessionID, {v_poTimer, 0});
        if (replaced && replaced != v_poTimer) {
            // A session given a second timer keeps one: the older is let go unfired.
            disconnect(replaced, nullptr, this, nullptr);
            Q_EMIT DeleteRemovedTimer(replaced);
        }
    });
}

void CTimeout::RestartTimer(const QByteArray &v_oSessionID)
{
    const QMutexLocker locker(&s_oMutex);
    const auto entry = m_oTimers.find(v_oSessionID);
    if (entry == m_oTimers.end() && m_oPendingTimers.contains(v_oSessionID))
        return; // its timer is being made and starts with the full interval
    if (entry == m_oTimers.end()) {
        VYR_LOG_SERVER(Warning) << "Timer for sessionID <" << v_oSessionID << "> not exist!";
        return;
    }
    entry->activeAt = NowMs();
    VYR_LOG_SERVER(Debug) << "Timer restarted. sessionID=" << v_oSessionID;
}

bool CTimeout::PostponeTimeout(const QByteArray &sessionId)
{
    const QMutexLocker locker(&s_oMutex);
    const auto entry = m_oTimers.find(sessionId);
    if (entry == m_oTimers.end() || entry->activeAt == 0)
        return false;
    const qint64 remaining = entry->activeAt + m_oDefaultInterval - NowMs();
    entry->activeAt = 0; // the timer now runs to the end of that request's interval
    if (remaining <= 0)
        return false;
    Q_EMIT RestartTimerCalled(entry->timer, int(remaining));
    return true;
}

qint64 CTimeout::NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

void CTimeout::RemoveTimer(const QByteArray &v_oSessionID)
{
    const QMutexLocker locker(&s_oMutex);
    QTimer *timer = m_oTimers.take(v_oSessionID).timer;
    const bool wasPending = m_oPendingTimers.remove(v_oSessionID);
    if (!timer && wasPending)
        return;
    if (!timer) {
        VYR_LOG_SERVER(Warning) << "Timer for sessionID <" << v_oSessionID << "> not exist!";
        return;
    }
    VYR_LOG_SERVER(Debug) << "Timer removed. sessionID=" << v_oSessionID;
    // A timeout already queued from this timer then finds it gone and tears nothing down.
    disconnect(timer, nullptr, this, nullptr);
    Q_EMIT DeleteRemovedTimer(timer);
}

bool CTimeout::HasTimer(const QByteArray &v_oSessionID) const
{
    const QMutexLocker locker(&s_oMutex);
    return m_oTimers.contains(v_oSessionID);
}

void CTimeout::ExecuteTimeout(const QByteArray &v_oSessionID, const QTimer *v_poTimer)
{
    runGuarded("CTimeout", "ExecuteTimeout", [&] {
        // Only the timer's identity is used: it belongs to the timer thread.
        if (!IsTimerOf(v_oSessionID, v_poTimer)) {
            VYR_LOG_SERVER(Warning) << "Timer passed is NULL!";
            return;
        }
        if (PostponeTimeout(v_oSessionID))
            return;
        VYR_LOG_SERVER(Info) << "Timeout occured. sessionID=" << v_oSessionID;
        TearDownSession(v_oSessionID);
    });
}

bool CTimeout::IsTimerOf(const QByteArray &sessionId, const QTimer *timer) const
{
    const QMutexLocker locker(&s_oMutex);
    return timer && m_oTimers.value(sessionId).timer == timer;
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
