#include "HttpSessionStore.h"

#include "HttpCookie.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "logging/LogStatement.h"

#include <QDateTime>
#include <QSettings>
#include <atomic>

namespace {
std::atomic<HttpSessionStore *> g_pPublishedStore{nullptr};
}

HttpSessionStore::HttpSessionStore(QSettings *settings, QObject *parent)
    : QObject(parent), m_pSettings(settings),
      m_oCookieName(settings->value(QStringLiteral("cookieName"), QStringLiteral("sessionid")).toByteArray()),
      m_iExpirationTime(settings->value(QStringLiteral("expirationTime"), 3600000).toInt()),
      m_oLimits(SessionLimits::read(*settings))
{
    connect(&m_oCleanupTimer, &QTimer::timeout, this, &HttpSessionStore::sessionTimerEvent);
    m_oCleanupTimer.start(kSweepIntervalMs);
    VYR_LOG_SERVER(Debug) << "HttpSessionStore: Sessions expire after " << m_iExpirationTime
                          << " milliseconds";
}

HttpSessionStore::~HttpSessionStore()
{
    HttpSessionStore *self = this;
    g_pPublishedStore.compare_exchange_strong(self, nullptr);
    m_oCleanupTimer.stop();
    const QMutexLocker locker(&m_oMutex);
    m_oSessions.clear();
}

HttpSessionStore *HttpSessionStore::published()
{
    return g_pPublishedStore.load();
}

void HttpSessionStore::publish(HttpSessionStore *store)
{
    g_pPublishedStore.store(store);
}

QByteArray HttpSessionStore::getSessionId(HttpRequest &request, HttpResponse &response)
{
    const QMutexLocker locker(&m_oMutex);
    const auto fromResponse = response.cookies().constFind(m_oCookieName);
    QByteArray id =
        fromResponse != response.cookies().constEnd() ? fromResponse->value() : request.cookie(m_oCookieName);
    if (!id.isEmpty() && !m_oSessions.contains(id)) {
        VYR_LOG_SERVER(Debug) << "HttpSessionStore: received invalid session cookie with ID " << id;
        return QByteArray();
    }
    return id;
}

HttpSession HttpSessionStore::getSession(HttpRequest &request, HttpResponse &response, bool allowCreate)
{
    const QByteArray id = getSessionId(request, response);
    QMutexLocker locker(&m_oMutex);
    if (!id.isEmpty()) {
        const auto found = m_oSessions.constFind(id);
        if (found != m_oSessions.constEnd()) {
            HttpSession session = found.value();
            locker.unlock();
            response.setCookie(sessionCookie(id));
            session.setLastAccess();
            return session;
        }
    }
    if (!allowCreate)
        return HttpSession();
    return create(response);
}

// Called with m_oMutex held.
HttpSession HttpSessionStore::create(HttpResponse &response)
{
    if (m_oSessions.size() >= m_oLimits.maxSessions) {
        VYR_LOG_SERVER(Warning) << "HttpSessionStore: no new session, " << m_oSessions.size()
                                << " are open (maxSessions)";
        return HttpSession();
    }
    const HttpSession session(true);
    VYR_LOG_SERVER(Debug) << "HttpSessionStore: create new session with ID " << session.getId();
    m_oSessions.insert(session.getId(), session);
    response.setCookie(sessionCookie(session.getId()));
    return session;
}

HttpSession HttpSessionStore::getSession(const QByteArray &id)
{
    HttpSession session = find(id);
    // Refreshed outside the store's lock, which is never held while a session is refreshed here.
    session.setLastAccess();
    return session;
}

HttpSession HttpSessionStore::find(const QByteArray &id)
{
    const QMutexLocker locker(&m_oMutex);
    return m_oSessions.value(id);
}

void HttpSessionStore::removeSession(const HttpSession &session)
{
    const QMutexLocker locker(&m_oMutex);
    m_oSessions.remove(session.getId());
}

int HttpSessionStore::sessionCount() const
{
    const QMutexLocker locker(&m_oMutex);
    return int(m_oSessions.size());
}

void HttpSessionStore::sessionTimerEvent()
{
    sweepExpired(QDateTime::currentMSecsSinceEpoch());
}

void HttpSessionStore::sweepExpired(qint64 nowMsecs)
{
    const QMutexLocker locker(&m_oMutex);
    for (auto it = m_oSessions.begin(); it != m_oSessions.end();) {
        if (nowMsecs - it.value().getLastAccess() > m_iExpirationTime) {
            VYR_LOG_SERVER(Debug) << "HttpSessionStore: session " << it.key() << " expired";
            it = m_oSessions.erase(it);
        } else {
            ++it;
        }
    }
}

HttpCookie HttpSessionStore::sessionCookie(const QByteArray &id) const
{
    const QMutexLocker locker(&m_oSettingsMutex);
    const auto read = [this](const char *key) {
        return m_pSettings->value(QLatin1String(key)).toByteArray();
    };
    return HttpCookie(m_oCookieName, id, m_iExpirationTime / 1000, read("cookiePath"), read("cookieComment"),
                      read("cookieDomain"), false, false);
}
