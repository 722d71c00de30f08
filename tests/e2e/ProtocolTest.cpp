#include "ProtocolFixture.h"

#include <QFile>
#include <QSysInfo>
#include <QTcpServer>
#include <csignal>

using namespace std::chrono_literals;

namespace {

// A function that never returns keeps only its thread, which is left to it and replaced with
// the pool at one thread: the teardown goes on at once, so another session still times out,
// and a job and a GUI command still run. The module stays loaded, and the server still stops.
TEST_F(ProtocolTest, NeverReturningModule_SessionTimesOut_OthersTimeOutJobsAndGuiStillRun)
{
    m_oServer.setIniValue("timeout/interval", "700");
    m_oServer.setIniValue("jobs/workerThreads", "1");
    startServer({}); // GUI-capable, on the off-screen platform
    const QByteArray stuck = openSession();
    const QString started = m_oServer.appDir() + "/started";
    ASSERT_EQ(
        post("/Slow/Wait?timeoutMs=3600000&started=" + QUrl::toPercentEncoding(started), stuck).statusCode(),
        202);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(started); }, 10s));
    {
        // A client that leaves before collecting its result.
        TlsClient leaving(m_iPort, s_poOwner);
        const QByteArray orphan = leaving.post("/OPEN_SESSION").body;
        leaving.send(TlsClient::postRequest("/Mod1/Cmd1?data=orphan", sessionHeader(orphan)));
    }
    const QByteArray silent = openSession();
    ASSERT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + stuck, 10s));
    EXPECT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + silent, 10s));
    EXPECT_TRUE(
        m_oServer.logText().contains("left to a module function that has not returned and is replaced"));
    const QByteArray other = openSession();
    EXPECT_EQ(collect(other, post("/Mod1/Cmd1?data=still", other).headers.value("X-VYR-cmdId")).body,
              "still");
    EXPECT_EQ(collect(other, post("/Gui/ShowWindow?timeoutMs=10", other).headers.value("X-VYR-cmdId")).body,
              "timeout");
    EXPECT_FALSE(m_oServer.logText().contains("Module Slow unloaded"));
    EXPECT_EQ(m_oServer.stopWithSignal(SIGTERM), 0);
    EXPECT_TRUE(m_oServer.logText().contains("Exit with module functions still running"));
}

TEST_F(ProtocolTest, Gui_SecondGuiCommandWhileOneRuns_503ThenAcceptedAfterTimeoutClosesWindow)
{
    m_oServer.setIniValue("timeout/interval", "1500");
    startServer({}); // GUI-capable, on the off-screen platform
    const QByteArray first = openSession();
    ASSERT_EQ(post("/Gui/ShowWindow", first).statusCode(), 202);
    const QByteArray second = openSession();
    const HttpAnswer refused = post("/Gui/ShowWindow", second);
    EXPECT_EQ(refused.statusLine, "HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ(refused.body, "The VYR server is busy performing another gui request. Try again later.");
    const HttpAnswer nonGui = post("/Mod1/Cmd1?data=meanwhile", second);
    EXPECT_EQ(collect(second, nonGui.headers.value("X-VYR-cmdId")).body, "meanwhile");
    // The first session falls silent: its teardown closes the window and frees the GUI.
    ASSERT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + first, 10s));
    EXPECT_TRUE(m_oServer.waitForLogLine("Finished GUI function. Flag bGuisBusy removed"));
    // A fresh session: the second one may have fallen silent for as long by now.
    EXPECT_EQ(post("/Gui/ShowWindow?timeoutMs=10", openSession()).statusCode(), 202);
}

TEST_F(ProtocolTest, LogLevel_Request_OtherAccountIgnoredOwnChangesLevelAndBadValueEndsRequestWithoutReply)
{
    m_oServer.setIniValue("logging/logLevel", "2");
    startServer();
    EXPECT_EQ(TlsClient(m_iPort, s_poOther).post("/SERVER_VERSION?loglevel=4&maxSize=1000").statusCode(),
              200);
    EXPECT_TRUE(
        m_oServer.waitForLogLine("Log level change ignored: the client is not on this server's account"));
    EXPECT_EQ(post("/SERVER_VERSION?loglevel=1&maxSize=1000000").statusCode(), 200);
    EXPECT_TRUE(m_oServer.waitForLogLine("Log level value was changed to: 1"));
    EXPECT_TRUE(m_oServer.waitForLogLine("debug [VYR-server]"));
    const HttpAnswer broken = post("/SERVER_VERSION?loglevel=abc");
    EXPECT_EQ(broken.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(broken.body, "");
    EXPECT_TRUE(m_oServer.waitForLogLine("An uncatched exception occurred in the request handler"));
}

// A user server takes the first free port above the configured one (the next one is taken
// here). The dispatcher on the configured port names each account its own server, by the
// account the connection belongs to, with no notion of which login is in front. Who a client
// is comes from the kernel however it connects, even from another loopback address on the
// dispatcher's own port number; what each identity may run is the in-process permission table.
TEST_F(ProtocolTest, Dispatcher_GetUserServerPortForTwoAccountsAndRoot_EachItsOwnPortOr404WithoutServer)
{
    QTcpServer blocker;
    ASSERT_TRUE(blocker.listen(QHostAddress::LocalHost, static_cast<quint16>(m_iConfiguredPort + 1)));
    startServer();
    EXPECT_GT(m_iPort, m_iConfiguredPort + 1);
    EXPECT_TRUE(
        m_oServer.logText().contains(QStringLiteral("Cannot bind on port %1: ").arg(m_iConfiguredPort + 1)));
    ServerProcess dispatcher;
    ASSERT_TRUE(dispatcher.installModules());
    startDispatcher(dispatcher);
    const auto askDispatcher = [&](const TestAccount *account) {
        return TlsClient(m_iConfiguredPort, account).post("/GET_USER_SERVER_PORT");
    };
    const HttpAnswer none = askDispatcher(s_poOther);
    EXPECT_EQ(none.statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(none.body, "No VYR server runs for your account.");
    ServerProcess otherServer;
    otherServer.setIniValue("listener/port", QString::number(m_iConfiguredPort));
    otherServer.runAs(s_poOther);
    ASSERT_TRUE(otherServer.start());
    const quint16 otherPort = otherServer.waitForListeningPort();
    ASSERT_NE(otherPort, 0);
    for (const auto &[account, port] : {std::pair{s_poOwner, m_iPort}, std::pair{s_poOther, otherPort}}) {
        const HttpAnswer answer = askDispatcher(account);
        EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
        EXPECT_EQ(answer.body, QByteArray::number(port)) << account->name().toStdString();
    }
    EXPECT_EQ(post("/GET_USER_SERVER_PORT").statusLine, "HTTP/1.1 404 Not Found");
    // Root may use the system-account modules only; refused, another reads as unknown.
    TlsClient root(m_iPort);
    EXPECT_EQ(root.post("/Unprivileged/Open", sessionHeader(root.post("/OPEN_SESSION").body)).statusLine,
              "HTTP/1.1 404 Not Found");
    // The dispatcher's own port number on another loopback address makes nobody root.
    TlsClient borrower(m_iConfiguredPort, s_poOther, QStringLiteral("127.0.0.2"), m_iConfiguredPort);
    const QByteArray session = sessionHeader(borrower.post("/OPEN_SESSION").body);
    EXPECT_EQ(borrower.post("/updater/Which", session).statusLine, "HTTP/1.1 403 Forbidden");
}

// A user server that must ask the dispatcher who its client is. A dispatcher that never
// answers costs each connection one bounded wait, after which the client counts as another
// account, pipelined requests and all; a client that leaves meanwhile harms nothing. Once a
// real dispatcher answers, a new connection is its owner's again.
TEST_F(ProtocolTest, BlindUserServer_SilentThenRealDispatcher_OtherAccountUntilItAnswers)
{
    QFile::remove(m_oServer.appDir() + "/VeltraneCryptoServer");
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(VYR_BLIND_SERVER_PATH), m_oServer.appDir() + "/VeltraneCryptoServer"));
    auto silent = std::make_unique<QTcpServer>();
    ASSERT_TRUE(silent->listen(QHostAddress::LocalHost, m_iConfiguredPort));
    startServer();
    ::kill(pid_t(TlsClient(m_iPort, s_poOwner).relayPid()), SIGKILL);
    m_poClient->send(TlsClient::postRequest("/Mod1/Cmd1?data=a") + TlsClient::postRequest("/SERVER_VERSION") +
                     TlsClient::postRequest("/Mod1/Cmd1?data=b"));
    EXPECT_EQ(m_poClient->readAnswer().statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(m_poClient->readAnswer().body, "6.6.10.168");
    EXPECT_EQ(m_poClient->readAnswer().statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_TRUE(m_oServer.waitForLogLine("Dispatcher not reached: "));

    silent.reset();
    ServerProcess dispatcher;
    startDispatcher(dispatcher);
    m_poClient = std::make_unique<TlsClient>(m_iPort, s_poOwner);
    const QByteArray sessionId = openSession();
    const HttpAnswer started = post("/Mod1/Cmd1?data=asked", sessionId);
    EXPECT_EQ(started.statusLine, "HTTP/1.1 202 Accepted");
    EXPECT_EQ(collect(sessionId, started.headers.value("X-VYR-cmdId")).body, "asked");
    EXPECT_TRUE(m_oServer.waitForLogLine("oClientDomainAndUsername=" + QSysInfo::machineHostName() + "/" +
                                         s_poOwner->name()));
}

TEST_F(ProtocolTest, Dispatcher_UserServerHoldsConfiguredPort_UserServerEndedAndPortTaken)
{
    m_oServer.setIniValue("listener/port", QString::number(m_iConfiguredPort - 1));
    startServer();
    ASSERT_EQ(m_iPort, m_iConfiguredPort);
    ServerProcess dispatcher;
    startDispatcher(dispatcher);
    EXPECT_TRUE(dispatcher.logText().contains(
        "Dispatcher is runing on another user. It will be closed and run on system account!"));
    EXPECT_TRUE(
        dispatcher.logText().contains("Current server will be a dispatcher service for other servers"));
    EXPECT_EQ(m_oServer.waitForExit(15s), 0);
}

} // namespace
