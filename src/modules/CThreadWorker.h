#pragma once

#include "ModuleHold.h"
#include "common/SharedTypes.h"
#include "common/UploadedFile.h"

#include <QByteArray>
#include <QObject>
#include <atomic>
#include <memory>

class DllModule;

// Runs one module command function, called directly by the thread that runs the job: a job
// thread of the launcher's pool for an ordinary command, the main thread for a command that
// shows windows. The worker belongs to no thread (it receives no events); it is shared by the
// launcher's job table and the task that calls it, and deleted by whichever lets go last, so a
// GUI job ended from inside its own dialog's event loop is not freed before its function returns.
// It holds the job's module from the job's acceptance (and the request's uploads) until the job
// is let go (its result stored or the job ended), and on to the function's return when the job
// is ended during the call.
class CThreadWorker : public QObject
{
    Q_OBJECT
public:
    // onMainThread: the job shows windows and runs on the main thread.
    static std::shared_ptr<CThreadWorker> createWorker(bool onMainThread, ModuleHold module,
                                                       UploadedFiles uploads = {});

    // Ends the worker's part in its job: a call not yet begun never begins. True when the
    // function is running now (its holds then go when it returns).
    bool Release();
    bool IsOnMainThread() const { return m_bOnMainThread; }

    // The result text of a module function that threw.
    static QByteArray FailureResult(const QByteArray &text);

Q_SIGNALS:
    void ResultReady(const QByteArray &v_oSessionId, const QByteArray &v_oCommandId,
                     const tResultType &v_oResult);

public Q_SLOTS:
    void CallFunction(tpfun v_poFunction, const QByteArray &v_oSessionId, const QByteArray &v_oCmdId,
                      const tRequestMap &v_oRequest, const tSessionParamsMap &v_oSessionParams,
                      DllModule *v_poDllModule);
    bool CancelOperation();

private:
    enum class State
    {
        Waiting,
        Calling,
        Returned,
        ReleasedDuringCall,
        Released
    };

    static tResultType CallModule(tpfun function, const tRequestMap &request,
                                  const tSessionParamsMap &sessionParams, DllModule *module);
    static tResultType FailedCall(const QByteArray &text, bool withException);
    bool EnterCall();
    // False when the job was ended during the call: its result is not wanted.
    bool LeaveCall();
    void DropHolds();

    // Set once, before any thread but the creator's sees the worker.
    bool m_bOnMainThread = false;

    // Written by the thread that makes the call, around it, and by whichever thread ends the job.
    std::atomic<State> m_eState{State::Waiting};
    // Set before the call is posted; dropped by the thread that ends the job, or by the thread
    // that made the call when the job was ended during it (m_eState says which).
    ModuleHold m_oModule;
    // The files the request uploaded, whose paths the function reads: kept and let go with m_oModule.
    UploadedFiles m_oUploads;
};
