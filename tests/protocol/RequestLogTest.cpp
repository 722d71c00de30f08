#include "protocol/RequestLog.h"

#include "http/HttpTestSupport.h"

namespace {

// Lines naming a method get their punctuation blanked by the server log.
class RequestLogTest : public HttpLogTest
{
protected:
    // The lines logged while the request of these bytes is logged.
    QStringList logRequest(const QByteArray &bytes)
    {
        const Parse parse(bytes);
        const qsizetype first = logLines().size();
        RequestLog::logRequest(parse.request);
        return logLines().mid(first);
    }
};

TEST_F(RequestLogTest, LogRequest_Values_OnlyAtDebugAndSecretsNever)
{
    const QByteArray bytes = "POST /Mod1/Cmd1?b=2&userPin=1234 HTTP/1.1\r\nHost: localhost\r\n"
                             "X-Auth-Token: t0k3n\r\nCookie: c=v; Secret=s3cr3t\r\n\r\n";
    const QStringList debugLines = logRequest(bytes);
    for (const char *secret : {"1234", "t0k3n", "s3cr3t"})
        EXPECT_FALSE(debugLines.join('\n').contains(QLatin1String(secret))) << secret;
    EXPECT_TRUE(debugLines.contains("[VYR-server]:ServerLogger::logRequest: Param: userPin: <hidden>"));
    EXPECT_TRUE(debugLines.contains("[VYR-server]:ServerLogger::logRequest: Param: b: 2"));
    EXPECT_TRUE(debugLines.contains("[VYR-server]:ServerLogger::logRequest: Cookie: c: v"));
    m_oSink->set_level(spdlog::level::info);
    EXPECT_EQ(logRequest(bytes), QStringList{"[VYR server]:ServerLogger::logRequest: POST /Mod1/Cmd1"});
}

TEST_F(RequestLogTest, LogRequest_KeepAlive_OnlyOneDebugLine)
{
    const QByteArray keepAlive = "POST /KeepAlive?x=1 HTTP/1.1\r\nHost: localhost\r\nCookie: c=v\r\n\r\n";
    EXPECT_EQ(logRequest(keepAlive), QStringList{"[VYR server]:ServerLogger::logRequest: POST /KeepAlive"});
    m_oSink->set_level(spdlog::level::info);
    EXPECT_EQ(logRequest(keepAlive), QStringList());
}

} // namespace
