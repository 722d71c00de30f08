#pragma once

#include "common/PeerIdentity.h"
#include "http/HttpSessionStore.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "policy/CORSSettings.h"
#include "protocol/CRequestMapper.h"
#include "protocol/CTimeout.h"
#include "settings/CSettings.h"
#include "support/CapturingSink.h"
#include "support/HttpAnswer.h"

#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <memory>

// Who a request comes from, as the connection's identity would have it.
enum class Peer
{
    Own,    // the server's own account
    Other,  // another ordinary account
    System, // root
};

// One server's request path inside the test process: raw request bytes are parsed, mapped
// and answered over buffers the way a connection handler does it, with services of its own
// (the test modules, a build of brevalo that announces its own origins, the shipped modules,
// the INI defaults)
// and the client identity the test names. No TLS and no socket; module jobs still run on the
// launcher's worker threads. The test's thread only.
class InProcessServer
{
public:
    // INI values ("group/key") over the defaults.
    explicit InProcessServer(const QMap<QString, QString> &ini = {});

    // What the server logged so far.
    QStringList logLines() const { return m_oLog.sink->lines(); }
    // Whether a log line with that text appears before the timeout.
    bool waitForLogLine(const QString &text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        return waitUntil([&] { return !logLines().filter(text).isEmpty(); }, timeout);
    }

    // Whether the session's timeout timer is in place: the timer thread makes it, and it is
    // handed to this thread's event loop, which a real server runs all the while.

    HttpAnswer send(const QByteArray &rawRequest, Peer peer = Peer::Own);
    HttpAnswer post(const QByteArray &path, const QByteArray &sessionId = {}, const QByteArray &headers = {},
                    Peer peer = Peer::Own);
    QByteArray openSession(const QByteArray &path = "/OPEN_SESSION", Peer peer = Peer::Own)
    {
        return post(path, {}, {}, peer).body;
    }
    // The result of the job that answer started, polled while it runs.
    HttpAnswer collect(const QByteArray &sessionId, const HttpAnswer &started, Peer peer = Peer::Own)
    {
        const QByteArray path = resultPath(started.headers.value("X-VYR-cmdId"));
        return pollWhileRunning([&] { return post(path, sessionId, {}, peer); });
    }

private:
    // Every log channel writes here, in memory, from the first member's life to the last's.
    struct ServerLog
    {
        ServerLog();
        ~ServerLog();
        std::shared_ptr<CapturingSink> sink = std::make_shared<CapturingSink>();
    } m_oLog;
    QTemporaryDir m_oDir;
    const bool m_bIniWritten; // before anything reads it
    CSettings m_oSettings{m_oDir.path()};
    QSettings m_oSessionSettings;
    HttpSessionStore m_oSessions;
    const QStringList m_oModuleDirectories{QStringLiteral(VYR_TEST_MODULE_DIR),
                                           QStringLiteral(VYR_POLICY_MODULE_DIR "/own"),
                                           QStringLiteral(VYR_APP_MODULE_DIR)};
    DllManager m_oModules{m_oModuleDirectories};
    CLauncher m_oLauncher{[this] { return &m_oModules; }, JobLimits::FromSettings(m_oSettings)};
    CTimeout m_oTimeouts;
    CORSSettings m_oCors{{[] { return true; }, [this] { return m_oModuleDirectories; }}};
    PeerIdentity m_oPeer;
    CRequestMapper m_oMapper;
};
