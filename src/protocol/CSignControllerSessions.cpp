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
using ControllerReplies::kSessionValuesTooLarge;
using ControllerReplies::kTooManySessions;
} // namespace

void CSignController::ProcessOpenSession(HttpRequest &request, HttpResponse &response)
{
    if (!m_oFields.sessionId.isEmpty()) {
        SetResultData(ResultData(200, "OK", m_oFields.sessionId), response);
        return;
    }
    HttpSessionStore *store = m_oContext.sessionStore();
    m_oSession = store ? store->getSession(request, response, true) : HttpSession();
    if (store && m_oSession.isNull()) {
        // The store is full and has said so in the log.
        m_bOpeningRefused = true;
        SetResultData(kTooManySessions, response);
        return;
    }
    if (m_oSession.isNull())
        VYR_LOG_SERVER(Error) << "Session is null!";
    if (!m_oSession.contains("startTime")) {
        if (!StartSession(request, response))
            return;
    } else {
        m_oFields.sessionId = m_oSession.getId();
        m_poTimeouts->RestartTimer(m_oFields.sessionId);
    }
    SetResultData(ResultData(200, "OK", m_oFields.sessionId), response);
}

bool CSignController::StartSession(HttpRequest &request, HttpResponse &response)
{
    m_oSession.set("startTime", QDateTime::currentDateTime());
    m_oFields.sessionId = m_oSession.getId();
    VYR_LOG_SERVER(Debug) << "Creating session with ID: " << m_oFields.sessionId;
    // The page's values are checked before the module is loaded, so a refused session
    // costs no module load.
    const bool valuesStored = SetSessionVars(request.parameter("sessionVars"));
    if (valuesStored && LoadDllLibrary()) {
        m_poTimeouts->AddNewTimer(m_oFields.sessionId);
        return true;
    }
    if (HttpSessionStore *store = m_oContext.sessionStore())
        store->removeSession(m_oSession);
    if (!valuesStored) {
        m_bOpeningRefused = true;
        m_oFields.sessionId.clear(); // the page gets no ID of a session that was never opened
    }
    SetResultData(valuesStored ? kNotFound : kSessionValuesTooLarge, response);
    return false;
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

bool CSignController::SetSessionVars(const QByteArray &json)
{
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    QList<QPair<QByteArray, QVariant>> entries;
    entries.reserve(array.size());
    for (const auto &entry : array) {
        const QJsonObject object = entry.toObject();
        entries.append({object.value(QStringLiteral("key")).toString().toUtf8(),
                        object.value(QStringLiteral("value")).toVariant()});
    }
    return entries.isEmpty() || StoreSessionValues(entries);
}

bool CSignController::StoreSessionValues(const QList<QPair<QByteArray, QVariant>> &entries)
{
    for (const auto &[key, value] : entries)
        VYR_LOG_SERVER(Debug) << "key: " << key << " -> value: " << value.toByteArray();
    HttpSessionStore *store = m_oContext.sessionStore();
    const SessionLimits limits = store ? store->limits() : SessionLimits();
    const HttpSession::Outcome outcome = m_oSession.setWithin(entries, limits);
    if (outcome == HttpSession::Outcome::TooManyValues || outcome == HttpSession::Outcome::TooManyBytes) {
        VYR_LOG_SERVER(Warning) << "Session values refused, sessionID=" << m_oFields.sessionId << ": over "
                                << (outcome == HttpSession::Outcome::TooManyValues ? "maxSessionValues"
                                                                                   : "maxSessionValueBytes");
        return false;
    }
    return true; // stored, or dropped with the session that no longer exists
}

void CSignController::ProcessSetSessionVar(HttpRequest &request, HttpResponse &response)
{
    if (m_oFields.sessionId.isEmpty()) {
        SetResultData(kNoSession, response);
        return;
    }
    const bool stored = StoreSessionValues({{request.parameter("key"), request.parameter("value")}});
    SetResultData(stored ? ResultData(200, "OK") : kSessionValuesTooLarge, response);
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
