#include "CLauncher.h"

#include "CThreadWorker.h"
#include "DllManager.h"
#include "DllModule.h"
#include "SlotGuard.h"
#include "logging/LogStatement.h"
#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <utility>

namespace {

// How long exit waits for module functions still running before it leaves them be.
constexpr std::chrono::seconds kExitGrace(3);

const QByteArray kTooManyJobs =
    "The VYR server is busy with too many commands of this session. Try again later.";
const QByteArray kTooManyResults =
    "The VYR server holds too many uncollected results. Collect them or try again later.";

qsizetype sizeOf(const auto &table)
{
    return table ? table->size() : 0;
}

// Walks a session's command IDs in the table's order, stopping at the first failed removal.
template <typename Remove> bool removeEach(const QList<QByteArray> &commandIds, Remove &&remove)
{
    bool bRes = true;
    for (const QByteArray &commandId : commandIds) {
        if (!bRes)
            break;
        bRes = remove(commandId);
    }
    return bRes;
}

} // namespace

ProcessInstance<CLauncher> &CLauncher::processInstance()
{
    static ProcessInstance<CLauncher> instance([] {
        auto launcher =
            std::make_unique<CLauncher>(ManagerSource(), JobLimits::FromSettings(*CSettings::instance()));
        VYR_LOG_SERVER(Info) << "GUI module created";
        return launcher;
    });
    return instance;
}

CLauncher *CLauncher::GetInstance()
{
    return processInstance().get();
}

bool CLauncher::ShutdownInstance()
{
    processInstance().end();
    return JobPool::LiveThreads() == 0;
}

CLauncher::CLauncher(ManagerSource managerSource, const JobLimits &limits)
    : m_oManagerSource(managerSource ? std::move(managerSource) : ManagerSource(&DllManager::instance)),
      m_oLimits(limits), m_oPool(limits.workerThreads, limits.maxAbandonedThreads), m_poOwnThread(new QThread)
{
    // SetResult needs an event loop for the life of the launcher, whichever thread asks first.
    m_poOwnThread->setObjectName(QStringLiteral("VyrLauncher"));
    m_poOwnThread->start();
    moveToThread(m_poOwnThread.get());
}

CLauncher::~CLauncher()
{
    ClearAll();
    if (!m_oPool.Stop(kExitGrace))
        VYR_LOG_SERVER(Warning) << "Module functions still run on " << JobPool::LiveThreads()
                                << " job threads; they are left to them";
    m_poOwnThread.reset();
}

void CLauncher::ClearAll()
{
    const QMutexLocker locker(&s_oMutex);
    ClearAllResults();
    ClearProcessedJobs();
    ClearUnprivilegedJobs();
    m_oJobModules.clear();
}

ResultData CLauncher::ProcessCommand(const RequestFields &v_oFields)
{
    // Fetched before the launcher mutex: the manager's accessor takes the settings mutex,
    // which comes first in the lock order.
    DllManager *manager = m_oManagerSource();
    const QMutexLocker locker(&s_oMutex);
    // Held from here: a session closed meanwhile cannot take the module from under the job.
    ModuleHold module = manager ? manager->holdModule(v_oFields.libraryName) : ModuleHold();
    const tpfun function = module ? module->getFunction(QString::fromUtf8(v_oFields.command)) : nullptr;
    if (!function) {
        VYR_LOG_SERVER(Error) << "Problem with DllManager or DllModule";
        return {404, "Not Found", "The URL you requested was not found."};
    }
    if (std::optional<ResultData> refused = RefusedByCaps(v_oFields.sessionId))
        return *refused;
    const bool gui = module->isGuiFunction(function);
    if (gui) {
        if (m_bGuisBusy)
            return {503, "Service Unavailable",
                    "The VYR server is busy performing another gui request. Try again later."};
        m_bGuisBusy = true;
        VYR_LOG_SERVER(Debug) << "Started GUI function. Flag bGuisBusy set";
    }
    StartJob(v_oFields, function, std::move(module), gui);
    return {202, "Accepted"};
}

std::optional<ResultData> CLauncher::RefusedByCaps(const QByteArray &sessionId) const
{
    const qsizetype jobs = sizeOf(m_oProcessedJobs.value(sessionId));
    const qsizetype unread = jobs + sizeOf(m_oResults.value(sessionId));
    // Every running job becomes a result, so it counts as one already.
    const struct
    {
        qsizetype count;
        int cap;
        const char *what;
        const QByteArray &text;
    } caps[] = {
        {jobs, m_oLimits.maxJobsPerSession, "commands running or waiting", kTooManyJobs},
        {unread, m_oLimits.maxResultsPerSession, "results uncollected or coming", kTooManyResults},
        {m_iJobCount + m_iResultCount, m_oLimits.maxResults, "results of all sessions", kTooManyResults}};
    for (const auto &cap : caps) {
        if (cap.count >= cap.cap) {
            VYR_LOG_SERVER(Warning) << "Command refused for sessionId <" << sessionId << ">: " << cap.count
                                    << " " << cap.what << ", at most " << cap.cap;
            return ResultData{503, "Service Unavailable", cap.text};
        }
    }
    return std::nullopt;
}

void CLauncher::StartJob(const RequestFields &fields, tpfun function, ModuleHold module, bool gui)
{
    DllModule *const called = module.get();
    const std::shared_ptr<CThreadWorker> worker =
        CThreadWorker::createWorker(gui, std::move(module), fields.uploads);
    const tJob job{worker, ++m_iLastTicket, !gui || !QCoreApplication::instance()};
    connect(worker.get(), &CThreadWorker::ResultReady, this,
            [this, ticket = job.ticket](const QByteArray &sessionId, const QByteArray &commandId,
                                        const tResultType &result) {
                SetResult(ticket, sessionId, commandId, result);
            });
    // The task shares the worker, so a job ended before its call came through is still whole.
    JobPool::Task call = [worker, function, called, sessionId = fields.sessionId,
                          commandId = fields.commandId, request = fields.requestMap,
                          params = fields.sessionParams] {
        worker->CallFunction(function, sessionId, commandId, request, params, called);
    };
    if (job.pooled)
        m_oPool.Post(job.ticket, std::move(call));
    else
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
    AddToProcessedJobs(fields.sessionId, fields.commandId, job);
    m_oJobModules[fields.sessionId].insert(fields.commandId, fields.libraryName);
    if (fields.unprivileged)
        AddToUnprivilegedJobs(fields.sessionId, fields.commandId);
}

ResultData CLauncher::GetResult(const RequestFields &v_oFields)
{
    const QByteArray &sessionId = v_oFields.sessionId;
    const QByteArray &commandId = v_oFields.commandId;
    const QMutexLocker locker(&s_oMutex);
    const bool bIsResultReady = IsResultReady(sessionId, commandId);
    VYR_LOG_SERVER(Debug) << "bIsResultReady: " << bIsResultReady;
    if (bIsResultReady) {
        const tResultType oResult = m_oResults.value(sessionId)->value(commandId);
        RemoveFromResults(sessionId, commandId);
        RemoveFromUnprivilegedJobs(sessionId, commandId);
        if (auto modules = m_oJobModules.find(sessionId); modules != m_oJobModules.end()) {
            modules->remove(commandId);
            if (modules->isEmpty())
                m_oJobModules.erase(modules);
        }
        return {200, "OK", oResult};
    }
    const bool bIsJobProcessed = IsJobProcessed(sessionId, commandId);
    VYR_LOG_SERVER(Debug) << "bIsJobProcessed: " << bIsJobProcessed;
    if (bIsJobProcessed)
        return {202, "Accepted"};
    return {419, "No Result", "There is no result for given parameters."};
}

bool CLauncher::IsUnprivilegedJob(const QByteArray &v_oSessionId, const QByteArray &v_oCmdId)
{
    const QMutexLocker locker(&s_oMutex);
    return m_oUnprivilegedJobs.contains(v_oSessionId, v_oCmdId);
}

QByteArray CLauncher::ModuleOfJob(const QByteArray &v_oSessionId, const QByteArray &v_oCmdId)
{
    const QMutexLocker locker(&s_oMutex);
    return m_oJobModules.value(v_oSessionId).value(v_oCmdId);
}

bool CLauncher::RemoveAllForSession(const QByteArray &v_oSessionId)
{
    const QMutexLocker locker(&s_oMutex);
    const bool bRes = RemoveAllJobsForSession(v_oSessionId) && RemoveAllResultsForSession(v_oSessionId) &&
                      RemoveAllUnprivilegedJobsForSession(v_oSessionId);
    m_oJobModules.remove(v_oSessionId);
    return bRes;
}

void CLauncher::SetResult(JobPool::Key v_iTicket, const QByteArray &v_oSessionId,
                          const QByteArray &v_oCommandId, const tResultType &v_oResult)
{
    runGuarded("CLauncher", "SetResult", [&] {
        const QMutexLocker locker(&s_oMutex);
        StoreResult(v_oSessionId, v_oCommandId, v_oResult, v_iTicket);
    });
}

void CLauncher::StoreResult(const QByteArray &sessionId, const QByteArray &commandId,
                            const tResultType &result, JobPool::Key ticket)
{
    const std::optional<tJob> job = FindJob(sessionId, commandId);
    if (!job || job->ticket != ticket) {
        // A result posted just before its job was ended, or one from a second job started
        // under a command ID still in use: not the pair's job, so not its result.
        VYR_LOG_SERVER(Warning) << "No running job for sessionId <" << sessionId << "> and commandId <"
                                << commandId << "> sent this result; dropped";
        return;
    }
    AddToResults(sessionId, commandId, result);
    RemoveFromProcessedJobs(sessionId, commandId);
}

std::optional<CLauncher::tJob> CLauncher::FindJob(const QByteArray &sessionId,
                                                  const QByteArray &commandId) const
{
    const std::shared_ptr<tJobMap> jobs = m_oProcessedJobs.value(sessionId);
    if (!jobs || !jobs->contains(commandId))
        return std::nullopt;
    return jobs->value(commandId);
}

bool CLauncher::AddToProcessedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId,
                                   const tJob &v_oJob)
{
    VYR_LOG_SERVER(Debug) << "v_oSessionId=" << v_oSessionId << " v_oCommandId=" << v_oCommandId;
    if (const std::optional<tJob> old = FindJob(v_oSessionId, v_oCommandId)) {
        VYR_LOG_SERVER(Error) << "Result for session " << v_oSessionId << " and cmdId " << v_oCommandId
                              << " already set.\nPrevious value pointers: worker -> "
                              << static_cast<const void *>(old->worker.get()) << "; job -> " << old->ticket
                              << "\nNew value pointers: worker -> "
                              << static_cast<const void *>(v_oJob.worker.get()) << "; job -> "
                              << v_oJob.ticket;
        return false;
    }
    std::shared_ptr<tJobMap> &jobs = m_oProcessedJobs[v_oSessionId];
    if (!jobs)
        jobs = std::make_shared<tJobMap>();
    jobs->insert(v_oCommandId, v_oJob);
    ++m_iJobCount;
    VYR_LOG_SERVER(Debug) << "job added for sessionId <" << v_oSessionId << "> and commandId <"
                          << v_oCommandId << ">";
    return true;
}

bool CLauncher::RemoveFromProcessedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId)
{
    VYR_LOG_SERVER(Debug) << "v_oSessionId=" << v_oSessionId << " v_oCommandId=" << v_oCommandId;
    const std::optional<tJob> job = FindJob(v_oSessionId, v_oCommandId);
    if (!job)
        return true;
    if (!FinishJob(*job)) {
        VYR_LOG_SERVER(Error) << "Can't end job. sessionid=" << v_oSessionId << ", cmdId=" << v_oCommandId;
        return false;
    }
    VYR_LOG_SERVER(Debug) << "Job ended. sessionid=" << v_oSessionId << ", cmdId=" << v_oCommandId;
    const std::shared_ptr<tJobMap> jobs = m_oProcessedJobs.value(v_oSessionId);
    jobs->remove(v_oCommandId);
    --m_iJobCount;
    if (jobs->isEmpty())
        m_oProcessedJobs.remove(v_oSessionId);
    return true;
}

bool CLauncher::RemoveAllJobsForSession(const QByteArray &v_oSessionId)
{
    const std::shared_ptr<tJobMap> jobs = m_oProcessedJobs.value(v_oSessionId);
    const bool bRes = removeEach(jobs ? jobs->keys() : QList<QByteArray>(), [&](const QByteArray &commandId) {
        return RemoveFromProcessedJobs(v_oSessionId, commandId);
    });
    VYR_LOG_SERVER(Debug) << "Clear all jobs for sessionId <" << v_oSessionId << "> bRes=" << bRes;
    return bRes;
}

void CLauncher::ClearProcessedJobs()
{
    for (auto session = m_oProcessedJobs.cbegin(); session != m_oProcessedJobs.cend(); ++session) {
        for (auto job = session.value()->cbegin(); job != session.value()->cend(); ++job) {
            if (FinishJob(job.value()))
                VYR_LOG_SERVER(Debug) << "Job ended. sessionid=" << session.key() << ", cmdId=" << job.key();
            else
                VYR_LOG_SERVER(Error)
                    << "Can't end job. sessionid=" << session.key() << ", cmdId=" << job.key();
        }
    }
    m_oProcessedJobs.clear();
    m_iJobCount = 0;
    VYR_LOG_SERVER(Debug) << "Cleared all processed jobs for all sessions";
}

bool CLauncher::AddToResults(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId,
                             const tResultType &v_oResult)
{
    std::shared_ptr<tResultMap> &results = m_oResults[v_oSessionId];
    if (!results)
        results = std::make_shared<tResultMap>();
    if (results->contains(v_oCommandId)) {
        VYR_LOG_SERVER(Error) << "Result for session " << v_oSessionId << " and cmdId " << v_oCommandId
                              << " already set\nPrevious value: " << results->value(v_oCommandId)
                              << "\nNew value: " << v_oResult;
        return false;
    }
    results->insert(v_oCommandId, v_oResult);
    ++m_iResultCount;
    VYR_LOG_SERVER(Debug) << "Result for sessionId <" << v_oSessionId << "> and commandId <" << v_oCommandId
                          << "> saved";
    return true;
}

bool CLauncher::RemoveFromResults(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId)
{
    VYR_LOG_SERVER(Debug) << "v_oSessionId=" << v_oSessionId << " v_oCommandId=" << v_oCommandId;
    const std::shared_ptr<tResultMap> results = m_oResults.value(v_oSessionId);
    if (!results || !results->contains(v_oCommandId))
        return true;
    if (results->remove(v_oCommandId) == 0)
        return false;
    --m_iResultCount;
    if (results->isEmpty())
        m_oResults.remove(v_oSessionId);
    VYR_LOG_SERVER(Debug) << "Result for sessionId <" << v_oSessionId << "> and commandId <" << v_oCommandId
                          << "> removed";
    return true;
}

bool CLauncher::RemoveAllResultsForSession(const QByteArray &v_oSessionId)
{
    const std::shared_ptr<tResultMap> results = m_oResults.value(v_oSessionId);
    const bool bRes =
        removeEach(results ? results->keys() : QList<QByteArray>(),
                   [&](const QByteArray &commandId) { return RemoveFromResults(v_oSessionId, commandId); });
    VYR_LOG_SERVER(Debug) << "Clear all results for sessionId <" << v_oSessionId << "> bRes=" << bRes;
    return bRes;
}

void CLauncher::ClearAllResults()
{
    m_oResults.clear();
    m_iResultCount = 0;
    VYR_LOG_SERVER(Debug) << "Cleared all results for all sessions";
}

bool CLauncher::AddToUnprivilegedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId)
{
    if (m_oUnprivilegedJobs.contains(v_oSessionId, v_oCommandId))
        return false;
    m_oUnprivilegedJobs.insert(v_oSessionId, v_oCommandId);
    VYR_LOG_SERVER(Debug) << "sessionId <" << v_oSessionId << "> with commandId <" << v_oCommandId
                          << "> added to unprivileged jobs";
    return true;
}

bool CLauncher::RemoveFromUnprivilegedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId)
{
    if (m_oUnprivilegedJobs.remove(v_oSessionId, v_oCommandId) == 0)
        return false;
    VYR_LOG_SERVER(Debug) << "sessionId <" << v_oSessionId << "> with commandId <" << v_oCommandId
                          << "> removed from unprivileged jobs";
    return true;
}

bool CLauncher::RemoveAllUnprivilegedJobsForSession(const QByteArray &v_oSessionId)
{
    const bool bRes = removeEach(m_oUnprivilegedJobs.values(v_oSessionId), [&](const QByteArray &commandId) {
        return RemoveFromUnprivilegedJobs(v_oSessionId, commandId);
    });
    VYR_LOG_SERVER(Debug) << "Clear unprivileged jobs for sessionId <" << v_oSessionId << "> bRes=" << bRes;
    return bRes;
}

void CLauncher::ClearUnprivilegedJobs()
{
    for (const QByteArray &sessionId : m_oUnprivilegedJobs.uniqueKeys())
        RemoveAllUnprivilegedJobsForSession(sessionId);
    m_oUnprivilegedJobs.clear();
    VYR_LOG_SERVER(Debug) << "Cleared all unprivileged jobs for all sessions";
}

bool CLauncher::FinishJob(const tJob &v_oJob)
{
    CThreadWorker *worker = v_oJob.worker.get();
    if (!worker || !worker->disconnect())
        return false;
    if (!worker->CancelOperation())
        return false;
    const bool bStillCalling = worker->Release();
    if (v_oJob.pooled) {
        // Never waits: a function still running keeps its thread, which the pool replaces.
        if (bStillCalling)
            m_oPool.Abandon(v_oJob.ticket);
        else
            m_oPool.Forget(v_oJob.ticket);
    }
    if (!worker->IsOnMainThread())
        return true;
    m_bGuisBusy = false;
    VYR_LOG_SERVER(Debug) << "Finished GUI function. Flag bGuisBusy removed";
    return true;
}

bool CLauncher::IsResultReady(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId) const
{
    const std::shared_ptr<tResultMap> results = m_oResults.value(v_oSessionId);
    return results && results->contains(v_oCommandId);
}

bool CLauncher::IsJobProcessed(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId) const
{
    return FindJob(v_oSessionId, v_oCommandId).has_value();
}
