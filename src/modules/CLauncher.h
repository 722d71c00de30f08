#pragma once

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
#include <utility>

class CThreadWorker;
class DllManager;
class DllModule;
class QThread;

// Runs module commands as jobs: each on a worker thread of its own, or on the main thread
// when it shows windows (one such job at a time in the process), answering the client at
// once and keeping each result until it is collected once.
//
// Threads: handler threads call ProcessCommand, GetResult and IsUnprivilegedJob; the
// session-timeout teardown (main thread) calls RemoveAllForSession; SetResult runs on the
// launcher's own thread, which the constructor starts and which lives as long as the
// launcher. Lock order: launcher mutex, then the module manager's, then the modules'.
// A job's worker holds the job's module (ModuleHold) from acceptance until its result is
// stored, so neither a closed session nor a timeout unloads the module under the job.
//
// Ending a job waits for its worker thread without a time limit, after the launcher mutex
// is released: a module function that never returns blocks the thread that ends its job
// (the main thread in a session teardown, the launcher's thread for a delivered result,
// the thread that destroys the launcher at exit), but never the other job operations.
class CLauncher : public QObject
{
    Q_OBJECT
public:
    using ManagerSource = std::function<DllManager *()>;

    // The process's launcher, created and given its thread on first use.
    static CLauncher *GetInstance();
    // For process exit, on the main thread once the event loop has returned and the session
    // timeouts are shut down: ends every job (waiting for its function), stops the
    // launcher's thread and destroys the launcher. GetInstance afterwards creates a new one.
    static void ShutdownInstance();

    // managerSource: the module manager to resolve commands through (the process's by default).
    explicit CLauncher(ManagerSource managerSource = {});
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
    // Ends the session's jobs (returns once their functions have returned; a GUI job's windows
    // are closed), then drops its results and its unprivileged jobs.
    bool RemoveAllForSession(const QByteArray &v_oSessionId);

Q_SIGNALS:
    void FunctionReadyToCall(tpfun v_poFunction, const QByteArray &v_oSessionId, const QByteArray &v_oCmdId,
                             const tRequestMap &v_oRequest, const tSessionParamsMap &v_oSessionParams,
                             DllModule *v_poDllModule);

public Q_SLOTS:
    void SetResult(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId,
                   const tResultType &v_oResult);

private:
    using tJob = std::pair<CThreadWorker *, QThread *>;
    using tJobMap = QMap<QByteArray, tJob>;
    using tResultMap = QMap<QByteArray, tResultType>;

    // Everything below runs with the launcher mutex held.
    void StartJob(const RequestFields &fields, tpfun function, ModuleHold module, QThread *destination);
    void StoreResult(const QByteArray &sessionId, const QByteArray &commandId, const tResultType &result,
                     CThreadWorker *sender);
    std::optional<tJob> FindJob(const QByteArray &sessionId, const QByteArray &commandId) const;

    bool AddToProcessedJobs(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId,
                            CThreadWorker *v_poWorker, QThread *v_poThread);
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
    bool FinishJob(CThreadWorker *v_poWorker, QThread *v_poThread);
    bool IsResultReady(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId) const;
    bool IsJobProcessed(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId) const;
    QList<QThread *> TakeThreadsToJoin();

    // Without the launcher mutex.
    static void JoinThreads(const QList<QThread *> &threads);
    void ClearAll();

    ManagerSource m_oManagerSource;
    bool m_bGuisBusy = false;
    // Session ID -> command ID -> (worker, thread). Workers live in their job's thread;
    // the QThread objects of non-GUI jobs live in the launcher's thread.
    QMap<QByteArray, std::shared_ptr<tJobMap>> m_oProcessedJobs;
    QMap<QByteArray, std::shared_ptr<tResultMap>> m_oResults;
    QMultiMap<QByteArray, QByteArray> m_oUnprivilegedJobs;
    // Session ID -> command ID -> module name, for the origin check of GET_RESULT.
    QMap<QByteArray, QMap<QByteArray, QByteArray>> m_oJobModules;
    // Worker threads told to quit, waited for by the entry point once the mutex is released.
    QList<QThread *> m_oThreadsToJoin;
    // Created in the constructor's thread; the launcher lives in it and runs SetResult there.
    OwnedThread m_poOwnThread;

    // The launcher mutex: class-wide, not recursive; taken once per entry point.
    static inline QMutex s_oMutex;
    // Lives in its own thread; created by whichever thread asks first, destroyed at exit.
    static ProcessInstance<CLauncher> &processInstance();
};
