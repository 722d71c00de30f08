#include "CSignController.h"

#include "CTimeout.h"
#include "ClientPermissions.h"
#include "ControllerReplies.h"
#include "RequestLog.h"
#include "common/ServerVersion.h"
#include "http/CommandId.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpSessionStore.h"
#include "logging/LogStatement.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/DllModule.h"
#include "modules/ModuleHold.h"
#include "policy/CORSSettings.h"
#include "policy/RequestTarget.h"

#include <QScopeGuard>
#include <QUuid>
#include <algorithm>
#include <iterator>

using namespace ControllerReplies;

CSignController::CSignController(const ControllerContext &context, QObject *parent)
    : HttpRequestHandler(parent), m_oContext(context)
{
}

const CSignController::ServerCommand *CSignController::FindServerCommand(const QByteArray &command)
{
    using enum SessionRule;
    using enum Access;
    // ARCH_TYPE has always opened a session when it came without one, and pages may use the
    // ID its reply carries.
    static const ServerCommand kCommands[] = {
        {"ALIVE", &CSignController::ProcessAlive, AsSent, Anyone},
        {"GET_USER_SERVER_PORT", &CSignController::ProcessGetUserServerPort, AsSent, Anyone},
        {"OPEN_SESSION", &CSignController::ProcessOpenSession, AsSent, Anyone},
        {"CLOSE_SESSION", &CSignController::CloseSession, AsSent, Anyone},
        {"SET_SESSION_VAR", &CSignController::ProcessSetSessionVar, AsSent, Anyone},
        {"SERVER_VERSION", &CSignController::ProcessServerVersion, AsSent, Anyone},
        {"ARCH_TYPE", &CSignController::ProcessArchType, OpenedFirst, Anyone},
        {"TEST", &CSignController::ProcessTest, AsSent, Anyone},
        {"GET_USERNAME_FOR_PID", &CSignController::ProcessGetUsernameForPid, AsSent, Anyone},
        {"GET_RESULT", &CSignController::ProcessGetResult, AsSent, PermittedClient},
    };
    const auto found = std::find_if(std::cbegin(kCommands), std::cend(kCommands),
                                    [&command](const ServerCommand &entry) { return command == entry.name; });
    return found != std::cend(kCommands) ? found : nullptr;
}

bool CSignController::IsServerCommand(const QByteArray &command)
{
    const ServerCommand *entry = FindServerCommand(command);
    return entry && entry->session == SessionRule::AsSent;
}

void CSignController::SetSecurityHeaders(HttpResponse &response)
{
    response.setHeader("Content-Security-Policy", "default-src 'self'");
    response.setHeader("X-Frame-Options", "sameorigin");
    response.setHeader("X-XSS-Protection", "1; mode=block");
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("Strict-Transport-Security", "max-age=31536000");
    response.setHeader("Cache-control", "no-store");
    response.setHeader("Pragma", "no-cache");
}

void CSignController::service(HttpRequest &request, HttpResponse &response)
{
    VYR_LOG_SERVER(Debug) << "New request";
    // The controller's share in the uploads ends with the request; an accepted job keeps its own.
    const auto dropUploads = qScopeGuard([this] { m_oFields.uploads.clear(); });
    m_oPeer = m_oContext.peerOf(response.socket());
    SetAllNecessaryParams(request, response);
    PrepareExternalModules();
    const bool originAllowed = IsOriginAllowed(request);
    SetReplyHeaders(request, response, originAllowed);
    if (!originAllowed) {
        SetResultData(kForbidden, response);
        SendResponse(request, response);
        return;
    }
    if (!IsServerCommand(m_oFields.command) && m_oFields.sessionId.isEmpty())
        ProcessOpenSession(request, response);
    if (m_bOpeningRefused) {
        SendResponse(request, response);
        return;
    }
    if (!m_oFields.sessionId.isEmpty())
        RestartTimeout();
    SetLogLevelRequest(request);
    const bool permitted = CheckPermissions();
    Dispatch(request, response, permitted);
    SendResponse(request, response);
    VYR_LOG_SERVER(Debug) << "Request processed";
}

void CSignController::Dispatch(HttpRequest &request, HttpResponse &response, bool permitted)
{
    const ServerCommand *command = FindServerCommand(m_oFields.command);
    if (command && (command->access == Access::Anyone || permitted))
        (this->*command->handler)(request, response);
    else if (!permitted)
        SetResultData(m_poDllManager->getModule(m_oFields.libraryName) ? kForbidden : kNotFound, response);
    else if (m_oSession.contains("startTime"))
        ProcessModuleCommand(request, response);
    else
        SetResultData(kNoSession, response);
}

void CSignController::ProcessAlive(HttpRequest &, HttpResponse &response)
{
    SetResultData(m_oSession.contains("startTime") ? ResultData(200, "OK") : kNoSession, response);
}

void CSignController::ProcessServerVersion(HttpRequest &, HttpResponse &response)
{
    SetResultData(ResultData(200, "OK", QByteArray(kServerVersion)), response);
}

void CSignController::SetAllNecessaryParams(HttpRequest &request, HttpResponse &response)
{
    m_oFields = RequestFields();
    m_bOpeningRefused = false;
    m_oFields.sessionId = GetHeaderValue(request, "X-VYR-sessionId");
    VYR_LOG_SERVER(Debug) << "sessionId=" << m_oFields.sessionId;
    HttpSessionStore *store = m_oContext.sessionStore();
    m_oSession =
        store && !m_oFields.sessionId.isEmpty() ? store->getSession(m_oFields.sessionId) : HttpSession();
    SetLibraryNameAndCommand(request, response);
    m_oCallback = request.parameter("callback");
    FillRequestMap(request);
    m_oFields.sessionParams = m_oSession.getAll();
    m_oFields.commandId = GetHeaderValue(request, "X-VYR-cmdId");
    if (m_oFields.commandId.isEmpty())
        GenerateCmdId();
    response.setHeader("X-VYR-cmdId", m_oFields.commandId);
}

void CSignController::FillRequestMap(HttpRequest &request)
{
    tRequestMap &map = m_oFields.requestMap;
    map.unite(request.parameterMap());
    map.unite(request.headerMap());
    for (auto it = request.cookieMap().cbegin(); it != request.cookieMap().cend(); ++it)
        map.insert(it.key(), it.value());
    map.insert("keyHttpBody", request.body());
    map.insert("keyHttpMethod", request.method());
    map.insert("keyHttpPath", request.path());
    map.insert("keyHttpVersion", request.version());
    // Modules decide whom to ask the user about by this entry: a page must not name itself.
    map.remove(kVyrOriginKey);
    map.insert(kVyrOriginKey, request.header("Origin"));
    AddUploads(request);
}

void CSignController::AddUploads(HttpRequest &request)
{
    tRequestMap &map = m_oFields.requestMap;
    // Only the server names a file a module may read: nothing the page sent under either prefix stays.
    for (auto it = map.begin(); it != map.end();)
        it = it.key().startsWith(kVyrUploadedFilePrefix) || it.key().startsWith(kVyrUploadedNamePrefix)
                 ? map.erase(it)
                 : std::next(it);
    m_oFields.uploads = request.uploadedFiles();
    for (const auto &upload : m_oFields.uploads) {
        map.insert(kVyrUploadedFilePrefix + upload->fieldName(), upload->path().toUtf8());
        map.insert(kVyrUploadedNamePrefix + upload->fieldName(), upload->clientName());
    }
}

void CSignController::SetLibraryNameAndCommand(HttpRequest &request, HttpResponse &)
{
    const RequestTarget target = RequestTarget::of(request);
    m_oFields.libraryName = target.module;
    m_oFields.command = target.command;
    VYR_LOG_SERVER(Debug) << "oLibraryName=" << m_oFields.libraryName;
    VYR_LOG_SERVER(Debug) << "oCommand=" << m_oFields.command;
}

void CSignController::GenerateCmdId()
{
    m_oFields.commandId = QUuid::createUuid().toString(QUuid::WithBraces).toLower().toLatin1();
    VYR_LOG_SERVER(Debug) << "command id generated cmdId=" << m_oFields.commandId;
}

QByteArray CSignController::GetHeaderValue(HttpRequest &request, const QByteArray &name) const
{
    const QByteArray wanted = name.toLower();
    const auto &headers = request.headerMap();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
        if (it.key().toLower() != wanted)
            continue;
        if (wanted == "x-vyr-cmdid" || wanted == "x-vyr-sessionid")
            return escapeAndConvertToValidID(request.header(it.key()));
        return request.header(it.key());
    }
    return {};
}

bool CSignController::IsOriginAllowed(HttpRequest &request)
{
    // A result belongs to the module whose job made it, whatever the collecting path names.
    QByteArray jobModule;
    if (m_oFields.command == "GET_RESULT" && !request.header("Origin").isEmpty())
        jobModule = m_poLauncher->ModuleOfJob(m_oFields.sessionId, ResultCommandId(request));
    return m_oContext.cors()->allowsRequest(request, jobModule);
}

void CSignController::SetReplyHeaders(HttpRequest &request, HttpResponse &response, bool originAllowed)
{
    if (!m_oCallback.isEmpty()) {
        response.setHeader("Content-Type", "application/javascript");
        return;
    }
    response.setHeader("Content-Type", "text/plain");
    response.setHeader("Access-Control-Allow-Credentials", "true");
    response.setHeader("Access-Control-Expose-Headers",
                       QStringLiteral("%1, %2").arg("X-VYR-sessionId", "X-VYR-cmdId").toLatin1());
    response.setHeader("Access-Control-Allow-Origin",
                       CORSSettings::replyAllowOriginValue(request, originAllowed));
    SetSecurityHeaders(response);
}

void CSignController::PrepareExternalModules()
{
    // Each of them is made on first use, so none is ever missing.
    m_poTimeouts = m_oContext.timeouts();
    m_poDllManager = m_oContext.modules();
    m_poLauncher = m_oContext.launcher();
}

void CSignController::RestartTimeout()
{
    m_poTimeouts->RestartTimer(m_oFields.sessionId);
}

bool CSignController::CheckPermissions()
{
    return ClientPermissions(*m_poDllManager, *m_poLauncher).CheckPermissions(m_oPeer, m_oFields);
}

void CSignController::ProcessModuleCommand(HttpRequest &request, HttpResponse &response)
{
    m_poDllManager->loadModuleForSession(m_oFields.libraryName, m_oFields.sessionId);
    // Held while it is read here: the session may be closed by another connection meanwhile.
    const ModuleHold module = m_poDllManager->holdModule(m_oFields.libraryName);
    if (!module || !module->isCommandValid(QString::fromUtf8(m_oFields.command))) {
        SetResultData(kNotFound, response);
        return;
    }
    if (!CheckCommandParameters(request, module.get())) {
        SetResultData(kBadParameters, response);
        return;
    }
    SetResultData(m_poLauncher->ProcessCommand(m_oFields), response);
}

bool CSignController::CheckCommandParameters(HttpRequest &request, DllModule *module)
{
    const QStringList names = module->getRequestParams(QString::fromUtf8(m_oFields.command));
    for (const QString &name : names) {
        if (!request.parameterMap().contains(name.toUtf8())) {
            VYR_LOG_SERVER(Warning) << "Param missing key=" << name;
            return false;
        }
    }
    return true;
}

void CSignController::SetResultData(const ResultData &result, HttpResponse &response)
{
    response.setStatus(result.statusCode, result.statusText);
    VYR_LOG_SERVER(Debug) << "HTTP status: " << result.statusCode;
    m_oReplyBody = result.message;
}

void CSignController::SendResponse(HttpRequest &request, HttpResponse &response)
{
    response.setHeader("X-VYR-sessionId", m_oFields.sessionId);
    response.clearCookies();
    QByteArray body;
    if (!m_oCallback.isEmpty()) {
        VYR_LOG_SERVER(Debug) << "Reply as JSNOP";
        body = m_oCallback + '(' + m_oReplyBody + ')';
    } else {
        VYR_LOG_SERVER(Debug) << "Reply as CORS";
        body = m_oReplyBody;
    }
    response.write(body, true);
    RequestLog::logResponse(request, response);
}
