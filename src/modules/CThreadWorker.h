#pragma once

#include "ModuleHold.h"
#include "common/SharedTypes.h"
#include "common/UploadedFile.h"

#include <QByteArray>
#include <QObject>
#include <QThread>
#include <atomic>
#include <utility>

class DllModule;

// Runs one module command function in the thread it was moved to: a thread of its own for
// an ordinary command, the main thread for a command that shows windows. The launcher's job
// table owns the worker; FinishJob lets it go. The worker holds the job's module from the
// job's acceptance (and the request's uploads) until the job is let go (its result stored or the job ended),
// and on to the function's return when the job is ended during the call.
class CThreadWorker : public QObject
{
    Q_OBJECT
public:
    // The worker and the thread it now lives in: destinationThread, or a new thread when null.
    static std::pair<CThreadWorker *, QThread *> createWorker(QThread *destinationThread, ModuleHold module,
                                                              UploadedFiles uploads = {});

    // Ends the worker's part in its job: a call not yet begun never begins, and the worker is
    // deleted through its thread's event loop once no call runs (a GUI job ended from inside
    // its own dialog's event loop must not be freed before its function returns).
    void Release();

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
    void LeaveCall();

    // Written by the worker's thread around a call and by whichever thread ends the job.
    std::atomic<State> m_eState{State::Waiting};
    // Set before the worker reaches its thread; dropped by the thread that ends the job, or by
    // the worker's thread when the job was ended during the call (m_eState says which).
    ModuleHold m_oModule;
    // The files the request uploaded, whose paths the function reads: kept and let go with m_oModule.
    UploadedFiles m_oUploads;
};
