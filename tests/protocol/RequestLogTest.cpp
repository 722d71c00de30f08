#include "protocol/RequestLog.h"

#include "http/HttpRequest.h"
#include "logging/LogChannels.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

class RequestLogTest : public ::testing::Test
{
protected:
    void SetUp() override { serverLogChannel().initializeWithSinks(1, 1 << 20, QString(), {m_oSink}); }
    void TearDown() override { serverLogChannel().reset(); }
    QStringList logLines() const { return m_oSink->lines(); }

    std::shared_ptr<CapturingSink> m_oSink = std::make_shared<CapturingSink>();
};

// Lines naming a method get their punctuation blanked by the server log.
TEST_F(RequestLogTest, LogRequest_ValuesAndKeepAlive_ValuesOnlyAtDebugSecretsNeverPollsOneLine)
{
    const auto logged = [this](const QByteArray &bytes) {
        QBuffer device;
        device.setData(bytes);
        device.open(QIODevice::ReadOnly);
        HttpRequest request(16000, 1000000);
        request.receive(device);
        const qsizetype first = logLines().size();
        RequestLog::logRequest(request);
        return logLines().mid(first);
    };
    const QByteArray bytes = "POST /Mod1/Cmd1?b=2&userPin=1234 HTTP/1.1\r\nHost: localhost\r\n"
                             "X-Auth-Token: t0k3n\r\nCookie: c=v; Secret=s3cr3t\r\n\r\n";
    const QByteArray keepAlive = "POST /KeepAlive?x=1 HTTP/1.1\r\nHost: localhost\r\nCookie: c=v\r\n\r\n";
    const QStringList debugLines = logged(bytes);
    for (const char *secret : {"1234", "t0k3n", "s3cr3t"})
        EXPECT_FALSE(debugLines.join('\n').contains(QLatin1String(secret))) << secret;
    EXPECT_TRUE(debugLines.contains("[VYR-server]:ServerLogger::logRequest: Param: userPin: <hidden>"));
    EXPECT_TRUE(debugLines.contains("[VYR-server]:ServerLogger::logRequest: Param: b: 2"));
    EXPECT_TRUE(debugLines.contains("[VYR-server]:ServerLogger::logRequest: Cookie: c: v"));
    EXPECT_EQ(logged(keepAlive), QStringList{"[VYR server]:ServerLogger::logRequest: POST /KeepAlive"});
    m_oSink->set_level(spdlog::level::info);
    EXPECT_EQ(logged(bytes), QStringList{"[VYR server]:ServerLogger::logRequest: POST /Mod1/Cmd1"});
    EXPECT_EQ(logged(keepAlive), QStringList());
}

} // namespace
