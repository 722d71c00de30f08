#include "ProtocolFixture.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTcpServer>
#include <csignal>

using namespace std::chrono_literals;

TestAccount *ProtocolTest::s_poOwner = nullptr;
TestAccount *ProtocolTest::s_poOther = nullptr;

namespace {

QByteArray corsHeaderBlock(int code, const QByteArray &text, const QByteArray &origin, qsizetype length,
                           const QByteArray &commandId, const QByteArray &sessionId)
{
    return "HTTP/1.1 " + QByteArray::number(code) + ' ' + text +
           "\r\n"
           "Access-Control-Allow-Credentials: true\r\n"
           "Access-Control-Allow-Origin: " +
           origin +
           "\r\n"
           "Access-Control-Expose-Headers: X-VYR-sessionId, X-VYR-cmdId\r\n"
           "Cache-control: no-store\r\n"
           "Content-Length: " +
           QByteArray::number(length) +
           "\r\n"
           "Content-Security-Policy: default-src 'self'\r\n"
           "Content-Type: text/plain\r\n"
           "Pragma: no-cache\r\n"
           "Strict-Transport-Security: max-age=31536000\r\n"
           "X-Content-Type-Options: nosniff\r\n"
           "X-Frame-Options: sameorigin\r\n"
           "X-VYR-cmdId: " +
           commandId +
           "\r\n"
           "X-VYR-sessionId: " +
           sessionId +
           "\r\n"
           "X-XSS-Protection: 1; mode=block\r\n\r\n";
}

TEST_F(ProtocolTest, WorkedExample_ModuleCommandWithoutSession_202ThenResultOnceThen419)
{
    startServer();
    const HttpAnswer started = post("/Mod1/Cmd1?data=abc", {}, "Origin: https://page.example\r\n");
    const QByteArray commandId = started.headers.value("X-VYR-cmdId");
    const QByteArray sessionId = started.headers.value("X-VYR-sessionId");
    EXPECT_TRUE(isBracedUuid(commandId)) << commandId.constData();
    EXPECT_TRUE(isBracedUuid(sessionId)) << sessionId.constData();
    EXPECT_EQ(started.headerBlock,
              corsHeaderBlock(202, "Accepted", "https://page.example", 0, commandId, sessionId));
    EXPECT_EQ(started.body, "");

    const HttpAnswer result = collect(sessionId, commandId);
    EXPECT_EQ(result.headerBlock, corsHeaderBlock(200, "OK", "*", 3, commandId, sessionId));
    EXPECT_EQ(result.body, "abc");
    EXPECT_EQ(collect(sessionId, commandId).statusLine, "HTTP/1.1 419 No Result");
}

TEST_F(ProtocolTest, RunningJob_GetResultBeforeRelease_202ThenReleasedResult)
{
    startServer();
    const QByteArray sessionId = openSession();
    const QString release = sharedFile("release");
    const HttpAnswer started = post("/Slow/Wait?started=" + QUrl::toPercentEncoding(sharedFile("started")) +
                                        "&release=" + QUrl::toPercentEncoding(release),
                                    sessionId);
    ASSERT_EQ(started.statusCode(), 202);
    const QByteArray commandId = started.headers.value("X-VYR-cmdId");
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(sharedFile("started")); }, 10s));
    const HttpAnswer running = post("/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(commandId), sessionId);
    EXPECT_EQ(running.statusLine, "HTTP/1.1 202 Accepted");
    EXPECT_EQ(running.body, "");
    QFile(release).open(QIODevice::WriteOnly);
    EXPECT_EQ(collect(sessionId, commandId).body, "released");
}

TEST_F(ProtocolTest, NeverReturningModule_SessionTimesOut_TeardownWaitsWhileOthersAreServed)
{
    m_oServer.setIniValue("timeout/interval", "700");
    startServer();
    const QByteArray stuck = openSession();
    ASSERT_EQ(
        post("/Slow/Wait?timeoutMs=3600000&started=" + QUrl::toPercentEncoding(sharedFile("started")), stuck)
            .statusCode(),
        202);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(sharedFile("started")); }, 10s));
    {
        // A client that leaves before collecting its result.
        AccountClient leaving(m_iPort, s_poOwner);
        const QByteArray orphan = leaving.post("/OPEN_SESSION").body;
        leaving.send(
            AccountClient::postRequest("/Mod1/Cmd1?data=orphan", "X-VYR-sessionId: " + orphan + "\r\n"));
    }
    ASSERT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + stuck, 10s));
    // The teardown waits for the function on the main thread; connections and jobs go on.
    const QByteArray other = openSession();
    const HttpAnswer job = post("/Mod1/Cmd1?data=still", other);
    EXPECT_EQ(collect(other, job.headers.value("X-VYR-cmdId")).body, "still");
    EXPECT_FALSE(m_oServer.waitForLogLine("Module Slow unloaded", 1400ms));
    EXPECT_EQ(m_oServer.stopWithSignal(SIGKILL), -1);
}

TEST_F(ProtocolTest, Jsonp_CallbackParameter_WrappedBodyAndNoCorsHeaders)
{
    startServer();
    const QByteArray sessionId = openSession();
    const HttpAnswer started = post("/Mod1/Cmd1?data=xyz&callback=cb", sessionId);
    const QByteArray commandId = started.headers.value("X-VYR-cmdId");
    EXPECT_EQ(started.headerBlock, "HTTP/1.1 202 Accepted\r\nContent-Length: 4\r\n"
                                   "Content-Type: application/javascript\r\nX-VYR-cmdId: " +
                                       commandId + "\r\nX-VYR-sessionId: " + sessionId + "\r\n\r\n");
    EXPECT_EQ(started.body, "cb()");
    HttpAnswer result;
    waitUntil(
        [&] {
            result = post("/GET_RESULT?callback=cb&cmdId=" + QUrl::toPercentEncoding(commandId), sessionId);
            return result.body != "cb()";
        },
        10s);
    EXPECT_EQ(result.body, "cb(xyz)");
    EXPECT_EQ(post("/SERVER_VERSION?callback=v").body, "v(6.6.10.168)");
}

struct CommandCase
{
    const char *name;
    QByteArray path;
    bool withSession;
    QByteArray statusLine;
    QByteArray body;
};

class ServerCommandTest : public ProtocolTest, public ::testing::WithParamInterface<CommandCase>
{
};

TEST_P(ServerCommandTest, Command_Sent_ExactStatusAndBody)
{
    startServer();
    const QByteArray sessionId = GetParam().withSession ? openSession() : QByteArray();
    const HttpAnswer answer = post(GetParam().path, sessionId);
    EXPECT_EQ(answer.statusLine, GetParam().statusLine);
    EXPECT_EQ(answer.body, GetParam().body);
    EXPECT_FALSE(answer.headerBlock.contains("Set-Cookie"));
}

const QByteArray kNoSessionText = "Session with provided ID doesn't exist.";
const QByteArray kNotFoundText = "The URL you requested was not found.";

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerCommandTest,
    ::testing::Values(
        CommandCase{"version", "/SERVER_VERSION", false, "HTTP/1.1 200 OK", "6.6.10.168"},
        CommandCase{"versionByParameter", "/?cmd=SERVER_VERSION", false, "HTTP/1.1 200 OK", "6.6.10.168"},
        CommandCase{"versionLowerCase", "/server_version", false, "HTTP/1.1 404 Not Found", kNotFoundText},
        CommandCase{"aliveWithoutSession", "/ALIVE", false, "HTTP/1.1 418 No Session", kNoSessionText},
        CommandCase{"aliveWithSession", "/ALIVE", true, "HTTP/1.1 200 OK", ""},
        CommandCase{"setVarWithoutSession", "/SET_SESSION_VAR?key=a&value=b", false,
                    "HTTP/1.1 418 No Session", kNoSessionText},
        CommandCase{"unknownResult", "/GET_RESULT?cmdId=12345", true, "HTTP/1.1 419 No Result",
                    "There is no result for given parameters."},
        CommandCase{"unknownModule", "/Nope/Cmd", false, "HTTP/1.1 404 Not Found", kNotFoundText},
        CommandCase{"unsignedModule", "/Unsigned/Cmd1", false, "HTTP/1.1 404 Not Found", kNotFoundText},
        CommandCase{"unlistedCommand", "/Mod1/Hidden", true, "HTTP/1.1 404 Not Found", kNotFoundText},
        CommandCase{"missingParameter", "/Mod1/Cmd1", true, "HTTP/1.1 400 Bad Request",
                    "The parameters you passed are not valid."},
        CommandCase{"openUnknownModule", "/Nope/OPEN_SESSION", false, "HTTP/1.1 404 Not Found",
                    kNotFoundText},
        CommandCase{"test", "/TEST", false, "HTTP/1.1 200 OK", "OK"}),
    [](const ::testing::TestParamInfo<CommandCase> &info) { return std::string(info.param.name); });

TEST_F(ProtocolTest, ThrowingModule_EachKindOfThrow_500PipeResultDeliveredWith200)
{
    startServer();
    const QByteArray sessionId = openSession();
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"ThrowStd", "500|standard failure"},
        {"ThrowCString", "500|c string failure"},
        {"ThrowBase", "500|not implemented here"},
        {"ThrowOther", "500|Unknown exception wast threw from dll module!"}};
    for (const auto &[command, body] : cases) {
        const HttpAnswer started = post("/Throwing/" + command, sessionId);
        ASSERT_EQ(started.statusCode(), 202) << command.constData();
        const HttpAnswer result = collect(sessionId, started.headers.value("X-VYR-cmdId"));
        EXPECT_EQ(result.statusLine, "HTTP/1.1 200 OK") << command.constData();
        EXPECT_EQ(result.body, body);
    }
}

TEST_F(ProtocolTest, Sessions_ValuesFromOpenAndSet_ReachTheModule)
{
    startServer();
    const QByteArray vars =
        QUrl::toPercentEncoding(R"([{"key":"fromOpen","value":"one"},{"key":"n","value":2}])");
    const QByteArray sessionId = post("/Mod1/OPEN_SESSION?sessionVars=" + vars).body;
    ASSERT_TRUE(isBracedUuid(sessionId));
    EXPECT_EQ(post("/SET_SESSION_VAR?key=fromSet&value=two", sessionId).statusLine, "HTTP/1.1 200 OK");
    for (const auto &[key, expected] :
         {std::pair<QByteArray, QByteArray>{"fromOpen", "one"}, {"fromSet", "two"}}) {
        const HttpAnswer started = post("/Mod1/SessionValue?key=" + key, sessionId);
        EXPECT_EQ(collect(sessionId, started.headers.value("X-VYR-cmdId")).body, expected) << key.constData();
    }
    EXPECT_EQ(post("/OPEN_SESSION", sessionId).body, sessionId);
}

TEST_F(ProtocolTest, CloseSession_Twice_SecondIs418AndNoTeardownFollows)
{
    m_oServer.setIniValue("timeout/interval", "500");
    startServer();
    const QByteArray sessionId = openSession("/Mod1/OPEN_SESSION");
    const HttpAnswer closed = post("/CLOSE_SESSION", sessionId);
    EXPECT_EQ(closed.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(closed.headers.value("X-VYR-sessionId"), "");
    EXPECT_EQ(post("/CLOSE_SESSION", sessionId).statusLine, "HTTP/1.1 418 No Session");
    EXPECT_TRUE(m_oServer.waitForLogLine("Module Mod1 unloaded"));
    // Checking that something does not happen: twice the interval is the bound.
    EXPECT_FALSE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + sessionId, 1000ms));
}

TEST_F(ProtocolTest, Timeout_SilentSession_TornDownResultsDroppedModuleUnloaded)
{
    m_oServer.setIniValue("timeout/interval", "700");
    startServer();
    const QByteArray sessionId = openSession("/Mod1/OPEN_SESSION");
    const HttpAnswer started = post("/Mod1/Cmd1?data=kept", sessionId);
    ASSERT_EQ(started.statusCode(), 202);
    ASSERT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + sessionId, 10s));
    EXPECT_TRUE(m_oServer.waitForLogLine("Module Mod1 unloaded"));
    EXPECT_EQ(post("/ALIVE", sessionId).statusLine, "HTTP/1.1 418 No Session");
    EXPECT_EQ(
        post("/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(started.headers.value("X-VYR-cmdId")), sessionId)
            .statusLine,
        "HTTP/1.1 419 No Result");
}

TEST_F(ProtocolTest, Timeout_RequestsMoreOftenThanInterval_SessionStaysAlive)
{
    m_oServer.setIniValue("timeout/interval", "800");
    startServer();
    const QByteArray sessionId = openSession();
    const auto until = std::chrono::steady_clock::now() + 1600ms;
    while (std::chrono::steady_clock::now() < until)
        ASSERT_EQ(post("/ALIVE", sessionId).statusCode(), 200);
    EXPECT_FALSE(m_oServer.logText().contains("Timeout occured. sessionID=" + sessionId));
}

TEST_F(ProtocolTest, Gui_SecondGuiCommandWhileOneRuns_503ThenAcceptedAfterTimeoutClosesWindow)
{
    m_oServer.setIniValue("timeout/interval", "1500");
    startServer({}); // GUI-capable, on the off-screen platform
    const QByteArray first = openSession();
    const HttpAnswer window = post("/Gui/ShowWindow", first);
    ASSERT_EQ(window.statusCode(), 202);
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
    AccountClient other(m_iPort, s_poOther);
    EXPECT_EQ(other.post("/SERVER_VERSION?loglevel=4&maxSize=1000").statusCode(), 200);
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

TEST_F(ProtocolTest, ArchType_Requested_IndentedJsonWithFourKeys)
{
    startServer();
    const HttpAnswer answer = post("/ARCH_TYPE");
    EXPECT_EQ(answer.statusCode(), 200);
    EXPECT_FALSE(answer.headers.value("X-VYR-sessionId").isEmpty()); // it opens a session, unlike the others
    const QJsonObject object = QJsonDocument::fromJson(answer.body).object();
    EXPECT_EQ(object.keys(), (QStringList{"buildArchitecture", "kernelType", "kernelVersion", "resultCode"}));
    EXPECT_EQ(object.value("resultCode").toInt(), 200);
    EXPECT_EQ(object.value("kernelType").toString(), "linux");
    EXPECT_TRUE(answer.body.startsWith("{\n    \"buildArchitecture\": "));
}

TEST_F(ProtocolTest, HostileIds_InvalidSessionAndCommandIds_EmptiedAndNeverCrossSessions)
{
    startServer();
    const QByteArray sessionId = openSession();
    const HttpAnswer mine = post("/Mod1/Cmd1?data=secret", sessionId);
    const QByteArray commandId = mine.headers.value("X-VYR-cmdId");
    const QByteArray intruder = openSession();
    EXPECT_EQ(collect(intruder, commandId).statusLine, "HTTP/1.1 419 No Result");
    const HttpAnswer hostile = post("/ALIVE", "<script>", "X-VYR-cmdId: ../../etc/passwd\r\n");
    EXPECT_EQ(hostile.statusLine, "HTTP/1.1 418 No Session");
    EXPECT_EQ(hostile.headers.value("X-VYR-sessionId"), "");
    EXPECT_TRUE(isBracedUuid(hostile.headers.value("X-VYR-cmdId")));
    EXPECT_EQ(collect(sessionId, commandId).body, "secret");
}

// Permissions: clients of other accounts and of root. Another account's client may also
// borrow the server's own port number on a second loopback address: it is still that account.

class OtherAccountTest : public ProtocolTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(OtherAccountTest, ModuleCommands_RefusedUnlessUnprivilegedAndOnlyOwnJobPolled)
{
    startServer();
    AccountClient other(m_iPort, s_poOther, GetParam() ? QStringLiteral("127.0.0.2") : QString(), m_iPort);
    const QByteArray otherSession = other.post("/OPEN_SESSION").body;
    ASSERT_TRUE(isBracedUuid(otherSession));
    const QByteArray session = "X-VYR-sessionId: " + otherSession + "\r\n";
    EXPECT_EQ(other.post("/Mod1/Cmd1?data=a", session).statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(other.post("/Nope/Cmd1", session).statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(other.post("/Unprivileged/Closed", session).statusLine, "HTTP/1.1 403 Forbidden");
    const HttpAnswer open = other.post("/Unprivileged/Open", session);
    ASSERT_EQ(open.statusCode(), 202);
    const QByteArray openId = open.headers.value("X-VYR-cmdId");
    EXPECT_EQ(collect(otherSession, openId, &other).statusLine, "HTTP/1.1 200 OK");

    const QByteArray ownerSession = openSession();
    const HttpAnswer ownerJob = post("/Mod1/Cmd1?data=private", ownerSession);
    const QByteArray ownerId = ownerJob.headers.value("X-VYR-cmdId");
    const HttpAnswer stolen = other.post("/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(ownerId),
                                         "X-VYR-sessionId: " + ownerSession + "\r\n");
    // GET_RESULT names no module, so a refusal reads as not found.
    EXPECT_EQ(stolen.statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(collect(ownerSession, ownerId).body, "private");
}

INSTANTIATE_TEST_SUITE_P(Clients, OtherAccountTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "serverPortOnSecondLoopback" : "anyPort");
                         });

TEST_F(ProtocolTest, RootClient_OnUserServer_OnlySystemAccountModules)
{
    startServer();
    const QByteArray sessionId = TlsClient::post(m_iPort, "/OPEN_SESSION").body;
    ASSERT_TRUE(isBracedUuid(sessionId));
    const QByteArray header = "X-VYR-sessionId: " + sessionId + "\r\n";
    // Refused before the module is even loaded, so the refusal reads as an unknown module.
    EXPECT_EQ(TlsClient::post(m_iPort, "/Unprivileged/Open", header).statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(TlsClient::post(m_iPort, "/GET_RESULT?cmdId=1", header).statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(TlsClient::post(m_iPort, "/SERVER_VERSION", header).statusLine, "HTTP/1.1 200 OK");
    const HttpAnswer upgrader = TlsClient::post(m_iPort, "/updater/Which", header);
    ASSERT_EQ(upgrader.statusLine, "HTTP/1.1 202 Accepted");
    const QByteArray poll =
        "/updater/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(upgrader.headers.value("X-VYR-cmdId"));
    HttpAnswer result;
    waitUntil(
        [&] {
            result = TlsClient::post(m_iPort, poll, header);
            return result.statusCode() != 202;
        },
        10s);
    EXPECT_EQ(result.body, "Upgrader");
}

TEST_F(ProtocolTest, Dispatcher_GetUserServerPortFromUserProcess_ThatUsersPort)
{
    startServer();
    ServerProcess dispatcher;
    dispatcher.setIniValue("listener/port", QString::number(m_iConfiguredPort));
    dispatcher.setIniValue("listener/windowsServerMode", "true");
    ASSERT_TRUE(dispatcher.provisionCertificates());
    ASSERT_TRUE(dispatcher.installModules());
    ASSERT_TRUE(dispatcher.start());
    ASSERT_EQ(dispatcher.waitForListeningPort(), m_iConfiguredPort);
    AccountClient owner(m_iConfiguredPort, s_poOwner);
    const HttpAnswer answer = owner.post("/GET_USER_SERVER_PORT");
    EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(answer.body, QByteArray::number(m_iPort));
    AccountClient other(m_iConfiguredPort, s_poOther);
    const HttpAnswer none = other.post("/GET_USER_SERVER_PORT");
    EXPECT_EQ(none.statusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(none.body,
              "Could not establish connection with VYR server. Server on user accoutn is probably down.");
    EXPECT_EQ(post("/GET_USER_SERVER_PORT").statusLine, "HTTP/1.1 404 Not Found");
    // The dispatcher's own port number on another loopback address makes nobody root.
    AccountClient borrower(m_iConfiguredPort, s_poOther, QStringLiteral("127.0.0.2"), m_iConfiguredPort);
    const QByteArray session = "X-VYR-sessionId: " + borrower.post("/OPEN_SESSION").body + "\r\n";
    EXPECT_EQ(borrower.post("/updater/Which", session).statusLine, "HTTP/1.1 403 Forbidden");
}

// A user server that must ask the dispatcher who its client is. A dispatcher that never
// answers costs each connection one bounded wait, after which the client counts as another
// account, pipelined requests and all; a client that leaves meanwhile harms nothing. Once a
// real dispatcher answers, a new connection is its owner's again.
TEST_F(ProtocolTest, BlindUserServer_SilentThenRealDispatcher_OtherAccountUntilItAnswers)
{
    m_oServer.useExecutable(QStringLiteral(VYR_BLIND_SERVER_PATH));
    auto silent = std::make_unique<QTcpServer>();
    ASSERT_TRUE(silent->listen(QHostAddress::LocalHost, m_iConfiguredPort));
    startServer();
    {
        AccountClient leaving(m_iPort, s_poOwner);
        ::kill(pid_t(leaving.pid()), SIGKILL);
    }
    m_poClient->send(AccountClient::postRequest("/Mod1/Cmd1?data=a") +
                     AccountClient::postRequest("/SERVER_VERSION") +
                     AccountClient::postRequest("/Mod1/Cmd1?data=b"));
    EXPECT_EQ(m_poClient->receive().statusLine, "HTTP/1.1 403 Forbidden");
    // The client reads one answer per request it is given; an empty one reads the next.
    EXPECT_EQ(m_poClient->request({}).body, "6.6.10.168");
    EXPECT_EQ(m_poClient->request({}).statusLine, "HTTP/1.1 403 Forbidden");
    EXPECT_TRUE(m_oServer.waitForLogLine("Dispatcher not reached: "));

    silent.reset();
    ServerProcess dispatcher;
    dispatcher.setIniValue("listener/port", QString::number(m_iConfiguredPort));
    ASSERT_TRUE(dispatcher.provisionCertificates());
    ASSERT_TRUE(dispatcher.start());
    ASSERT_EQ(dispatcher.waitForListeningPort(), m_iConfiguredPort);
    ASSERT_TRUE(m_poClient->reconnect());
    const QByteArray sessionId = openSession();
    const HttpAnswer started = post("/Mod1/Cmd1?data=asked", sessionId);
    EXPECT_EQ(started.statusLine, "HTTP/1.1 202 Accepted");
    EXPECT_EQ(collect(sessionId, started.headers.value("X-VYR-cmdId")).body, "asked");
    EXPECT_TRUE(m_oServer.waitForLogLine("oClientDomainAndUsername=" + QSysInfo::machineHostName() + "/" +
                                         s_poOwner->name()));
}

} // namespace

namespace {

TEST_F(ProtocolTest, Preflight_TableModuleAndFreeModule_AccessControlAndSecurityHeaders)
{
    startServer();
    TlsClient client;
    ASSERT_TRUE(client.connectTo(m_iPort));
    client.send("OPTIONS /Mod1/Cmd1 HTTP/1.1\r\nOrigin: https://elsewhere.example\r\n\r\n");
    EXPECT_EQ(client.readAnswer().headerBlock,
              "HTTP/1.1 200 OK\r\n"
              "Access-Control-Allow-Credentials: true\r\n"
              "Access-Control-Allow-Headers: Content-Type, Authorization, X-Requested-With, X-VYR-cmdId, "
              "X-VYR-sessionId\r\n"
              "Access-Control-Allow-Methods: POST, OPTIONS\r\n"
              "Access-Control-Allow-Origin: https://elsewhere.example\r\n"
              "Access-Control-Max-Age: 1000\r\n"
              "Cache-control: no-store\r\n"
              "Content-Length: 0\r\n"
              "Content-Security-Policy: default-src 'self'\r\n"
              "Pragma: no-cache\r\n"
              "Strict-Transport-Security: max-age=31536000\r\n"
              "X-Content-Type-Options: nosniff\r\n"
              "X-Frame-Options: sameorigin\r\n"
              "X-XSS-Protection: 1; mode=block\r\n\r\n");
    client.send("OPTIONS /brevalo/Sign HTTP/1.1\r\nOrigin: https://elsewhere.example\r\n\r\n");
    EXPECT_EQ(client.readAnswer().headers.value("Access-Control-Allow-Origin"), "null");
}

} // namespace
