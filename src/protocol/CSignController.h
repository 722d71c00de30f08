#pragma once

#include "ControllerContext.h"
#include "common/PeerIdentity.h"
#include "common/RequestFields.h"
#include "common/ResultData.h"
#include "http/HttpRequestHandler.h"
#include "http/HttpSession.h"

#include <QByteArray>

class CLauncher;
class CTimeout;
class DllManager;
class DllModule;

// One POST: takes module, command, session, command ID and callback from the request,
// runs a server command or starts a module job, and writes the reply in JSONP or CORS
// form. Created per request on the connection handler's thread; nothing outlives it, so it
// borrows the context of the handler that made it.
class CSignController : public HttpRequestHandler
{
    Q_OBJECT
public:
    explicit CSignController(const ControllerContext &context, QObject *parent = nullptr);
    void service(HttpRequest &request, HttpResponse &response) override;

    // A built-in command that runs with whatever session the request names; every other
    // command, ARCH_TYPE among them, gets a session opened first when it names none.
    static bool IsServerCommand(const QByteArray &command);
    static void SetSecurityHeaders(HttpResponse &response);

private:
    using Handler = void (CSignController::*)(HttpRequest &, HttpResponse &);
    // What a request that names no session gets before its command runs.
    enum class SessionRule
    {
        AsSent,
        OpenedFirst,
    };
    // Whether the command waits for the permission check's consent.
    enum class Access
    {
        Anyone,
        PermittedClient,
    };
    struct ServerCommand
    {
        const char *name;
        Handler handler;
        SessionRule session;
        Access access;
    };
    // The built-in command of that exact name; null for a module command.
    static const ServerCommand *FindServerCommand(const QByteArray &command);

    void SetAllNecessaryParams(HttpRequest &request, HttpResponse &response);
    // Parameters, headers, cookies, then the entries only the server writes.
    void FillRequestMap(HttpRequest &request);
    void AddUploads(HttpRequest &request);
    void SetLibraryNameAndCommand(HttpRequest &request, HttpResponse &response);
    void GenerateCmdId();
    bool IsOriginAllowed(HttpRequest &request);
    void SetReplyHeaders(HttpRequest &request, HttpResponse &response, bool originAllowed);
    QByteArray GetHeaderValue(HttpRequest &request, const QByteArray &name) const;
    void PrepareExternalModules();
    void RestartTimeout();
    bool CheckPermissions();
    void Dispatch(HttpRequest &request, HttpResponse &response, bool permitted);
    void ProcessModuleCommand(HttpRequest &request, HttpResponse &response);
    bool CheckCommandParameters(HttpRequest &request, DllModule *module);
    void SetResultData(const ResultData &result, HttpResponse &response);
    void SendResponse(HttpRequest &request, HttpResponse &response);

    // Server commands and client sessions.
    void ProcessAlive(HttpRequest &request, HttpResponse &response);
    void ProcessServerVersion(HttpRequest &request, HttpResponse &response);
    void ProcessOpenSession(HttpRequest &request, HttpResponse &response);
    // A new session's start: its values, its module and its timer; false with the reply set.
    bool StartSession(HttpRequest &request, HttpResponse &response);
    bool LoadDllLibrary();
    void CloseSession(HttpRequest &request, HttpResponse &response);
    void ProcessSetSessionVar(HttpRequest &request, HttpResponse &response);
    // Both false when the session's caps refuse the values; then none of them is stored.
    bool SetSessionVars(const QByteArray &json);
    bool StoreSessionValues(const QList<QPair<QByteArray, QVariant>> &entries);
    void ProcessGetResult(HttpRequest &request, HttpResponse &response);
    // The job a GET_RESULT collects: the "cmdId" parameter, else the header.
    static QByteArray ResultCommandId(const HttpRequest &request);
    void ProcessArchType(HttpRequest &request, HttpResponse &response);
    void ProcessTest(HttpRequest &request, HttpResponse &response);
    void ProcessGetUserServerPort(HttpRequest &request, HttpResponse &response);
    void ProcessGetUsernameForPid(HttpRequest &request, HttpResponse &response);
    void SetLogLevelRequest(HttpRequest &request);

    const ControllerContext &m_oContext;
    PeerIdentity m_oPeer;
    DllManager *m_poDllManager = nullptr;
    CLauncher *m_poLauncher = nullptr;
    CTimeout *m_poTimeouts = nullptr;
    RequestFields m_oFields;
    HttpSession m_oSession;
    // Set when a cap refused the session this request would have opened; its reply stands.
    bool m_bOpeningRefused = false;
    QByteArray m_oCallback;
    QByteArray m_oReplyBody;
};
