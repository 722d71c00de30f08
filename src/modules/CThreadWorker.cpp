#include "CThreadWorker.h"

#include "DllModule.h"
#include "SlotGuard.h"
#include "logging/LogStatement.h"

#include <QApplication>
#include <QCoreApplication>
#include <exception>
#include <optional>

namespace {

QApplication *guiApplication()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance());
}

} // namespace

std::shared_ptr<CThreadWorker> CThreadWorker::createWorker(bool onMainThread, ModuleHold module,
                                                           UploadedFiles uploads)
{
    VYR_LOG_SERVER(Debug) << "bOnMainThread=" << onMainThread;
    std::shared_ptr<CThreadWorker> worker(new CThreadWorker);
    worker->m_bOnMainThread = onMainThread;
    worker->m_oModule = std::move(module);
    worker->m_oUploads = std::move(uploads);
    // No thread's events reach it, so whichever thread lets go last may delete it.
    worker->moveToThread(nullptr);
    VYR_LOG_SERVER(Debug) << "Created new worker <" << static_cast<const void *>(worker.get()) << ">";
    return worker;
}

void CThreadWorker::CallFunction(tpfun v_poFunction, const QByteArray &v_oSessionId,
                                 const QByteArray &v_oCmdId, const tRequestMap &v_oRequest,
                                 const tSessionParamsMap &v_oSessionParams, DllModule *v_poDllModule)
{
    if (!EnterCall())
        return; // the job was ended before its call came through
    tResultType oResult;
    runGuarded("CThreadWorker", "CallFunction", [&] {
        VYR_LOG_SERVER(Debug) << "Calling function for sessionID <" << v_oSessionId << "> and cmdID <"
                              << v_oCmdId << ">";
        oResult = CallModule(v_poFunction, v_oRequest, v_oSessionParams, v_poDllModule);
        // A result may point into the module's own constants, which go when it is unloaded.
        oResult.detach();
    });
    // Left before the result goes out: a job whose result is on its way is no longer running.
    if (LeaveCall())
        Q_EMIT ResultReady(v_oSessionId, v_oCmdId, oResult);
}

tResultType CThreadWorker::CallModule(tpfun function, const tRequestMap &request,
                                      const tSessionParamsMap &sessionParams, DllModule *module)
{
    // Counted as a call in progress, so the module is not unloaded under the function; no
    // lock is held while the function runs.
    std::optional<DllModule::CallScope> call;
    if (module)
        call.emplace(*module);
    try {
        tResultType oResult = function(request, sessionParams);
        VYR_LOG_SERVER(Debug) << "Result: " << oResult;
        return oResult;
    } catch (const std::exception &exception) {
        return FailedCall(QByteArray(exception.what()), true);
    } catch (const char *text) {
        return FailedCall(QByteArray(text), true);
    } catch (...) {
        return FailedCall("Unknown exception wast threw from dll module!", false);
    }
}

QByteArray CThreadWorker::FailureResult(const QByteArray &text)
{
    return QByteArray::number(500) + '|' + text;
}

tResultType CThreadWorker::FailedCall(const QByteArray &text, bool withException)
{
    tResultType oResult = FailureResult(text);
    LogStatement line(serverLogChannel(), LogLevel::Error, QStringLiteral("CThreadWorker"),
                      QStringLiteral("CallFunction"));
    line << "Dll function call failed. Result: " << oResult;
    if (withException)
        line << " Exception: " << text;
    return oResult;
}

bool CThreadWorker::EnterCall()
{
    State expected = State::Waiting;
    return m_eState.compare_exchange_strong(expected, State::Calling);
}

bool CThreadWorker::LeaveCall()
{
    State expected = State::Calling;
    if (m_eState.compare_exchange_strong(expected, State::Returned))
        return true;
    DropHolds(); // released while the function ran: the holds are this thread's to drop
    return false;
}

void CThreadWorker::DropHolds()
{
    m_oModule.reset();
    m_oUploads.clear();
}

bool CThreadWorker::Release()
{
    State state = m_eState.load();
    while (state != State::Released && state != State::ReleasedDuringCall) {
        const State next = state == State::Calling ? State::ReleasedDuringCall : State::Released;
        if (m_eState.compare_exchange_weak(state, next)) {
            if (next == State::Released)
                DropHolds(); // no call runs, none will begin
            return next == State::ReleasedDuringCall;
        }
    }
    return false;
}

bool CThreadWorker::CancelOperation()
{
    VYR_LOG_SERVER(Debug) << "Cancel all operations on worker <" << static_cast<const void *>(this)
                          << "> bOnMainThread=" << m_bOnMainThread;
    QApplication *application = guiApplication();
    if (!application || !m_bOnMainThread)
        return true;
    // Closing the windows ends a GUI command's dialogs. Posted, so that widgets are touched on
    // the main thread only and no window's close handler runs under the launcher mutex.
    QMetaObject::invokeMethod(
        application, [] { QApplication::closeAllWindows(); }, Qt::QueuedConnection);
    return true;
}
