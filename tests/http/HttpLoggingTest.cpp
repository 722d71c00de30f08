#include "HttpTestSupport.h"
#include "logging/ServerLogger.h"

namespace {

// The logger's own outputs go to a throw-away file; the server channel is then pointed at the
// capturing sink. Lines naming a method get their punctuation blanked by the server log.
class HttpLoggingTest : public HttpLogTest
{
protected:
    void TearDown() override
    {
        HttpLogTest::TearDown();
        for (LogChannel *channel : {&processUtilsLogChannel(), &fileVersionLogChannel(),
                                    &moduleToolsLogChannel(), &vyrcommonsLogChannel()})
            channel->reset();
    }
    // The lines logged while the request of these bytes is logged.
    QStringList logRequest(const QByteArray &bytes)
    {
        const Parse parse(bytes);
        const qsizetype first = logLines().size();
        m_oLogger.logRequest(parse.request);
        return logLines().mid(first);
    }

    QTemporaryDir m_oDirectory;
    ServerLogger m_oLogger{
        ServerLoggerConfig{.level = 1, .filePath = m_oDirectory.filePath(QStringLiteral("log"))}};
};

TEST_F(HttpLoggingTest, LogRequest_Values_OnlyAtDebugAndSecretsNever)
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

TEST_F(HttpLoggingTest, LogRequest_KeepAlive_OnlyOneDebugLine)
{
    const QByteArray keepAlive = "POST /KeepAlive?x=1 HTTP/1.1\r\nHost: localhost\r\nCookie: c=v\r\n\r\n";
    EXPECT_EQ(logRequest(keepAlive), QStringList{"[VYR server]:ServerLogger::logRequest: POST /KeepAlive"});
    m_oSink->set_level(spdlog::level::info);
    EXPECT_EQ(logRequest(keepAlive), QStringList());
}

} // namespace
