// Server commands that answer about the server and the machine: ARCH_TYPE, TEST,
// GET_USER_SERVER_PORT, GET_USERNAME_FOR_PID, and the log-level request.
#include "CSignController.h"
#include "ClientPermissions.h"
#include "ControllerReplies.h"
#include "UserServerPort.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogStatement.h"
#include "logging/ServerLogger.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/ProcessUtilsFactory.h"
#include "platform/SystemInformationReport.h"
#include "settings/CSettings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTcpSocket>
#include <string>

using ControllerReplies::kNoServerForAccount;
using ControllerReplies::kNotFound;

void CSignController::ProcessArchType(HttpRequest &, HttpResponse &response)
{
    QJsonObject description;
    description.insert(QStringLiteral("resultCode"), 200);
    description.insert(QStringLiteral("kernelType"), QSysInfo::kernelType());
    description.insert(QStringLiteral("kernelVersion"), QSysInfo::kernelVersion());
    description.insert(QStringLiteral("buildArchitecture"), QSysInfo::buildCpuArchitecture());
    SetResultData(ResultData(200, "OK", QJsonDocument(description).toJson(QJsonDocument::Indented)),
                  response);
}

void CSignController::ProcessTest(HttpRequest &, HttpResponse &response)
{
    const QByteArray outcome = runSystemInformationReport(*createProcessUtils());
    if (outcome == "OK")
        SetResultData(ResultData(200, "OK", outcome), response);
    else
        SetResultData(ResultData(500, "Internal Server Error", outcome), response);
}

void CSignController::ProcessGetUserServerPort(HttpRequest &, HttpResponse &response)
{
    QTcpSocket *socket = response.socket();
    const CSettings *settings = m_oContext.settings();
    if (!socket || socket->localPort() != static_cast<quint16>(settings->ReadPort())) {
        SetResultData(kNotFound, response);
        return;
    }
    try {
        const std::optional<quint16> port = UserServerPort(createProcessUtils(), m_oPeer).getUserServerPort();
        SetResultData(port ? ResultData(200, "OK", QByteArray::number(*port)) : kNoServerForAccount,
                      response);
    } catch (const BaseException &exception) {
        VYR_LOG_SERVER(Warning) << "Exception: " << exception.getStackTrace();
        SetResultData(ResultData(500, "Internal Server Error", userFacingMessageOf(exception).toUtf8()),
                      response);
    }
}

void CSignController::ProcessGetUsernameForPid(HttpRequest &request, HttpResponse &response)
{
    const QByteArray pidText = request.parameter("processPid");
    VYR_LOG_SERVER(Debug) << "oPidData=" << pidText;
    const qulonglong pid = pidText.toULongLong(nullptr, 10);
    VYR_LOG_SERVER(Debug) << "ulPid=" << pid;
    try {
        const QString username = createProcessUtils()->getDomainAndUsernameForPid(static_cast<qint64>(pid));
        VYR_LOG_SERVER(Info) << "oUsername=" << username;
        SetResultData(ResultData(200, "OK", username.toUtf8()), response);
    } catch (...) {
        VYR_LOG_SERVER(Warning) << "Problem occurred when trying to obtain username for ulPid=" << pid;
        SetResultData(
            ResultData(500, "Internal Server Error", "Problem occurred when trying to obtain username"),
            response);
    }
}

void CSignController::SetLogLevelRequest(HttpRequest &request)
{
    const QByteArray levelText = request.parameter("loglevel");
    if (levelText.isEmpty())
        return;
    // Another account could otherwise silence the log, or fill the disk at debug level.
    if (!ClientPermissions::IsClientOnCurrentUser(m_oPeer) &&
        !ClientPermissions::IsClientOnSystemUser(m_oPeer)) {
        VYR_LOG_SERVER(Warning) << "Log level change ignored: the client is not on this server's account";
        return;
    }
    // std::stoi on purpose: text that is no number, or out of range, throws and ends the
    // request without a reply; the connection handler logs it.
    const int level = std::stoi(levelText.toStdString());
    if (level == ServerLogger::currentLevel())
        return;
    const int maxSize = std::stoi(request.parameter("maxSize").toStdString());
    ServerLogger::reinitialize(level, maxSize);
    VYR_LOG_SERVER(Info) << "Log level value was changed to: " << levelText;
}
