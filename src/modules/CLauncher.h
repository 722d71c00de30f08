#pragma once

#include "JobLimits.h"
#include "JobPool.h"
#include "ModuleHold.h"
#include "OwnedThread.h"
#include "common/ProcessInstance.h"
#include "common/RequestFields.h"
#include "common/ResultData.h"
#include "common/SharedTypes.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMultiMap>
#include <QMutex>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class CThreadWorker;
class DllManager;

// Runs module commands as jobs: on the threads of a job pool, or on the main thread when it
// shows windows (one such job at a time in the process), answering the client at once and
// keeping each result until it is collected once. A session may have only so many jobs
// running and results uncollected (JobLimits); more are refused with 503.
//
// Threads: handler threads call ProcessCommand, GetResult and IsUnprivilegedJob; the
// session-timeout teardown (main thread) calls RemoveAllForSession; SetResult runs on the
// launcher's own thread, which the constructor starts and which lives as long as the
// launcher. Lock order: launcher mutex, then the module manager's, then the modules'.
// A job's worker holds the job's module (ModuleHold) from acceptance until its result is
// stored, so neither a closed session nor a timeout unloads the module under the job.
//
// Ending a job never waits for its function: a running job's result is dropped when it comes,
// and a job thread held by a function that has not returned is left to it and replaced
// (JobPool::Abandon); the worker's ModuleHold keeps the module loaded until it returns.
class CLauncher : public QObject
{
    Q_OBJECT
public:
    using ManagerSource = std::function<DllManager *()>;

    // The process's launcher, created and given its thread on first use.
    static CLauncher *GetInstance();
    // For process exit, on the main thread once the event loop has returned and the session
    // timeouts are shut down: ends every job, waits a short while for running functions,
    // stops the launcher's thread and destroys the launcher. GetInstance afterwards creates a
    // new one. False when a module function still runs on a job thread: the modules must then
    // stay as they are until the process ends.
    static bool ShutdownInstance();

    // managerSource: the module manager to resolve commands through (null: the process's).
    CLauncher(ManagerSource managerSource, const JobLimits &limits);
    // From any thread but the launcher's own.
    ~CLauncher() override;
    CLauncher(const CLauncher &) = delete;
    CLauncher &operator=(const CLauncher &) = delete;

    ResultData ProcessCommand(const RequestFields &v_oFields);
    ResultData GetResult(const RequestFields &v_oFields);
    bool IsUnprivilegedJob(const QByteArray &v_oSessionId, const QByteArray &v_oCmdId);
    // The module whose command the job runs, until its result is collected or its session
    // ends; empty for an unknown job.
    QByteArray ModuleOfJob(const QByteArray &v_oSessionId, const QByteArray &v_oCmdId);
    // Ends the session's jobs without waiting for their functions (a GUI job's windows are
    // closed), then drops its results and its unprivileged jobs.
    bool RemoveAllForSession(const QByteArray &v_oSessionId);

private:
    // One started job. The ticket tells its result from that of an earlier job under the same
    // IDs and names its task in the pool.
    struct tJob
    {
        std::shared_ptr<CThreadWorker> worker;
        JobPool::Key ticket = 0;
        bool pooled = false;
    };
    using tJobMap = QMap<QByteArray, tJob>;
    using tResultMap = QMap<QByteArray, tResultType>;

    // The launcher's thread: a result of the job with that ticket.
    void SetResult(JobPool::Key v_iTicket, const QByteArray &v_oSessionId, const QByteArray &v_oCommandId,
                   const tResultType &v_oResult);

    // Everything below runs with the launcher mutex held.
    std::optional<ResultData> RefusedByCaps(const QByteArray &sessionId) const;
    void StartJob(const RequestFields &fields, tpfun function, ModuleHold module, bool gui);
    void StoreResult(const QByteArray &sessionId, const QByteArray &commandId, const tResultType &result,
                     JobPool::Key ticket);
    std::optional<tJob> FindJob(const QByteArray &sessionId, const QByteArray &commandId) const;

    bool AddToProcessedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId,
                            const tJob &v_oJob);
    bool RemoveFromProcessedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId);
    bool RemoveAllJobsForSession(const QByteArray &v_oSessionId);
    void ClearProcessedJobs();
    bool AddToResults(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId,
                      const tResultType &v_oResult);
    bool RemoveFromResults(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId);
    bool RemoveAllResultsForSession(const QByteArray &v_oSessionId);
    void ClearAllResults();
    bool AddToUnprivilegedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId);
    bool RemoveFromUnprivilegedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId);
    bool RemoveAllUnprivilegedJobsForSession(const QByteArray &v_oSessionId);
    void ClearUnprivilegedJobs();
    bool FinishJob(const tJob &v_oJob);
    bool IsResultReady(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId) const;
    bool IsJobProcessed(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId) const;

    void ClearAll(); // takes the launcher mutex

    ManagerSource m_oManagerSource;
    const JobLimits m_oLimits;
    bool m_bGuisBusy = false;
    JobPool::Key m_iLastTicket = 0;
    // Entries of m_oProcessedJobs and m_oResults over all sessions.
    qsizetype m_iJobCount = 0;
    qsizetype m_iResultCount = 0;
    // Session ID -> command ID -> job. The workers are shared with the tasks that call them.
    QMap<QByteArray, std::shared_ptr<tJobMap>> m_oProcessedJobs;
    QMap<QByteArray, std::shared_ptr<tResultMap>> m_oResults;
    QMultiMap<QByteArray, QByteArray> m_oUnprivilegedJobs;
    // Session ID -> command ID -> module name, for the origin check of GET_RESULT.
    QMap<QByteArray, QMap<QByteArray, QByteArray>> m_oJobModules;
    // Thread-safe; its threads call the workers, and may outlive it when a function never returns.
    JobPool m_oPool;
    // Created in the constructor's thread; the launcher lives in it and runs SetResult there.
    OwnedThread m_poOwnThread;

    // The launcher mutex: class-wide, not recursive; taken once per entry point.
    static inline QMutex s_oMutex;
    // Lives in its own thread; created by whichever thread asks first, destroyed at exit.
    static ProcessInstance<CLauncher> &processInstance();
};
