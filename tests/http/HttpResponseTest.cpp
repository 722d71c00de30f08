#include "http/HttpResponse.h"

#include "http/HttpCookie.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <future>

namespace {

TEST(HttpResponseTest, Write_Reply_ExactBytes)
{
    // Whole replies with Content-Length are asserted byte for byte by the in-process request path tests.
    const std::pair<std::function<void(HttpResponse &)>, QByteArray> cases[] = {
        {[](HttpResponse &r) {
             r.write("abc");
             r.write({});
             r.write(QByteArray(26, 'x'), true);
         },
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n1a\r\n" + QByteArray(26, 'x') +
             "\r\n0\r\n\r\n"},
        {[](HttpResponse &r) {
             r.setHeader("Connection", "Close");
             r.write("a");
             r.write("b", true);
         },
         "HTTP/1.1 200 OK\r\nConnection: Close\r\n\r\nab"},
        // Nothing is written after the last part.
        {[](HttpResponse &r) {
             r.write("x", true);
             r.setHeader("Late", "1");
             r.write("more", true);
         },
         "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx"},
        // Headers sorted by their bytes, then cookies by name; a cookie without a name is dropped.
        {[](HttpResponse &r) {
             r.setHeader("a", "3");
             r.setHeader("Z", "2");
             r.setCookie(HttpCookie("b", "2", 0));
             r.setCookie(HttpCookie("", "lost", 0));
             r.setCookie(HttpCookie("a", "old", 0));
             r.setCookie(HttpCookie("a", "1", 0));
             r.write("", true);
         },
         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nZ: 2\r\na: 3\r\n"
         "Set-Cookie: a=1; Version=1\r\nSet-Cookie: b=2; Version=1\r\n\r\n"}};
    for (const auto &[produce, expected] : cases) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        HttpResponse response(&buffer);
        produce(response);
        EXPECT_EQ(buffer.data(), expected);
        EXPECT_TRUE(response.hasSentLastPart());
    }
}

// A reply far beyond the writer's queue limit reaches a real socket whole: the writer waits for
// the peer to drain it rather than dropping or queueing without bound.
TEST(HttpResponseSocketTest, Write_LargeReplyOnRealSocket_ArrivesWhole)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const QByteArray body(1 << 20, 'r');
    const QByteArray expected = "HTTP/1.1 201 Created\r\nContent-Length: 1048576\r\n\r\n" + body;
    // The browser, on a thread of its own so that the server side may block in its writes.
    auto reply = std::async(std::launch::async, [&] {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QByteArray received;
        for (QDeadlineTimer deadline(10000); received.size() < expected.size() && !deadline.hasExpired();
             received += client.readAll())
            client.waitForReadyRead(100);
        return received;
    });
    ASSERT_TRUE(server.waitForNewConnection(10000));
    const std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
    HttpResponse response(socket.get());
    response.setStatus(201, "Created");
    response.write(body, true);
    while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(10000)) {
    }
    EXPECT_TRUE(reply.get() == expected);
}

} // namespace
