#include "http/HttpResponse.h"

#include "support/QtPrinters.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <future>

namespace {

// The server writes each reply in one last part, and its header block (sorted, without cookies)
// is asserted byte for byte by the in-process request path tests; a handler that writes again
// after that must not add to the reply.
TEST(HttpResponseTest, Write_AfterLastPart_NothingMoreOnTheWire)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    HttpResponse response(&buffer);
    response.write("x", true);
    response.setHeader("Late", "1");
    response.write("more", true);
    EXPECT_EQ(buffer.data(), "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
    EXPECT_TRUE(response.hasSentLastPart());
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
