#include "ProtocolFixture.h"

#include <QFile>

using namespace std::chrono_literals;

namespace {

// brevalo is restricted by the CORS table; this build of it announces its own origins.
constexpr char kListed[] = "https://own.example.com";
constexpr char kListedWithSlash[] = "https://second.example.com"; // announced with a trailing slash
constexpr char kUnlisted[] = "https://evil.example";
constexpr char kRefusedBody[] = "You don't have permissions to access this resource.";

struct OriginCase
{
    const char *path;
    const char *origin; // nullptr: a local program, no Origin header
    bool allowed;
};

// Every way of naming brevalo's command, each with a listed, an unlisted and no origin.
std::vector<OriginCase> originCases()
{
    const char *paths[] = {"/brevalo/Which",   "/brevalo/Which/",  "/brevalo?cmd=Which",
                           "//brevalo//Which", "/brevalo%2FWhich", "/brevalo?cmd=Which&cmd=Which"};
    std::vector<OriginCase> cases;
    for (const char *path : paths) {
        cases.push_back({path, kListed, true});
        cases.push_back({path, kListedWithSlash, true});
        cases.push_back({path, kUnlisted, false});
        cases.push_back({path, "https://own.example.com.evil.example", false});
        cases.push_back({path, nullptr, true});
    }
    return cases;
}

QByteArray originHeader(const char *origin)
{
    return origin ? QByteArray("Origin: ") + origin + "\r\n" : QByteArray();
}

class OriginTest : public ProtocolTest
{
protected:
    void SetUp() override
    {
        ProtocolTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(QFile::copy(QStringLiteral(VYR_POLICY_MODULE_DIR "/own/brevalo.so"),
                                m_oServer.appDir() + "/modules/brevalo.so"));
        startServer();
    }

    QByteArray preflightAllowOrigin(const OriginCase &c)
    {
        const HttpAnswer answer =
            m_poClient->request("OPTIONS " + QByteArray(c.path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                originHeader(c.origin) + "Access-Control-Request-Method: POST\r\n\r\n");
        return answer.headers.value("Access-Control-Allow-Origin");
    }
};

TEST_F(OriginTest, RestrictedModule_EveryPathForm_PreflightAndControllerAgree)
{
    const QByteArray sessionId = openSession();
    for (const OriginCase &c : originCases()) {
        SCOPED_TRACE(std::string(c.path) + " from " + (c.origin ? c.origin : "a local program"));
        const QByteArray echoed = c.origin ? QByteArray(c.origin) : QByteArray();
        EXPECT_EQ(preflightAllowOrigin(c), c.allowed ? echoed : QByteArray("null"));

        // A simple POST (form-encoded, no header of ours, so a browser sends it unasked), then
        // the same with the session header, which a browser sends only after the preflight.
        // This module's commands run one at a time, so each result is collected before the next.
        for (const bool simple : {true, false}) {
            const HttpAnswer answer =
                simple ? post(c.path, {},
                              originHeader(c.origin) + "Content-Type: application/x-www-form-urlencoded\r\n")
                       : post(c.path, sessionId, originHeader(c.origin));
            if (c.allowed) {
                EXPECT_EQ(answer.statusLine, "HTTP/1.1 202 Accepted");
                EXPECT_EQ(
                    collect(answer.headers.value("X-VYR-sessionId"), answer.headers.value("X-VYR-cmdId"))
                        .body,
                    "own/brevalo");
                continue;
            }
            EXPECT_EQ(answer.statusLine, "HTTP/1.1 403 Forbidden");
            EXPECT_EQ(answer.body, kRefusedBody);
            EXPECT_EQ(answer.headers.value("Access-Control-Allow-Origin"), "null");
            // A refused simple POST starts nothing, not even a session.
            if (simple) {
                EXPECT_EQ(answer.headers.value("X-VYR-sessionId"), "");
            }
        }
    }
}

TEST_F(OriginTest, ResultOfRestrictedModule_OnlyListedOriginOrLocalProgramReceivesIt)
{
    const QByteArray sessionId = openSession();
    const HttpAnswer started = post("/brevalo/Which", sessionId);
    ASSERT_EQ(started.statusCode(), 202);
    const QByteArray commandId = QUrl::toPercentEncoding(started.headers.value("X-VYR-cmdId"));
    for (const QByteArray &path : {"/GET_RESULT?cmdId=" + commandId, "/Mod1/GET_RESULT?cmdId=" + commandId}) {
        const HttpAnswer refused = post(path, sessionId, originHeader(kUnlisted));
        EXPECT_EQ(refused.statusLine, "HTTP/1.1 403 Forbidden") << path.constData();
        EXPECT_EQ(refused.body, kRefusedBody);
    }
    // Refused requests took nothing: the listed origin still gets the result, once.
    HttpAnswer result;
    ASSERT_TRUE(waitUntil(
        [&] {
            result = post("/GET_RESULT?cmdId=" + commandId, sessionId, originHeader(kListed));
            return result.statusCode() != 202;
        },
        20s));
    EXPECT_EQ(result.body, "own/brevalo");
    EXPECT_EQ(result.headers.value("Access-Control-Allow-Origin"), kListed);
}

TEST_F(OriginTest, ExemptAndUnrestricted_AnyOrigin_Served)
{
    EXPECT_EQ(post("/brevalo/SERVER_VERSION", {}, originHeader(kUnlisted)).statusCode(), 200);
    const QByteArray sessionId = openSession();
    EXPECT_EQ(post("/brevalo/ALIVE", sessionId, originHeader(kUnlisted)).statusCode(), 200);
    const HttpAnswer other = post("/Mod1/Cmd1?data=x", sessionId, originHeader(kUnlisted));
    EXPECT_EQ(other.statusCode(), 202);
    EXPECT_EQ(other.headers.value("Access-Control-Allow-Origin"), kUnlisted);
}

} // namespace
