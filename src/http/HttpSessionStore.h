#pragma once

#include "HttpSession.h"
#include "settings/SessionLimits.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QTimer>

class HttpCookie;
class HttpRequest;
class HttpResponse;
class QSettings;

// All live client sessions of the process, found by ID and dropped after expirationTime ms
// without use. Lives on the main thread (its sweep runs there); the lookups are called from
// connection threads.
class HttpSessionStore : public QObject
{
    Q_OBJECT
public:
    // settings: positioned on the sessions group; not owned, must outlive the store.
    explicit HttpSessionStore(QSettings *settings, QObject *parent = nullptr);
    ~HttpSessionStore() override;

    // The session cookie of the response or else of the request; empty when it names no session.
    QByteArray getSessionId(HttpRequest &request, HttpResponse &response);
    // Refreshes (or with allowCreate opens) the request's session and sets its cookie on the
    // response. A null session with allowCreate means the store is full (maxSessions).
    HttpSession getSession(HttpRequest &request, HttpResponse &response, bool allowCreate = true);
    // A null session for an unknown ID; a found one counts as used.
    HttpSession getSession(const QByteArray &id);
    void removeSession(const HttpSession &session);

    // Erases the sessions idle for longer than the expiration time as seen at nowMsecs.
    void sweepExpired(qint64 nowMsecs);

    int sessionCount() const;
    QByteArray cookieName() const { return m_oCookieName; }
    qint32 expirationTime() const { return m_iExpirationTime; }
    const SessionLimits &limits() const { return m_oLimits; }

    // The process's store: start-up publishes the one it creates; null before and after.
    static HttpSessionStore *published();
    static void publish(HttpSessionStore *store);

    static constexpr int kSweepIntervalMs = 60000;

public Q_SLOTS:
    void sessionTimerEvent();

private:
    HttpCookie sessionCookie(const QByteArray &id) const;
    HttpSession find(const QByteArray &id);
    HttpSession create(HttpResponse &response);

    QHash<QByteArray, HttpSession> m_oSessions;
    QSettings *m_pSettings;
    QTimer m_oCleanupTimer{this}; // follows the store's thread
    QByteArray m_oCookieName;
    qint32 m_iExpirationTime;
    const SessionLimits m_oLimits;
    mutable QMutex m_oMutex; // guards m_oSessions
    // QSettings may be used by one thread at a time; the lookups come from many.
    mutable QMutex m_oSettingsMutex;
};
