#include "InProcessServer.h"
#include "support/QtPrinters.h"
#include "support/WaitUntil.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

const QByteArray kVersion = "6.6.10.168";
const QByteArray kNoSessionText = "Session with provided ID doesn't exist.";
const QByteArray kNotFoundText = "The URL you requested was not found.";
const QByteArray kForbiddenText = "You don't have permissions to access this resource.";

QByteArray corsHeaderBlock(int code, const QByteArray &text, const QByteArray &origin, qsizetype length,
                           const QByteArray &commandId, const QByteArray &sessionId)
{
    return "HTTP/1.1 " + QByteArray::number(code) + ' ' + text +
           "\r\nAccess-Control-Allow-Credentials: true\r\nAccess-Control-Allow-Origin: " + origin +
           "\r\nAccess-Control-Expose-Headers: X-VYR-sessionId, X-VYR-cmdId\r\nCache-control: no-store\r\n"
           "Content-Length: " +
           QByteArray::number(length) +
           "\r\nContent-Security-Policy: default-src 'self'\r\nContent-Type: text/plain\r\nPragma: "
           "no-cache\r\n"
           "Strict-Transport-Security: max-age=31536000\r\nX-Content-Type-Options: nosniff\r\n"
           "X-Frame-Options: sameorigin\r\nX-VYR-cmdId: " +
           commandId + "\r\nX-VYR-sessionId: " + sessionId + "\r\nX-XSS-Protection: 1; mode=block\r\n\r\n";
}

// Server commands, and which client may run what: the session, when the case has one, is
// opened by the same client.
struct CommandCase
{
    const char *name;
    Peer peer;
    QByteArray path;
    bool withSession;
    QByteArray statusLine;
    QByteArray body;
};

class CommandTest : public ::testing::TestWithParam<CommandCase>
{
protected:
    InProcessServer m_oServer;
};

TEST_P(CommandTest, Command_Sent_ExactStatusAndBody)
{
    const CommandCase &c = GetParam();
    const QByteArray sessionId =
        c.withSession ? m_oServer.openSession("/OPEN_SESSION", c.peer) : QByteArray();
    ASSERT_EQ(c.withSession, isBracedUuid(sessionId));
    const HttpAnswer answer = m_oServer.post(c.path, sessionId, {}, c.peer);
    EXPECT_EQ(answer.statusLine, c.statusLine);
    EXPECT_EQ(answer.body, c.body);
    EXPECT_FALSE(answer.headerBlock.contains("Set-Cookie"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandTest,
    ::testing::Values(
        CommandCase{"version", Peer::Own, "/SERVER_VERSION", false, "HTTP/1.1 200 OK", kVersion},
        CommandCase{"versionByParameter", Peer::Own, "/?cmd=SERVER_VERSION", false, "HTTP/1.1 200 OK",
                    kVersion},
        CommandCase{"versionLowerCase", Peer::Own, "/server_version", false, "HTTP/1.1 404 Not Found",
                    kNotFoundText},
        CommandCase{"aliveWithoutSession", Peer::Own, "/ALIVE", false, "HTTP/1.1 418 No Session",
                    kNoSessionText},
        CommandCase{"aliveWithSession", Peer::Own, "/ALIVE", true, "HTTP/1.1 200 OK", ""},
        CommandCase{"setVarWithoutSession", Peer::Own, "/SET_SESSION_VAR?key=a&value=b", false,
                    "HTTP/1.1 418 No Session", kNoSessionText},
        CommandCase{"unknownResult", Peer::Own, "/GET_RESULT?cmdId=12345", true, "HTTP/1.1 419 No Result",
                    "There is no result for given parameters."},
        CommandCase{"unknownModule", Peer::Own, "/Nope/Cmd", false, "HTTP/1.1 404 Not Found", kNotFoundText},
        CommandCase{"unsignedModule", Peer::Own, "/Unsigned/Cmd1", false, "HTTP/1.1 404 Not Found",
                    kNotFoundText},
        CommandCase{"unlistedCommand", Peer::Own, "/Mod1/Hidden", true, "HTTP/1.1 404 Not Found",
                    kNotFoundText},
        CommandCase{"missingParameter", Peer::Own, "/Mod1/Cmd1", true, "HTTP/1.1 400 Bad Request",
                    "The parameters you passed are not valid."},
        CommandCase{"openUnknownModule", Peer::Own, "/Nope/OPEN_SESSION", false, "HTTP/1.1 404 Not Found",
                    kNotFoundText},
        CommandCase{"test", Peer::Own, "/TEST", false, "HTTP/1.1 200 OK", "OK"},
        CommandCase{"ownModuleCommand", Peer::Own, "/Mod1/Cmd1?data=a", true, "HTTP/1.1 202 Accepted", ""},
        CommandCase{"otherModuleCommand", Peer::Other, "/Mod1/Cmd1?data=a", true, "HTTP/1.1 403 Forbidden",
                    kForbiddenText},
        CommandCase{"otherUnknownModule", Peer::Other, "/Nope/Cmd1", true, "HTTP/1.1 404 Not Found",
                    kNotFoundText},
        CommandCase{"otherPrivileged", Peer::Other, "/Unprivileged/Closed", true, "HTTP/1.1 403 Forbidden",
                    kForbiddenText},
        CommandCase{"otherUnprivileged", Peer::Other, "/Unprivileged/Open", true, "HTTP/1.1 202 Accepted",
                    ""},
        CommandCase{"otherServerCommand", Peer::Other, "/SERVER_VERSION", true, "HTTP/1.1 200 OK", kVersion},
        // Root is refused before the module is even loaded, so the refusal reads as unknown.
        CommandCase{"rootUserModule", Peer::System, "/Unprivileged/Open", true, "HTTP/1.1 404 Not Found",
                    kNotFoundText},
        CommandCase{"rootResult", Peer::System, "/GET_RESULT?cmdId=1", true, "HTTP/1.1 404 Not Found",
                    kNotFoundText},
        CommandCase{"rootServerCommand", Peer::System, "/SERVER_VERSION", true, "HTTP/1.1 200 OK", kVersion},
        CommandCase{"rootSystemModule", Peer::System, "/updater/Which", true, "HTTP/1.1 202 Accepted", ""}),
    [](const ::testing::TestParamInfo<CommandCase> &info) { return std::string(info.param.name); });

// Refusals the validator answers before any command is looked at.
struct ValidationCase
{
    const char *name;
    QByteArray request;
    QByteArray headerBlock;
    QByteArray body;
};

class ValidationTest : public ::testing::TestWithParam<ValidationCase>
{
};

TEST_P(ValidationTest, Request_Refused_ExactAnswer)
{
    InProcessServer server;
    const HttpAnswer answer = server.send(GetParam().request);
    EXPECT_EQ(answer.headerBlock, GetParam().headerBlock);
    EXPECT_EQ(answer.body, GetParam().body);
}

const QByteArray k400 = "HTTP/1.1 400 Bad Request\r\nContent-Length: 31\r\n\r\n";
const QByteArray k404 = "HTTP/1.1 404 File Not Found\r\nContent-Length: 34\r\n\r\n";
const QByteArray kStatus = "HTTP/1.1 200 OK\r\nContent-Length: 55\r\n\r\n";
const QByteArray kStatusBody = "<h1>Veltrane Crypto Server v6.6.10.168 is running </h1>";

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidationTest,
    ::testing::Values(
        ValidationCase{"status", "GET /STATUS HTTP/1.1\r\n\r\n", kStatus, kStatusBody},
        ValidationCase{"getRoot", "GET / HTTP/1.1\r\n\r\n", k404, "<h1>404 error: File Not Found</h1>"},
        ValidationCase{"put", "PUT /status HTTP/1.1\r\n\r\n", k404, "<h1>404 error: File Not Found</h1>"},
        ValidationCase{"dotInPath", "POST /a.dll HTTP/1.1\r\n\r\n", k404,
                       "<h1>404 error: File Not Found</h1>"},
        ValidationCase{"longPath", "POST /" + QByteArray(128, 'a') + " HTTP/1.1\r\n\r\n", k404,
                       "<h1>404 error: File Not Found</h1>"},
        ValidationCase{"longMethod", QByteArray(129, 'P') + " / HTTP/1.1\r\n\r\n", k400,
                       "<h1>400 error: Bad Request</h1>"},
        ValidationCase{"longHeader", "POST / HTTP/1.1\r\nX-A: " + QByteArray(257, 'v') + "\r\n\r\n", k400,
                       "<h1>400 error: Bad Request</h1>"},
        ValidationCase{"longCookie", "POST / HTTP/1.1\r\nCookie: c=" + QByteArray(129, 'v') + "\r\n\r\n",
                       k400, "<h1>400 error: Bad Request</h1>"},
        ValidationCase{"headerAtLimitDecodedPath",
                       "GET /%73tatus HTTP/1.1\r\nX-A: " + QByteArray(256, 'v') + "\r\n\r\n", kStatus,
                       kStatusBody}),
    [](const ::testing::TestParamInfo<ValidationCase> &info) { return std::string(info.param.name); });

class RequestPathTest : public ::testing::Test
{
protected:
    HttpAnswer collect(const QByteArray &sessionId, const HttpAnswer &started, Peer peer = Peer::Own)
    {
        return m_oServer.collect(sessionId, started.headers.value("X-VYR-cmdId"), peer);
    }

    InProcessServer m_oServer;
};

TEST_F(RequestPathTest, WorkedExample_ModuleCommandWithoutSession_202ThenResultOnceThen419)
{
    const HttpAnswer started = m_oServer.post("/Mod1/Cmd1?data=abc", {}, "Origin: https://page.example\r\n");
    const QByteArray commandId = started.headers.value("X-VYR-cmdId");
    const QByteArray sessionId = started.headers.value("X-VYR-sessionId");
    EXPECT_TRUE(isBracedUuid(commandId)) << commandId.constData();
    EXPECT_TRUE(isBracedUuid(sessionId)) << sessionId.constData();
    EXPECT_EQ(started.headerBlock,
              corsHeaderBlock(202, "Accepted", "https://page.example", 0, commandId, sessionId));
    EXPECT_EQ(started.body, "");

    const HttpAnswer result = m_oServer.collect(sessionId, commandId);
    EXPECT_EQ(result.headerBlock, corsHeaderBlock(200, "OK", "*", 3, commandId, sessionId));
    EXPECT_EQ(result.body, "abc");
    EXPECT_EQ(m_oServer.collect(sessionId, commandId).statusLine, "HTTP/1.1 419 No Result");
}

// A job belongs to its session, and a client of another account collects only the jobs it
// was allowed to start; root's system-account module delivers to root.
TEST_F(RequestPathTest, Results_OtherAccountAndRoot_OnlyTheirOwnJobs)
{
    const QByteArray other = m_oServer.openSession("/OPEN_SESSION", Peer::Other);
    const HttpAnswer open = m_oServer.post("/Unprivileged/Open", other, {}, Peer::Other);
    EXPECT_EQ(collect(other, open, Peer::Other).body, "open");

    const QByteArray owner = m_oServer.openSession();
    const HttpAnswer job = m_oServer.post("/Mod1/Cmd1?data=private", owner);
    // GET_RESULT names no module, so a refusal reads as not found.
    EXPECT_EQ(collect(owner, job, Peer::Other).statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(collect(owner, job).body, "private");

    const QByteArray root = m_oServer.openSession("/OPEN_SESSION", Peer::System);
    const HttpAnswer upgrader = m_oServer.post("/updater/Which", root, {}, Peer::System);
    const QByteArray poll =
        "/updater/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(upgrader.headers.value("X-VYR-cmdId"));
    HttpAnswer result;
    waitUntil(
        [&] {
            result = m_oServer.post(poll, root, {}, Peer::System);
            return result.statusCode() != 202;
        },
        std::chrono::seconds(20));
    EXPECT_EQ(result.body, "Upgrader");
}

TEST_F(RequestPathTest, RunningJob_GetResultBeforeRelease_202ThenReleasedResult)
{
    const QTemporaryDir files;
    const QString started = files.filePath(QStringLiteral("started"));
    const QString release = files.filePath(QStringLiteral("release"));
    const QByteArray sessionId = m_oServer.openSession();
    const HttpAnswer job = m_oServer.post("/Slow/Wait?started=" + QUrl::toPercentEncoding(started) +
                                              "&release=" + QUrl::toPercentEncoding(release),
                                          sessionId);
    ASSERT_EQ(job.statusCode(), 202);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(started); }, std::chrono::seconds(10)));
    const HttpAnswer running = m_oServer.post(
        "/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(job.headers.value("X-VYR-cmdId")), sessionId);
    EXPECT_EQ(running.statusLine, "HTTP/1.1 202 Accepted");
    EXPECT_EQ(running.body, "");
    QFile(release).open(QIODevice::WriteOnly);
    EXPECT_EQ(collect(sessionId, job).body, "released");
}

TEST_F(RequestPathTest, Jsonp_CallbackParameter_WrappedBodyAndNoCorsHeaders)
{
    const QByteArray sessionId = m_oServer.openSession();
    const HttpAnswer started = m_oServer.post("/Mod1/Cmd1?data=xyz&callback=cb", sessionId);
    const QByteArray commandId = started.headers.value("X-VYR-cmdId");
    EXPECT_EQ(started.headerBlock, "HTTP/1.1 202 Accepted\r\nContent-Length: 4\r\n"
                                   "Content-Type: application/javascript\r\nX-VYR-cmdId: " +
                                       commandId + "\r\nX-VYR-sessionId: " + sessionId + "\r\n\r\n");
    EXPECT_EQ(started.body, "cb()");
    HttpAnswer result;
    waitUntil(
        [&] {
            result = m_oServer.post("/GET_RESULT?callback=cb&cmdId=" + QUrl::toPercentEncoding(commandId),
                                    sessionId);
            return result.body != "cb()";
        },
        std::chrono::seconds(10));
    EXPECT_EQ(result.body, "cb(xyz)");
    EXPECT_EQ(m_oServer.post("/SERVER_VERSION?callback=v").body, "v(6.6.10.168)");
}

TEST_F(RequestPathTest, ThrowingModule_EachKindOfThrow_500PipeResultDeliveredWith200)
{
    const QByteArray sessionId = m_oServer.openSession();
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"ThrowStd", "500|standard failure"},
        {"ThrowCString", "500|c string failure"},
        {"ThrowBase", "500|not implemented here"},
        {"ThrowOther", "500|Unknown exception wast threw from dll module!"}};
    for (const auto &[command, body] : cases) {
        const HttpAnswer started = m_oServer.post("/Throwing/" + command, sessionId);
        ASSERT_EQ(started.statusCode(), 202) << command.constData();
        const HttpAnswer result = collect(sessionId, started);
        EXPECT_EQ(result.statusLine, "HTTP/1.1 200 OK") << command.constData();
        EXPECT_EQ(result.body, body);
    }
}

TEST_F(RequestPathTest, Sessions_ValuesFromOpenAndSet_ReachTheModule)
{
    const QByteArray vars =
        QUrl::toPercentEncoding(R"([{"key":"fromOpen","value":"one"},{"key":"n","value":2}])");
    const QByteArray sessionId = m_oServer.openSession("/Mod1/OPEN_SESSION?sessionVars=" + vars);
    ASSERT_TRUE(isBracedUuid(sessionId));
    EXPECT_EQ(m_oServer.post("/SET_SESSION_VAR?key=fromSet&value=two", sessionId).statusLine,
              "HTTP/1.1 200 OK");
    for (const auto &[key, expected] :
         {std::pair<QByteArray, QByteArray>{"fromOpen", "one"}, {"fromSet", "two"}})
        EXPECT_EQ(collect(sessionId, m_oServer.post("/Mod1/SessionValue?key=" + key, sessionId)).body,
                  expected);
    EXPECT_EQ(m_oServer.post("/OPEN_SESSION", sessionId).body, sessionId);
}

TEST_F(RequestPathTest, HostileIds_InvalidSessionAndCommandIds_EmptiedAndNeverCrossSessions)
{
    const QByteArray sessionId = m_oServer.openSession();
    const HttpAnswer mine = m_oServer.post("/Mod1/Cmd1?data=secret", sessionId);
    EXPECT_EQ(collect(m_oServer.openSession(), mine).statusLine, "HTTP/1.1 419 No Result");
    const HttpAnswer hostile = m_oServer.post("/ALIVE", "<script>", "X-VYR-cmdId: ../../etc/passwd\r\n");
    EXPECT_EQ(hostile.statusLine, "HTTP/1.1 418 No Session");
    EXPECT_EQ(hostile.headers.value("X-VYR-sessionId"), "");
    EXPECT_TRUE(isBracedUuid(hostile.headers.value("X-VYR-cmdId")));
    EXPECT_EQ(collect(sessionId, mine).body, "secret");
}

TEST_F(RequestPathTest, ArchType_Requested_IndentedJsonWithFourKeys)
{
    const HttpAnswer answer = m_oServer.post("/ARCH_TYPE");
    EXPECT_EQ(answer.statusCode(), 200);
    EXPECT_FALSE(answer.headers.value("X-VYR-sessionId").isEmpty()); // it opens a session, unlike the others
    const QJsonObject object = QJsonDocument::fromJson(answer.body).object();
    EXPECT_EQ(object.keys(), (QStringList{"buildArchitecture", "kernelType", "kernelVersion", "resultCode"}));
    EXPECT_EQ(object.value("resultCode").toInt(), 200);
    EXPECT_EQ(object.value("kernelType").toString(), "linux");
    EXPECT_TRUE(answer.body.startsWith("{\n    \"buildArchitecture\": "));
}

TEST_F(RequestPathTest, Preflight_TableModuleAndFreeModule_AccessControlAndSecurityHeaders)
{
    EXPECT_EQ(m_oServer.send("OPTIONS /Mod1/Cmd1 HTTP/1.1\r\nOrigin: https://elsewhere.example\r\n\r\n")
                  .headerBlock,
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
    const HttpAnswer restricted =
        m_oServer.send("OPTIONS /brevalo/Sign HTTP/1.1\r\nOrigin: https://elsewhere.example\r\n\r\n");
    EXPECT_EQ(restricted.headers.value("Access-Control-Allow-Origin"), "null");
}

// Sessions that fall silent for the interval are torn down; any request keeps one alive.
class TimeoutTest : public ::testing::Test
{
protected:
    static constexpr std::chrono::milliseconds kInterval{600};
    InProcessServer m_oServer{{{QStringLiteral("timeout/interval"), QString::number(kInterval.count())}}};
};

TEST_F(TimeoutTest, SilentSession_TornDownResultsDroppedModuleUnloaded)
{
    const QByteArray sessionId = m_oServer.openSession("/Mod1/OPEN_SESSION");
    const HttpAnswer started = m_oServer.post("/Mod1/Cmd1?data=kept", sessionId);
    ASSERT_EQ(started.statusCode(), 202);
    ASSERT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + sessionId));
    EXPECT_TRUE(m_oServer.waitForLogLine("Module Mod1 unloaded"));
    EXPECT_EQ(m_oServer.post("/ALIVE", sessionId).statusLine, "HTTP/1.1 418 No Session");
    EXPECT_EQ(m_oServer
                  .post("/GET_RESULT?cmdId=" + QUrl::toPercentEncoding(started.headers.value("X-VYR-cmdId")),
                        sessionId)
                  .statusLine,
              "HTTP/1.1 419 No Result");
}

TEST_F(TimeoutTest, RequestsMoreOftenThanInterval_SessionStaysAlive)
{
    const QByteArray sessionId = m_oServer.openSession();
    const QDeadlineTimer until(2 * kInterval);
    while (!until.hasExpired()) {
        ASSERT_EQ(m_oServer.post("/ALIVE", sessionId).statusCode(), 200);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_TRUE(m_oServer.logLines().filter("Timeout occured. sessionID=" + sessionId).isEmpty());
}

} // namespace
