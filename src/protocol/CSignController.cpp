#include "CSignController.h"

#include "CTimeout.h"
#include "ClientPermissions.h"
#include "common/ServerVersion.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpSessionStore.h"
#include "logging/LogStatement.h"
#include "logging/ServerLogger.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/DllModule.h"
#include "policy/CORSSettings.h"
#include "policy/RequestTarget.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QUuid>

namespace {
const ResultData
    kInternalError(500, "Internal Server Error",
                   "The VYR server encountered an unexpected error and was unable to complete your request.");
const ResultData kNotFound(404, "Not Found", "The URL you requested was not found.");
const ResultData kForbidden(403, "Forbidden", "You don't have permissions to access this resource.");
const ResultData kBadParameters(400, "Bad Request", "The parameters you passed are not valid.");
const ResultData kNoSession(418, "No Session", "Session with provided ID doesn't exist.");
} // namespace

CSignController::CSignController(QObject *parent) : HttpRequestHandler(parent) {}

bool CSignController::IsServerCommand(const QByteArray &command)
{
    static const QList<QByteArray> serverCommands = {
        "ALIVE",          "GET_RESULT",           "OPEN_SESSION", "CLOSE_SESSION",       "SET_SESSION_VAR",
        "SERVER_VERSION", "GET_USER_SERVER_PORT", "TEST",         "GET_USERNAME_FOR_PID"};
    return serverCommands.contains(command);
}

QByteArray CSignController::escapeAndConvertToValidID(const QByteArray &data)
{
    VYR_LOG_SERVER(Debug) << "v_oData=" << data;
    if (data.isEmpty())
        return {};
    QByteArray text = QString::fromUtf8(data).toHtmlEscaped().toLatin1().trimmed();
    static const QRegularExpression uuid(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression counter(QStringLiteral("^[0-9]{1,13}$"));
    if (uuid.match(QString::fromLatin1(text)).hasMatch()) {
        VYR_LOG_SERVER(Debug) << "UUID format OK";
        return text;
    }
    if (counter.match(QString::fromLatin1(text)).hasMatch()) {
        VYR_LOG_SERVER(Debug) << "Timestamp/counter format OK";
        return text;
    }
    VYR_LOG_SERVER(Warning) << "Data format not match to valid ones. Return value set to empty data.";
    return {};
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
    m_bKeepAlive = request.path().contains("KeepAlive");
    m_oRequestDescription = QString::fromUtf8(request.method() + ' ' + request.path());
    SetAllNecessaryParams(request, response);
    if (!PrepareExternalModules()) {
        SetReplyHeaders(request, response, true);
        SetResultData(kInternalError, response);
        SendResponse(request, response);
        return;
    }
    const bool originAllowed = IsOriginAllowed(request);
    SetReplyHeaders(request, response, originAllowed);
    if (!originAllowed) {
        SetResultData(kForbidden, response);
        SendResponse(request, response);
        return;
    }
    if (!IsServerCommand(m_oFields.command) && m_oFields.sessionId.isEmpty())
        ProcessOpenSession(request, response);
    if (!m_oFields.sessionId.isEmpty())
        RestartTimeout();
    SetLogLevelRequest(request);
    const bool permitted = CheckPermissions(response.socket());
    if (!DispatchServerCommand(request, response))
        DispatchGuardedCommand(request, response, permitted);
    SendResponse(request, response);
    VYR_LOG_SERVER(Debug) << "Request processed";
}

bool CSignController::DispatchServerCommand(HttpRequest &request, HttpResponse &response)
{
    const QByteArray &command = m_oFields.command;
    if (command == "ALIVE")
        SetResultData(m_oSession.contains("startTime") ? ResultData(200, "OK") : kNoSession, response);
    else if (command == "GET_USER_SERVER_PORT")
        ProcessGetUserServerPort(response.socket(), response);
    else if (command == "OPEN_SESSION")
        ProcessOpenSession(request, response);
    else if (command == "CLOSE_SESSION")
        CloseSession(request, response);
    else if (command == "SET_SESSION_VAR")
        ProcessSetSessionVar(request, response);
    else if (command == "SERVER_VERSION")
        SetResultData(ResultData(200, "OK", QByteArray(kServerVersion)), response);
    else if (command == "ARCH_TYPE")
        ProcessArchType(request, response);
    else if (command == "TEST")
        ProcessTest(request, response);
    else if (command == "GET_USERNAME_FOR_PID")
        ProcessGetUsernameForPid(request, response);
    else
        return false;
    return true;
}

void CSignController::DispatchGuardedCommand(HttpRequest &request, HttpResponse &response, bool permitted)
{
    if (!permitted)
        SetResultData(m_poDllManager->getModule(m_oFields.libraryName) ? kForbidden : kNotFound, response);
    else if (m_oFields.command == "GET_RESULT")
        ProcessGetResult(request, response);
    else if (m_oSession.contains("startTime"))
        ProcessModuleCommand(request, response);
    else
        SetResultData(kNoSession, response);
}

void CSignController::SetAllNecessaryParams(HttpRequest &request, HttpResponse &response)
{
    m_oFields = RequestFields();
    m_oFields.sessionId = GetHeaderValue(request, "X-VYR-sessionId");
    VYR_LOG_SERVER(Debug) << "sessionId=" << m_oFields.sessionId;
    HttpSessionStore *store = HttpSessionStore::published();
    m_oSession =
        store && !m_oFields.sessionId.isEmpty() ? store->getSession(m_oFields.sessionId) : HttpSession();
    m_oParameters = request.parameterMap();
    SetLibraryNameAndCommand(request, response);
    m_oCallback = request.parameter("callback");
    tRequestMap &map = m_oFields.requestMap;
    map.unite(request.parameterMap());
    map.unite(request.headerMap());
    for (auto it = request.cookieMap().cbegin(); it != request.cookieMap().cend(); ++it)
        map.insert(it.key(), it.value());
    map.insert("keyHttpBody", request.body());
    map.insert("keyHttpMethod", request.method());
    map.insert("keyHttpPath", request.path());
    map.insert("keyHttpVersion", request.version());
    m_oFields.sessionParams = m_oSession.getAll();
    m_oFields.commandId = GetHeaderValue(request, "X-VYR-cmdId");
    if (m_oFields.commandId.isEmpty())
        GenerateCmdId();
    response.setHeader("X-VYR-cmdId", m_oFields.commandId);
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
    return CORSSettings::instance()->allowsRequest(request, jobModule);
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

bool CSignController::PrepareExternalModules()
{
    m_poTimeouts = CTimeout::instance();
    if (!m_poTimeouts) {
        VYR_LOG_SERVER(Warning) << "Problem with Timeouts module";
        return false;
    }
    m_poDllManager = DllManager::instance();
    if (!m_poDllManager) {
        VYR_LOG_SERVER(Warning) << "Problem with DllLoader module";
        return false;
    }
    m_poLauncher = CLauncher::GetInstance();
    if (!m_poLauncher) {
        VYR_LOG_SERVER(Warning) << "Problem with GUI module";
        return false;
    }
    return true;
}

void CSignController::RestartTimeout()
{
    if (!m_poTimeouts) {
        VYR_LOG_SERVER(Error) << "Problem with Timeouts module";
        return;
    }
    m_poTimeouts->RestartTimer(m_oFields.sessionId);
}

bool CSignController::CheckPermissions(QTcpSocket *socket)
{
    return ClientPermissions(*m_poDllManager, *m_poLauncher).CheckPermissions(socket, m_oFields);
}

void CSignController::ProcessModuleCommand(HttpRequest &request, HttpResponse &response)
{
    m_poDllManager->loadModuleForSession(m_oFields.libraryName, m_oFields.sessionId);
    DllModule *module = m_poDllManager->getModule(m_oFields.libraryName);
    if (!module || !module->isCommandValid(QString::fromUtf8(m_oFields.command))) {
        SetResultData(kNotFound, response);
        return;
    }
    if (!CheckCommandParameters(request, module)) {
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
    ServerLogger::instance().logResponse(request, response);
}
