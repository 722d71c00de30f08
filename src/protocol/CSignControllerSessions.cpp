// Client sessions and their results: OPEN_SESSION, CLOSE_SESSION, SET_SESSION_VAR,
// GET_RESULT.
#include "CSignController.h"
#include "CTimeout.h"
#include "ControllerReplies.h"
#include "http/CommandId.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpSessionStore.h"
#include "logging/LogStatement.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
using ControllerReplies::kNoSession;
using ControllerReplies::kNotFound;
} // namespace

void CSignController::ProcessOpenSession(HttpRequest &request, HttpResponse &response)
{
    if (!m_oFields.sessionId.isEmpty()) {
        SetResultData(ResultData(200, "OK", m_oFields.sessionId), response);
        return;
    }
    HttpSessionStore *store = m_oContext.sessionStore();
    m_oSession = store ? store->getSession(request, response, true) : HttpSession();
    if (m_oSession.isNull())
        VYR_LOG_SERVER(Error) << "Session is null!";
    if (!m_oSession.contains("startTime")) {
        m_oSession.set("startTime", QDateTime::currentDateTime());
        m_oFields.sessionId = m_oSession.getId();
        VYR_LOG_SERVER(Debug) << "Creating session with ID: " << m_oFields.sessionId;
        if (!LoadDllLibrary()) {
            if (store)
                store->removeSession(m_oSession);
            SetResultData(kNotFound, response);
            return;
        }
        m_poTimeouts->AddNewTimer(m_oFields.sessionId);
        SetSessionVars(request.parameter("sessionVars"));
    } else {
        m_oFields.sessionId = m_oSession.getId();
        m_poTimeouts->RestartTimer(m_oFields.sessionId);
    }
    SetResultData(ResultData(200, "OK", m_oFields.sessionId), response);
}

bool CSignController::LoadDllLibrary()
{
    if (m_oFields.libraryName.isEmpty()) {
        VYR_LOG_SERVER(Debug)
            << "Library name not found. Probably command is addressed to server not dllmodule.";
        return true;
    }
    return m_poDllManager->loadModuleForSession(m_oFields.libraryName, m_oFields.sessionId);
}

void CSignController::SetSessionVars(const QByteArray &json)
{
    const QJsonArray entries = QJsonDocument::fromJson(json).array();
    for (const auto &entry : entries) {
        const QJsonObject object = entry.toObject();
        SetSessionVar(object.value(QStringLiteral("key")).toString().toUtf8(),
                      object.value(QStringLiteral("value")).toVariant());
    }
}

void CSignController::SetSessionVar(const QByteArray &key, const QVariant &value)
{
    VYR_LOG_SERVER(Debug) << "key: " << key << " -> value: " << value.toByteArray();
    m_oSession.set(key, value);
}

void CSignController::ProcessSetSessionVar(HttpRequest &request, HttpResponse &response)
{
    if (m_oFields.sessionId.isEmpty()) {
        SetResultData(kNoSession, response);
        return;
    }
    SetSessionVar(request.parameter("key"), request.parameter("value"));
    SetResultData(ResultData(200, "OK"), response);
}

void CSignController::CloseSession(HttpRequest &, HttpResponse &response)
{
    if (m_oSession.getId() != m_oFields.sessionId) {
        SetResultData(kNoSession, response);
        return;
    }
    if (HttpSessionStore *store = m_oContext.sessionStore())
        store->removeSession(m_oSession);
    m_poTimeouts->RemoveTimer(m_oFields.sessionId);
    const QByteArray sessionId = m_oFields.sessionId;
    m_oFields.sessionId.clear();
    // As a timeout would: results never collected, and the module holds of their jobs,
    // would otherwise stay for the life of the process.
    m_poLauncher->RemoveAllForSession(sessionId);
    m_poDllManager->unloadAllModulesForSession(sessionId);
    VYR_LOG_SERVER(Info) << "Session destroyed. sessionID=" << sessionId;
    SetResultData(ResultData(200, "OK"), response);
}

QByteArray CSignController::ResultCommandId(const HttpRequest &request)
{
    const QByteArray commandId = escapeAndConvertToValidID(request.parameter("cmdId"));
    return commandId.isEmpty() ? escapeAndConvertToValidID(request.header("X-VYR-cmdId")) : commandId;
}

void CSignController::ProcessGetResult(HttpRequest &request, HttpResponse &response)
{
    const QByteArray commandId = ResultCommandId(request);
    VYR_LOG_SERVER(Debug) << "oCommandId=" << commandId;
    m_oFields.commandId = commandId;
    const ResultData result = m_poLauncher->GetResult(m_oFields);
    response.setHeader("X-VYR-cmdId", commandId);
    SetResultData(result, response);
}
