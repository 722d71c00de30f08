#include "HttpTestSupport.h"

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <future>
#include <memory>

namespace {

constexpr int kDeadlineMs = 10000;

// The browser's side, on a thread of its own so the server side may block in its writes.
QByteArray exchange(quint16 port, const QByteArray &request, qsizetype expectedReplySize)
{
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    if (!client.waitForConnected(kDeadlineMs))
        return "connect failed";
    const qsizetype half = request.size() / 2;
    client.write(request.left(half));
    client.waitForBytesWritten(kDeadlineMs);
    client.write(request.mid(half));
    QByteArray reply;
    const QDeadlineTimer deadline(kDeadlineMs);
    while (reply.size() < expectedReplySize && !deadline.hasExpired()) {
        if (client.bytesAvailable() == 0)
            client.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        reply += client.readAll();
    }
    return reply;
}

class HttpLoopbackTest : public HttpLogTest
{
};

TEST_F(HttpLoopbackTest, ParserAndWriter_RealSocket_RequestParsedAndReplyExact)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const QByteArray body(1 << 20, 'r'); // far beyond the writer's queue limit
    const QByteArray expectedReply = "HTTP/1.1 201 Created\r\nContent-Length: " + QByteArray::number(body.size()) +
                                     "\r\nX-Echo: v\r\n\r\n" + body;
    const QByteArray requestBytes = "POST /echo?q=1 HTTP/1.1\r\nX-Echo: v\r\nContent-Length: 5\r\n\r\nhello";
    auto client = std::async(std::launch::async, exchange, server.serverPort(), requestBytes, expectedReply.size());

    ASSERT_TRUE(server.waitForNewConnection(kDeadlineMs));
    std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
    ASSERT_NE(socket, nullptr);
    HttpRequest request(HttpRequest::kDefaultMaxRequestSize, HttpRequest::kDefaultMaxMultiPartSize);
    const QDeadlineTimer deadline(kDeadlineMs);
    while (request.status() != HttpRequest::Complete && request.status() != HttpRequest::Aborted &&
           !deadline.hasExpired()) {
        if (socket->bytesAvailable() == 0)
            socket->waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        request.receive(*socket);
    }
    ASSERT_EQ(request.status(), HttpRequest::Complete);
    EXPECT_EQ(request.peerAddress(), QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(request.path(), "/echo");
    EXPECT_EQ(request.parameter("q"), "1");
    EXPECT_EQ(request.body(), "hello");

    HttpResponse response(socket.get());
    EXPECT_EQ(response.socket(), socket.get());
    response.setStatus(201, "Created");
    response.setHeader("X-Echo", request.header("x-echo"));
    response.write(body, true);
    while (socket->bytesToWrite() > 0 && !deadline.hasExpired())
        socket->waitForBytesWritten(int(std::max<qint64>(deadline.remainingTime(), 1)));

    const QByteArray reply = client.get();
    EXPECT_EQ(reply.size(), expectedReply.size());
    EXPECT_TRUE(reply == expectedReply);
}

} // namespace
