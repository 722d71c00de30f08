#include "HttpTestSupport.h"

#include "http/HttpRequest.h"
#include "http/HttpRequestHandler.h"
#include "http/HttpResponse.h"
#include "logging/ServerLogger.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The logger's own outputs go to a throw-away file; the server channel is then pointed at
// the capturing sink, which is what the request log writes to.
class HttpLoggingTest : public HttpLogTest
{
protected:
    void SetUp() override
    {
        ServerLoggerConfig config;
        config.level = 1;
        config.filePath = m_oDirectory.filePath(QStringLiteral("server.log"));
        m_pLogger = std::make_unique<ServerLogger>(config);
        HttpLogTest::SetUp();
    }

    void TearDown() override
    {
        HttpLogTest::TearDown();
        for (LogChannel *channel : {&processUtilsLogChannel(), &fileVersionLogChannel(), &moduleToolsLogChannel(),
                                    &vyrcommonsLogChannel()})
            channel->reset();
    }

    // Parses bytes into m_oRequest; the lines logged from then on are the test's.
    void parse(const QByteArray &bytes)
    {
        TrickleDevice device;
        device.feed(bytes);
        m_oRequest.receive(device);
        ASSERT_EQ(m_oRequest.status(), HttpRequest::Complete);
        m_iFirstLine = logLines().size();
    }

    QTemporaryDir m_oDirectory;
    std::unique_ptr<ServerLogger> m_pLogger;
    HttpRequest m_oRequest{HttpRequest::kDefaultMaxRequestSize, HttpRequest::kDefaultMaxMultiPartSize};
    QByteArray m_oWire;
    qsizetype m_iFirstLine = 0;
};

TEST_F(HttpLoggingTest, LogRequest_HeadersCookiesParameters_LinePerEntryThenRequestLine)
{
    parse("POST /Mod1/Cmd1?b=2&a=1 HTTP/1.1\r\nHost: localhost\r\nX-VYR-sessionId: 42\r\nCookie: c=v\r\n\r\n");
    m_pLogger->logRequest(m_oRequest);
    // Lines naming a method get their punctuation blanked by the server log.
    EXPECT_EQ(logLinesSince(m_iFirstLine),
              (QStringList{"[VYR-server]:ServerLogger::logRequest: Header: host: localhost",
                           "[VYR-server]:ServerLogger::logRequest: Header: x-vyr-sessionid: 42",
                           "[VYR-server]:ServerLogger::logRequest: Cookie: c: v",
                           "[VYR-server]:ServerLogger::logRequest: Param: a: 1",
                           "[VYR-server]:ServerLogger::logRequest: Param: b: 2",
                           "[VYR server]:ServerLogger::logRequest: POST /Mod1/Cmd1"}));
}

TEST_F(HttpLoggingTest, LogRequest_KeepAlive_OnlyOneDebugLine)
{
    parse("POST /KeepAlive?x=1 HTTP/1.1\r\nHost: localhost\r\nCookie: c=v\r\n\r\n");
    m_pLogger->logRequest(m_oRequest);
    EXPECT_EQ(logLinesSince(m_iFirstLine), QStringList{"[VYR server]:ServerLogger::logRequest: POST /KeepAlive"});

    // At info level, the usual level of the server, a keep-alive leaves nothing.
    m_oSink->set_level(spdlog::level::info);
    m_pLogger->logRequest(m_oRequest);
    EXPECT_EQ(logLines().size(), m_iFirstLine + 1);
}

TEST_F(HttpLoggingTest, LogResponse_HeadersAndCookies_LinePerEntryThenStatus)
{
    parse("GET /status HTTP/1.1\r\n\r\n");
    QBuffer buffer(&m_oWire);
    buffer.open(QIODevice::WriteOnly);
    HttpResponse response(&buffer);
    response.setStatus(404, "Not Found");
    response.setHeader("Content-Type", "text/plain");
    response.setCookie(HttpCookie("sessionid", "{1}", 60));
    response.write("x", true);
    m_pLogger->logResponse(m_oRequest, response);
    EXPECT_EQ(logLinesSince(m_iFirstLine),
              (QStringList{"[VYR-server]:ServerLogger::logResponse: Response Header: Content-Length: 1",
                           "[VYR-server]:ServerLogger::logResponse: Response Header: Content-Type: text/plain",
                           "[VYR-server]:ServerLogger::logResponse: Cookie: sessionid: {1}",
                           "[VYR server]:ServerLogger::logResponse: GET /status  > 404"}));
}

TEST_F(HttpLoggingTest, Service_BaseHandler_Answers501AndLogs)
{
    parse("GET /x HTTP/1.0\r\n\r\n");
    QBuffer buffer(&m_oWire);
    buffer.open(QIODevice::WriteOnly);
    HttpResponse response(&buffer);
    HttpRequestHandler handler;
    handler.service(m_oRequest, response);
    EXPECT_EQ(m_oWire, "HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n501 not implemented");
    EXPECT_TRUE(response.hasSentLastPart());
    EXPECT_EQ(logLinesSince(m_iFirstLine),
              (QStringList{"[VYR-server]:HttpRequestHandler::service: HttpRequestHandler: you need to override "
                           "the service() function",
                           "[VYR server]:HttpRequestHandler::service: HttpRequestHandler: request=GET /x HTTP/1 0"}));
}

} // namespace
