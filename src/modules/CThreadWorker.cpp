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

std::pair<CThreadWorker *, QThread *> CThreadWorker::createWorker(QThread *destinationThread,
                                                                  ModuleHold module, UploadedFiles uploads)
{
    VYR_LOG_SERVER(Debug) << "v_pDestinationThread=" << static_cast<const void *>(destinationThread);
    // Owned by the launcher's job table from here on; FinishJob schedules both for deletion.
    auto *worker = new CThreadWorker;
    worker->m_oModule = std::move(module);
    worker->m_oUploads = std::move(uploads);
    QThread *thread = destinationThread ? destinationThread : new QThread;
    worker->moveToThread(thread);
    VYR_LOG_SERVER(Debug) << "Created new worker <" << static_cast<const void *>(worker) << "> for thread <"
                          << static_cast<const void *>(thread) << ">";
    return {worker, thread};
}

void CThreadWorker::CallFunction(tpfun v_poFunction, const QByteArray &v_oSessionId,
                                 const QByteArray &v_oCmdId, const tRequestMap &v_oRequest,
                                 const tSessionParamsMap &v_oSessionParams, DllModule *v_poDllModule)
{
    if (!EnterCall())
        return; // the job was ended before its call came through
    runGuarded("CThreadWorker", "CallFunction", [&] {
        VYR_LOG_SERVER(Debug) << "Calling function for sessionID <" << v_oSessionId << "> and cmdID <"
                              << v_oCmdId << ">";
        tResultType oResult = CallModule(v_poFunction, v_oRequest, v_oSessionParams, v_poDllModule);
        // A result may point into the module's own constants, which go when it is unloaded.
        oResult.detach();
        Q_EMIT ResultReady(v_oSessionId, v_oCmdId, oResult);
    });
    LeaveCall();
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

void CThreadWorker::LeaveCall()
{
    State expected = State::Calling;
    if (m_eState.compare_exchange_strong(expected, State::Returned))
        return;
    // Released while the function ran: the hold is this thread's to drop.
    m_oModule.reset();
    m_oUploads.clear();
    deleteLater();
}

void CThreadWorker::Release()
{
    State state = m_eState.load();
    while (state != State::Released && state != State::ReleasedDuringCall) {
        const State next = state == State::Calling ? State::ReleasedDuringCall : State::Released;
        if (m_eState.compare_exchange_weak(state, next)) {
            if (next == State::Released) {
                m_oModule.reset(); // no call runs, none will begin
                m_oUploads.clear();
                deleteLater();
            }
            return; // otherwise LeaveCall lets go once the function has returned
        }
    }
}

bool CThreadWorker::CancelOperation()
{
    QThread *oThread = thread();
    VYR_LOG_SERVER(Debug) << "Cancel all operations on worker <" << static_cast<const void *>(this)
                          << "> for thread <" << static_cast<const void *>(oThread) << ">";
    QApplication *application = guiApplication();
    if (!application || oThread != application->thread())
        return true;
    // Closing the windows ends a GUI command's dialogs. Posted, so that widgets are touched on
    // the main thread only and no window's close handler runs under the launcher mutex.
    QMetaObject::invokeMethod(
        application, [] { QApplication::closeAllWindows(); }, Qt::QueuedConnection);
    return true;
}
