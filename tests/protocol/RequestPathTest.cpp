#include "InProcessServer.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

const QByteArray kVersion = "6.6.10.168";
const QByteArray kNoSessionText = "Session with provided ID doesn't exist.";
const QByteArray kNotFoundText = "The URL you requested was not found.";
const QByteArray kForbiddenText = "You don't have permissions to access this resource.";
const QByteArray k200 = "HTTP/1.1 200 OK";
const QByteArray k202 = "HTTP/1.1 202 Accepted";
const QByteArray k403 = "HTTP/1.1 403 Forbidden";
const QByteArray k404 = "HTTP/1.1 404 Not Found";
const QByteArray k418 = "HTTP/1.1 418 No Session";
const QByteArray k419 = "HTTP/1.1 419 No Result";

QByteArray corsHeaderBlock(const QByteArray &statusLine, const QByteArray &origin, qsizetype length,
                           const QByteArray &commandId, const QByteArray &sessionId)
{
    return statusLine +
           "\r\nAccess-Control-Allow-Credentials: true\r\nAccess-Control-Allow-Origin: " + origin +
           "\r\nAccess-Control-Expose-Headers: X-VYR-sessionId, X-VYR-cmdId\r\nCache-control: no-store\r\n"
           "Content-Length: " +
           QByteArray::number(length) +
           "\r\nContent-Security-Policy: default-src 'self'\r\n"
           "Content-Type: text/plain\r\nPragma: no-cache\r\nStrict-Transport-Security: max-age=31536000\r\n"
           "X-Content-Type-Options: nosniff\r\nX-Frame-Options: sameorigin\r\nX-VYR-cmdId: " +
           commandId + "\r\nX-VYR-sessionId: " + sessionId + "\r\nX-XSS-Protection: 1; mode=block\r\n\r\n";
}

const QByteArray kNotFound = k404 + ' ' + kNotFoundText;
const QByteArray kNoSession = k418 + ' ' + kNoSessionText;
const QByteArray kForbidden = k403 + ' ' + kForbiddenText;
const QByteArray kVersionAnswer = k200 + ' ' + kVersion;
const QByteArray k400Page =
    "HTTP/1.1 400 Bad Request\r\nContent-Length: 31\r\n\r\n<h1>400 error: Bad Request</h1>";
const QByteArray k404Page =
    "HTTP/1.1 404 File Not Found\r\nContent-Length: 34\r\n\r\n<h1>404 error: File Not Found</h1>";
const QByteArray kStatusPage =
    "HTTP/1.1 200 OK\r\nContent-Length: 55\r\n\r\n<h1>Veltrane Crypto Server v6.6.10.168 is running </h1>";

// Server commands and which client may run what (the session, when the case has one, is
// opened by the same client); then refusals the validator answers before any command is
// looked at, and the status page.
struct RequestCase
{
    const char *name;
    Peer peer;
    QByteArray request; // a path to POST to, or a whole request (ending in an empty line)
    bool withSession;
    QByteArray answer; // status line, a space and the body; or the whole answer to a whole request
};

class RequestTest : public ::testing::TestWithParam<RequestCase>
{
protected:
    InProcessServer m_oServer;
};

TEST_P(RequestTest, Request_Sent_ExactAnswer)
{
    const RequestCase &c = GetParam();
    const QByteArray sessionId =
        c.withSession ? m_oServer.openSession("/OPEN_SESSION", c.peer) : QByteArray();
    ASSERT_EQ(c.withSession, isBracedUuid(sessionId));
    if (c.request.endsWith("\r\n\r\n")) {
        const HttpAnswer answer = m_oServer.send(c.request);
        EXPECT_EQ(answer.headerBlock + answer.body, c.answer);
        return;
    }
    const HttpAnswer answer = m_oServer.post(c.request, sessionId, {}, c.peer);
    EXPECT_EQ(answer.statusLine + ' ' + answer.body, c.answer);
    EXPECT_FALSE(answer.headerBlock.contains("Set-Cookie"));
}

const RequestCase kRequestCases[] = {
    {"version", Peer::Own, "/SERVER_VERSION", false, kVersionAnswer},
    {"versionByParameter", Peer::Own, "/?cmd=SERVER_VERSION", false, kVersionAnswer},
    {"versionLowerCase", Peer::Own, "/server_version", false, kNotFound},
    {"aliveWithoutSession", Peer::Own, "/ALIVE", false, kNoSession},
    {"aliveWithSession", Peer::Own, "/ALIVE", true, k200 + ' '},
    {"setVarWithoutSession", Peer::Own, "/SET_SESSION_VAR?key=a&value=b", false, kNoSession},
    {"unknownResult", Peer::Own, "/GET_RESULT?cmdId=12345", true,
     k419 + " There is no result for given parameters."},
    {"unknownModule", Peer::Own, "/Nope/Cmd", false, kNotFound},
    {"unsignedModule", Peer::Own, "/Unsigned/Cmd1", false, kNotFound},
    {"unlistedCommand", Peer::Own, "/Mod1/Hidden", true, kNotFound},
    {"missingParameter", Peer::Own, "/Mod1/Cmd1", true,
     "HTTP/1.1 400 Bad Request The parameters you passed are not valid."},
    {"openUnknownModule", Peer::Own, "/Nope/OPEN_SESSION", false, kNotFound},
    {"test", Peer::Own, "/TEST", false, k200 + " OK"},
    {"ownModuleCommand", Peer::Own, "/Mod1/Cmd1?data=a", true, k202 + ' '},
    {"otherModuleCommand", Peer::Other, "/Mod1/Cmd1?data=a", true, kForbidden},
    {"otherUnknownModule", Peer::Other, "/Nope/Cmd1", true, kNotFound},
    {"otherPrivileged", Peer::Other, "/Unprivileged/Closed", true, kForbidden},
    {"otherUnprivileged", Peer::Other, "/Unprivileged/Open", true, k202 + ' '},
    {"otherServerCommand", Peer::Other, "/SERVER_VERSION", true, kVersionAnswer},
    // Root is refused before the module is even loaded, so the refusal reads as unknown.
    {"rootUserModule", Peer::System, "/Unprivileged/Open", true, kNotFound},
    {"rootResult", Peer::System, "/GET_RESULT?cmdId=1", true, kNotFound},
    {"rootServerCommand", Peer::System, "/SERVER_VERSION", true, kVersionAnswer},
    {"rootSystemModule", Peer::System, "/updater/Which", true, k202 + ' '},
    {"status", Peer::Own, "GET /STATUS HTTP/1.1\r\n\r\n", false, kStatusPage},
    {"getRoot", Peer::Own, "GET / HTTP/1.1\r\n\r\n", false, k404Page},
    {"put", Peer::Own, "PUT /status HTTP/1.1\r\n\r\n", false, k404Page},
    {"dotInPath", Peer::Own, "POST /a.dll HTTP/1.1\r\n\r\n", false, k404Page},
    {"longPath", Peer::Own, "POST /" + QByteArray(128, 'a') + " HTTP/1.1\r\n\r\n", false, k404Page},
    {"longMethod", Peer::Own, QByteArray(129, 'P') + " / HTTP/1.1\r\n\r\n", false, k400Page},
    {"longHeader", Peer::Own, "POST / HTTP/1.1\r\nX-A: " + QByteArray(257, 'v') + "\r\n\r\n", false,
     k400Page},
    {"longCookie", Peer::Own, "POST / HTTP/1.1\r\nCookie: c=" + QByteArray(129, 'v') + "\r\n\r\n", false,
     k400Page},
    {"headerAtLimitDecodedPath", Peer::Own,
     "GET /%73tatus HTTP/1.1\r\nX-A: " + QByteArray(256, 'v') + "\r\n\r\n", false, kStatusPage},
};

INSTANTIATE_TEST_SUITE_P(Cases, RequestTest, ::testing::ValuesIn(kRequestCases),
                         [](const ::testing::TestParamInfo<RequestCase> &info) {
                             return std::string(info.param.name);
                         });

class RequestPathTest : public ::testing::Test
{
protected:
    InProcessServer m_oServer;
};

TEST_F(RequestPathTest, WorkedExample_ModuleCommandWithoutSession_202ThenResultOnceThen419)
{
    const HttpAnswer started = m_oServer.post("/Mod1/Cmd1?data=abc", {}, "Origin: https://page.example\r\n");
    const QByteArray commandId = started.headers.value("X-VYR-cmdId");
    const QByteArray sessionId = started.headers.value("X-VYR-sessionId");
    EXPECT_TRUE(isBracedUuid(commandId)) << commandId.constData();
    EXPECT_TRUE(isBracedUuid(sessionId)) << sessionId.constData();
    EXPECT_EQ(started.headerBlock + started.body,
              corsHeaderBlock(k202, "https://page.example", 0, commandId, sessionId));
    const HttpAnswer result = m_oServer.collect(sessionId, started);
    EXPECT_EQ(result.headerBlock + result.body, corsHeaderBlock(k200, "*", 3, commandId, sessionId) + "abc");
    EXPECT_EQ(m_oServer.collect(sessionId, started).statusLine, k419);
}

// A job belongs to its session, and a client of another account collects only the jobs it
// was allowed to start; root's system-account module delivers to root.
TEST_F(RequestPathTest, Results_OtherAccountAndRoot_OnlyTheirOwnJobs)
{
    const QByteArray other = m_oServer.openSession("/OPEN_SESSION", Peer::Other);
    EXPECT_EQ(
        m_oServer.collect(other, m_oServer.post("/Unprivileged/Open", other, {}, Peer::Other), Peer::Other)
            .body,
        "open");

    const QByteArray owner = m_oServer.openSession();
    const HttpAnswer job = m_oServer.post("/Mod1/Cmd1?data=private", owner);
    // GET_RESULT names no module, so a refusal reads as not found.
    EXPECT_EQ(m_oServer.collect(owner, job, Peer::Other).statusLine, k404);
    EXPECT_EQ(m_oServer.collect(owner, job).body, "private");

    const QByteArray root = m_oServer.openSession("/OPEN_SESSION", Peer::System);
    const HttpAnswer upgrader = m_oServer.post("/updater/Which", root, {}, Peer::System);
    const QByteArray poll = "/updater" + resultPath(upgrader.headers.value("X-VYR-cmdId"));
    EXPECT_EQ(pollWhileRunning([&] { return m_oServer.post(poll, root, {}, Peer::System); }).body,
              "Upgrader");
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
    const HttpAnswer running = m_oServer.post(resultPath(job.headers.value("X-VYR-cmdId")), sessionId);
    EXPECT_EQ(running.statusLine + ' ' + running.body, k202 + ' ');
    QFile(release).open(QIODevice::WriteOnly);
    EXPECT_EQ(m_oServer.collect(sessionId, job).body, "released");
}

// Each cap refuses the command over it with 503 and a log line, counting a running job as a
// result to come; another session is refused only by the total. Once the results are
// collected the command is accepted again.
TEST(JobCapsTest, CommandOverACap_503UntilResultsAreCollected)
{
    const QByteArray kJobs =
        "The VYR server is busy with too many commands of this session. Try again later.";
    const QByteArray kResults =
        "The VYR server holds too many uncollected results. Collect them or try again later.";
    const struct
    {
        const char *key;
        QByteArray body;
        bool otherSessionRefused;
    } caps[] = {{"maxJobsPerSession", kJobs, false},
                {"maxResultsPerSession", kResults, false},
                {"maxResults", kResults, true}};
    for (const auto &cap : caps) {
        SCOPED_TRACE(cap.key);
        InProcessServer server({{QStringLiteral("jobs/") + cap.key, QStringLiteral("2")}});
        const QTemporaryDir files;
        const QByteArray release = QUrl::toPercentEncoding(files.filePath(QStringLiteral("release")));
        const QByteArray session = server.openSession();
        // A stored result and a running job, except for the job cap, which counts running jobs only.
        const bool jobCap = cap.body == kJobs;
        const HttpAnswer first =
            server.post(jobCap ? "/Slow/Wait?release=" + release : "/Mod1/Cmd1?data=x", session);
        ASSERT_TRUE(jobCap ||
                    server.waitForLogLine("commandId <" + first.headers.value("X-VYR-cmdId") + "> saved"));
        const HttpAnswer second = server.post("/Slow/Wait?release=" + release, session);
        ASSERT_EQ(second.statusCode(), 202);
        const HttpAnswer refused = server.post("/Mod1/Cmd1?data=x", session);
        EXPECT_EQ(refused.statusLine + ' ' + refused.body, "HTTP/1.1 503 Service Unavailable " + cap.body);
        EXPECT_TRUE(server.waitForLogLine("Command refused for sessionId <" + session + ">"));
        EXPECT_EQ(server.post("/Mod1/Cmd1?data=x", server.openSession()).statusCode(),
                  cap.otherSessionRefused ? 503 : 202);
        QFile(files.filePath(QStringLiteral("release"))).open(QIODevice::WriteOnly);
        for (const HttpAnswer &job : {first, second})
            EXPECT_EQ(server.collect(session, job).statusCode(), 200);
        EXPECT_EQ(server.collect(session, server.post("/Mod1/Cmd1?data=x", session)).body, "x");
    }
}

TEST_F(RequestPathTest, Jsonp_CallbackParameter_WrappedBodyAndNoCorsHeaders)
{
    const QByteArray sessionId = m_oServer.openSession();
    const HttpAnswer started = m_oServer.post("/Mod1/Cmd1?data=xyz&callback=cb", sessionId);
    const QByteArray commandId = started.headers.value("X-VYR-cmdId");
    EXPECT_EQ(started.headerBlock + started.body,
              k202 +
                  "\r\nContent-Length: 4\r\n"
                  "Content-Type: application/javascript\r\nX-VYR-cmdId: " +
                  commandId + "\r\nX-VYR-sessionId: " + sessionId + "\r\n\r\ncb()");
    const QByteArray poll = "/GET_RESULT?callback=cb&cmdId=" + QUrl::toPercentEncoding(commandId);
    EXPECT_EQ(pollWhileRunning([&] { return m_oServer.post(poll, sessionId); }).body, "cb(xyz)");
    EXPECT_EQ(m_oServer.post("/SERVER_VERSION?callback=v").body, "v(6.6.10.168)");
}

TEST_F(RequestPathTest, ThrowingModule_EachKindOfThrow_500PipeResultDeliveredWith200)
{
    const QByteArray sessionId = m_oServer.openSession();
    for (const auto &[command, body] :
         {std::pair<QByteArray, QByteArray>{"ThrowStd", "500|standard failure"},
          {"ThrowCString", "500|c string failure"},
          {"ThrowBase", "500|not implemented here"},
          {"ThrowOther", "500|Unknown exception wast threw from dll module!"}}) {
        const HttpAnswer result =
            m_oServer.collect(sessionId, m_oServer.post("/Throwing/" + command, sessionId));
        EXPECT_EQ(result.statusLine + ' ' + result.body, k200 + ' ' + body);
    }
}

TEST_F(RequestPathTest, Sessions_ValuesFromOpenAndSet_ReachTheModule)
{
    const QByteArray vars =
        QUrl::toPercentEncoding(R"([{"key":"fromOpen","value":"one"},{"key":"n","value":2}])");
    const QByteArray sessionId = m_oServer.openSession("/Mod1/OPEN_SESSION?sessionVars=" + vars);
    ASSERT_TRUE(isBracedUuid(sessionId));
    EXPECT_EQ(m_oServer.post("/SET_SESSION_VAR?key=fromSet&value=two", sessionId).statusLine, k200);
    for (const auto &[key, expected] :
         {std::pair<QByteArray, QByteArray>{"fromOpen", "one"}, {"fromSet", "two"}})
        EXPECT_EQ(
            m_oServer.collect(sessionId, m_oServer.post("/Mod1/SessionValue?key=" + key, sessionId)).body,
            expected);
    EXPECT_EQ(m_oServer.post("/OPEN_SESSION", sessionId).body, sessionId);
}

TEST_F(RequestPathTest, HostileIds_InvalidSessionAndCommandIds_EmptiedAndNeverCrossSessions)
{
    const QByteArray sessionId = m_oServer.openSession();
    const HttpAnswer mine = m_oServer.post("/Mod1/Cmd1?data=secret", sessionId);
    EXPECT_EQ(m_oServer.collect(m_oServer.openSession(), mine).statusLine, k419);
    const HttpAnswer hostile = m_oServer.post("/ALIVE", "<script>", "X-VYR-cmdId: ../../etc/passwd\r\n");
    EXPECT_EQ(hostile.statusLine, k418);
    EXPECT_EQ(hostile.headers.value("X-VYR-sessionId"), "");
    EXPECT_TRUE(isBracedUuid(hostile.headers.value("X-VYR-cmdId")));
    EXPECT_EQ(m_oServer.collect(sessionId, mine).body, "secret");
}

// A page naming itself through a parameter, a cookie or a header of the reserved name, with
// and without a real Origin header: the module sees exactly one entry, the real one.
TEST_F(RequestPathTest, OriginEntry_ForgedByPageInEveryPlace_OnlyTheRealOriginReachesTheModule)
{
    const QByteArray sessionId = m_oServer.openSession("/NoXml/OPEN_SESSION");
    for (const QByteArray &origin : {QByteArray("https://page.example"), QByteArray()}) {
        const QByteArray header = origin.isEmpty() ? QByteArray() : "Origin: " + origin + "\r\n";
        for (const auto &[path, forged] :
             {std::pair<QByteArray, QByteArray>{"/NoXml/Origin?keyHttpOrigin=https://bank.example", {}},
              {"/NoXml/Origin", "Cookie: keyHttpOrigin=https://bank.example\r\n"},
              {"/NoXml/Origin", "keyHttpOrigin: https://bank.example\r\n"}}) {
            const HttpAnswer started = m_oServer.post(path, sessionId, header + forged);
            EXPECT_EQ(m_oServer.collect(sessionId, started).body, origin) << (path + forged).constData();
        }
    }
}

// Unlike the other server commands it opens a session.
TEST_F(RequestPathTest, ArchType_Requested_IndentedJsonWithFourKeys)
{
    const HttpAnswer answer = m_oServer.post("/ARCH_TYPE");
    EXPECT_TRUE(answer.statusCode() == 200 && isBracedUuid(answer.headers.value("X-VYR-sessionId")));
    const QJsonObject object = QJsonDocument::fromJson(answer.body).object();
    EXPECT_EQ(object.keys(), (QStringList{"buildArchitecture", "kernelType", "kernelVersion", "resultCode"}));
    EXPECT_EQ(object.value("resultCode").toInt(), 200);
    EXPECT_EQ(object.value("kernelType").toString(), "linux");
    EXPECT_TRUE(answer.body.startsWith("{\n    \"buildArchitecture\": "));
}

TEST_F(RequestPathTest, Preflight_FreeModule_AccessControlAndSecurityHeaders)
{
    EXPECT_EQ(m_oServer.send("OPTIONS /Mod1/Cmd1 HTTP/1.1\r\nOrigin: https://elsewhere.example\r\n\r\n")
                  .headerBlock,
              "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Credentials: true\r\nAccess-Control-Allow-Headers: "
              "Content-Type, "
              "Authorization, X-Requested-With, X-VYR-cmdId, "
              "X-VYR-sessionId\r\nAccess-Control-Allow-Methods: POST, "
              "OPTIONS\r\nAccess-Control-Allow-Origin: https://elsewhere.example\r\nAccess-Control-Max-Age: "
              "1000\r\n"
              "Cache-control: no-store\r\nContent-Length: 0\r\nContent-Security-Policy: default-src "
              "'self'\r\nPragma: "
              "no-cache\r\nStrict-Transport-Security: max-age=31536000\r\nX-Content-Type-Options: nosniff\r\n"
              "X-Frame-Options: sameorigin\r\nX-XSS-Protection: 1; mode=block\r\n\r\n");
}

// brevalo is restricted by the CORS table, and this build of it announces its own origins:
// every way of naming its command, each with listed origins (one announced with a trailing
// slash), unlisted ones and none (a local program). A page on a public address asks the
// preflight for the loopback too; only an allowed origin gets that yes.
TEST_F(RequestPathTest, RestrictedModule_EveryPathFormAndOrigin_PreflightAndControllerAgree)
{
    const QByteArray sessionId = m_oServer.openSession();
    for (const QByteArray path : {"/brevalo/Which", "/brevalo/Which/", "/brevalo?cmd=Which",
                                  "//brevalo//Which", "/brevalo%2FWhich", "/brevalo?cmd=Which&cmd=Which"}) {
        for (const auto &[origin, allowed] : {std::pair<QByteArray, bool>{"https://own.example.com", true},
                                              {"https://second.example.com", true},
                                              {"https://evil.example", false},
                                              {"https://own.example.com.evil.example", false},
                                              {{}, true}}) {
            SCOPED_TRACE((path + " from " + origin).toStdString());
            const QByteArray originHeader = origin.isEmpty() ? QByteArray() : "Origin: " + origin + "\r\n";
            const HttpAnswer preflight =
                m_oServer.send("OPTIONS " + path + " HTTP/1.1\r\n" + originHeader +
                               "Access-Control-Request-Method: POST\r\n"
                               "Access-Control-Request-Private-Network: true\r\n\r\n");
            EXPECT_EQ(preflight.headers.value("Access-Control-Allow-Origin"), allowed ? origin : "null");
            EXPECT_EQ(preflight.headers.value("Access-Control-Allow-Private-Network"),
                      allowed ? "true" : QByteArray());
            // A simple POST (form-encoded, no header of ours, so a browser sends it unasked),
            // then the same with the session header, which a browser sends only after the
            // preflight. This module's commands run one at a time: each result is collected.
            for (const bool simple : {true, false}) {
                const HttpAnswer answer =
                    simple
                        ? m_oServer.post(path, {},
                                         originHeader + "Content-Type: application/x-www-form-urlencoded\r\n")
                        : m_oServer.post(path, sessionId, originHeader);
                if (allowed) {
                    EXPECT_EQ(answer.statusLine, k202);
                    EXPECT_EQ(m_oServer.collect(answer.headers.value("X-VYR-sessionId"), answer).body,
                              "own/brevalo");
                    continue;
                }
                EXPECT_EQ(answer.statusLine + ' ' + answer.body, kForbidden);
                EXPECT_EQ(answer.headers.value("Access-Control-Allow-Origin"), "null");
                // A refused simple POST starts nothing, not even a session.
                EXPECT_TRUE(!simple || answer.headers.value("X-VYR-sessionId").isEmpty());
            }
        }
    }
}

// Its result goes to a listed origin (or a local program) only; its server commands serve any.
TEST_F(RequestPathTest, RestrictedModule_ResultAndServerCommands_OnlyResultRefusedToUnlistedOrigin)
{
    const QByteArray unlisted = "Origin: https://evil.example\r\n";
    EXPECT_EQ(m_oServer.post("/brevalo/SERVER_VERSION", {}, unlisted).statusCode(), 200);
    const QByteArray sessionId = m_oServer.openSession();
    EXPECT_EQ(m_oServer.post("/brevalo/ALIVE", sessionId, unlisted).statusCode(), 200);
    const HttpAnswer started = m_oServer.post("/brevalo/Which", sessionId);
    ASSERT_EQ(started.statusCode(), 202);
    const QByteArray path = resultPath(started.headers.value("X-VYR-cmdId"));
    for (const QByteArray &refusedPath : {path, "/Mod1" + path}) {
        const HttpAnswer refused = m_oServer.post(refusedPath, sessionId, unlisted);
        EXPECT_EQ(refused.statusLine + ' ' + refused.body, kForbidden) << refusedPath.constData();
    }
    // Refused requests took nothing: the listed origin still gets the result.
    const HttpAnswer result = pollWhileRunning(
        [&] { return m_oServer.post(path, sessionId, "Origin: https://own.example.com\r\n"); });
    EXPECT_EQ(result.body, "own/brevalo");
    EXPECT_EQ(result.headers.value("Access-Control-Allow-Origin"), "https://own.example.com");
}

// Each session closed right behind its command, so jobs outlive their sessions; names that
// only a library the module links defines are no commands. The last job to store its result
// lets the module go.
TEST_F(RequestPathTest, OpenCommandClose_JobsOutliveTheirSessions_ModuleUnloadedAfterTheLast)
{
    for (const QByteArray foreign : {"abort", "exit", "malloc", "qVersion"}) {
        const QByteArray sessionId = m_oServer.openSession("/NoXml/OPEN_SESSION");
        const HttpAnswer refused = m_oServer.post("/NoXml/" + foreign, sessionId);
        EXPECT_EQ(refused.statusLine + ' ' + refused.body, kNotFound);
        EXPECT_EQ(m_oServer.post("/NoXml/Cmd1?data=x", sessionId).statusLine, k202);
        EXPECT_EQ(m_oServer.post("/CLOSE_SESSION", sessionId).statusLine, k200);
    }
    const auto count = [&](const char *line) {
        return m_oServer.logLines().filter(QRegularExpression(QString::fromLatin1(line))).size();
    };
    EXPECT_GT(count("Module NoXml loaded$"), 0);
    EXPECT_TRUE(waitUntil([&] { return count("Module NoXml loaded$") == count("Module NoXml unloaded$"); },
                          std::chrono::seconds(20)));
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
    EXPECT_EQ(m_oServer.post("/ALIVE", sessionId).statusLine, k418);
    EXPECT_EQ(m_oServer.post(resultPath(started.headers.value("X-VYR-cmdId")), sessionId).statusLine, k419);
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

// A closed session is gone at once: its module goes and no timeout tears it down again, even
// when the close comes before the session's timer has reached the main thread.
TEST_F(TimeoutTest, CloseSession_Twice_SecondIs418AndNoTeardownFollows)
{
    const QByteArray sessionId = m_oServer.openSession("/Mod1/OPEN_SESSION");
    const HttpAnswer closed = m_oServer.post("/CLOSE_SESSION", sessionId);
    EXPECT_EQ(closed.statusLine, k200);
    EXPECT_EQ(closed.headers.value("X-VYR-sessionId"), "");
    EXPECT_EQ(m_oServer.post("/CLOSE_SESSION", sessionId).statusLine, k418);
    EXPECT_TRUE(m_oServer.waitForLogLine("Module Mod1 unloaded"));
    EXPECT_FALSE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + sessionId, 2 * kInterval));
}

} // namespace
