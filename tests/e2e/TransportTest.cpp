#include "support/QtPrinters.h"
#include "support/ServerProcess.h"
#include "support/TestAccount.h"
#include "support/TlsClient.h"

#include <QDateTime>
#include <QFile>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A server of this account (root in CI: the dispatcher on the configured port) on a free port.
class TransportTest : public ::testing::Test
{
protected:
    void SetUp() override { m_oServer.setIniValue("listener/port", QString::number(findFreePortPair())); }

    // The port the server listens on; 0 when it did not start.
    quint16 startServer() { return m_oServer.start() ? m_oServer.waitForListeningPort() : 0; }

    ServerProcess m_oServer;
};

// A connection the kernel books to the account, as if a program of that account had opened
// it; with little room to receive, so that a reply left unread backs up into the server soon.
std::unique_ptr<QSslSocket> connectAs(const TestAccount &account, quint16 port, bool tls,
                                      const QByteArray &bytes)
{
    EXPECT_EQ(::setegid(account.gid()) | ::seteuid(account.uid()), 0);
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::seteuid(0) | ::setegid(0), 0);
    const int room = 4096;
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    sockaddr_in server{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    EXPECT_EQ(::connect(descriptor, reinterpret_cast<const sockaddr *>(&server), sizeof server), 0);
    auto socket = std::make_unique<QSslSocket>();
    socket->setSocketDescriptor(descriptor);
    socket->setReadBufferSize(room);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    if (tls && (socket->startClientEncryption(), socket->waitForEncrypted(5000))) {
        socket->write(bytes);
        socket->flush();
    }
    return socket;
}

// A 404 leaves the last-request file alone, a 200 stamps it; and a second server of the same
// account does not start. The 404 goes first: the stamps of the 200s land after their replies.
TEST_F(TransportTest, KeepAlive_PipelinedThenOneMoreWithClose_AnswersInOrderStampedAndSecondServerRefused)
{
    const quint16 port = startServer();
    const QString stamp = m_oServer.appDir() + "/xdg/data/Veltrane/.last_vyr_req";
    TlsClient other(port);
    other.send("GET /nothing HTTP/1.1\r\n\r\n");
    EXPECT_EQ(other.readAnswer().statusCode(), 404);
    EXPECT_FALSE(QFile::exists(stamp));

    TlsClient client(port);
    client.send("POST /SERVER_VERSION HTTP/1.1\r\nHost: x\r\n\r\nGET /status HTTP/1.1\r\n\r\nGET /nope "
                "HTTP/1.1\r\n\r\n");
    const HttpAnswer version = client.readAnswer();
    EXPECT_EQ(version.statusLine + ' ' + version.body, "HTTP/1.1 200 OK 6.6.10.168");
    EXPECT_EQ(client.readAnswer().body, "<h1>Veltrane Crypto Server v6.6.10.168 is running </h1>");
    EXPECT_EQ(client.readAnswer().statusLine, "HTTP/1.1 404 File Not Found");
    client.send("POST /SERVER_VERSION HTTP/1.1\r\nConnection: close\r\n\r\n");
    const HttpAnswer last = client.readAnswer();
    EXPECT_EQ(last.statusLine + ' ' + last.body, "HTTP/1.1 200 OK 6.6.10.168");
    EXPECT_EQ(client.readUntilClosed(5s), "");
    EXPECT_FALSE(client.isOpen());

    qint64 stamped = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            QFile file(stamp);
            return file.open(QIODevice::ReadOnly) && (stamped = file.readAll().toLongLong()) > 0;
        },
        5s));
    EXPECT_LE(qAbs(QDateTime::currentMSecsSinceEpoch() - stamped), 60000);

    ServerProcess second;
    second.setIniValue("listener/port", QString::number(findFreePortPair()));
    ASSERT_TRUE(second.start());
    EXPECT_EQ(second.waitForExit(), 1);
    EXPECT_TRUE(second.logText().contains(QStringLiteral("Server is already running on port: ")));
}

// Connections that fall silent are closed without a reply, and their idle handlers retire
// down to the minimum.
TEST_F(TransportTest, IdleConnections_ReadTimeoutAndCleanup_ClosedWithoutReplyAndPoolBackToOne)
{
    m_oServer.setIniValue("listener/readTimeout", "300");
    m_oServer.setIniValue("listener/cleanupInterval", "100");
    m_oServer.setIniValue("logging/logLevel", "1");
    const quint16 port = startServer();
    TlsClient a(port), b(port), c(port);
    for (TlsClient *client : {&a, &b, &c})
        EXPECT_EQ(client->readUntilClosed(10s), QByteArray());
    EXPECT_TRUE(m_oServer.waitForLogLine("read timeout occurred"));
    EXPECT_TRUE(m_oServer.waitForLogLine("Removed connection handler, pool size is now: 1"));
    EXPECT_FALSE(m_oServer.logText().contains("pool size is now: 0"));
    // The key is decrypted at start-up, not once more for each of the three connections.
    EXPECT_EQ(m_oServer.logText().count("Decrypting the server key"), 1);
}

TEST_F(TransportTest, PoolExhausted_ConnectionPastMaxThreads_503InClearWhileOthersWork)
{
    m_oServer.setIniValue("listener/maxThreads", "2");
    const quint16 port = startServer();
    TlsClient first(port);
    const TlsClient second(port);
    ASSERT_TRUE(first.isOpen() && second.isOpen());
    QTcpSocket third;
    third.connectToHost(QStringLiteral("127.0.0.1"), port);
    QByteArray clearText;
    while (third.waitForReadyRead(10000))
        clearText += third.readAll();
    EXPECT_EQ(clearText + third.readAll(),
              "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n");
    EXPECT_EQ(first.post("/SERVER_VERSION").statusCode(), 200);
}

TEST_F(TransportTest, HostileInput_OversizedGarbageSilenceAndPlainHttp_413ThenServerKeepsServing)
{
    m_oServer.setIniValue("listener/maxThreads", "3");
    m_oServer.setIniValue("listener/maxRequestSize", "16000");
    const quint16 port = startServer();
    TlsClient oversized(port);
    oversized.send("POST / HTTP/1.1\r\nX-Big: " + QByteArray(17000, 'a') + "\r\n\r\n");
    EXPECT_EQ(oversized.readUntilClosed(),
              "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n");
    const auto serving = [port] {
        return waitUntil([&] { return TlsClient(port).post("/SERVER_VERSION").statusCode() == 200; }, 20s);
    };
    for (const QByteArray &bytes : {QByteArray(4096, '\x16'), QByteArray("GET /status HTTP/1.1\r\n\r\n"),
                                    QByteArray::fromHex("160301"), QByteArray()}) {
        QTcpSocket raw;
        raw.connectToHost(QStringLiteral("127.0.0.1"), port);
        ASSERT_TRUE(raw.waitForConnected(5000));
        raw.write(bytes);
        raw.waitForBytesWritten(1000);
        raw.abort();
    }
    // Handlers come back as their peers' disconnects are seen; the pool must recover all.
    ASSERT_TRUE(serving());
    TlsClient(port).send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
    ASSERT_TRUE(serving());
    for (int round = 0; round < 6; ++round)
        ASSERT_EQ(TlsClient(port).post("/SERVER_VERSION").statusCode(), 200) << "round " << round;
    EXPECT_TRUE(m_oServer.isRunning());
}

} // namespace

// Ten slow clients of another account at a time: five are refused at once, as half the pool
// is all other accounts may hold, five are closed by their deadline, and meanwhile the owner
// is served at once on the other half.
TEST_F(TransportTest, SlowClientsOfAnotherAccount_StalledTrickledUnread_ClosedByDeadlineOwnerServed)
{
    const TestAccount other(QStringLiteral("s"));
    if (!other.valid())
        GTEST_SKIP() << "needs root to make a test account";
    for (const char *key : {"listener/handshakeTimeout", "listener/requestTimeout", "listener/writeTimeout"})
        m_oServer.setIniValue(QString::fromLatin1(key), "3000");
    m_oServer.setIniValue("listener/sendBufferSize", "16384");
    const quint16 port = startServer();
    const QByteArray trickled = "POST / HTTP/1.1\r\nContent-Length: 100000\r\n\r\n";
    const QByteArray unread = TlsClient::postRequest("/SERVER_VERSION").repeated(1000);
    for (const auto &[deadline, bytes] :
         {std::pair{"handshake", QByteArray()}, {"request", trickled}, {"write", unread}}) {
        std::vector<std::unique_ptr<QSslSocket>> slow;
        for (int client = 0; client < 10; ++client)
            slow.push_back(connectAs(other, port, !bytes.isNull(), bytes));
        // The owner's half of the pool, held at once.
        const QDeadlineTimer oneSecond(1s);
        std::vector<std::unique_ptr<TlsClient>> owner;
        for (int client = 0; client < 5; ++client) {
            owner.push_back(std::make_unique<TlsClient>(port));
            EXPECT_EQ(owner.back()->post("/SERVER_VERSION").statusCode(), 200) << deadline;
        }
        EXPECT_FALSE(oneSecond.hasExpired()) << deadline;
        const QString closed = QStringLiteral("The %1 deadline passed").arg(QLatin1String(deadline));
        EXPECT_TRUE(waitUntil(
            [&] {
                for (const auto &socket : slow)
                    if (bytes == trickled && socket->state() == QAbstractSocket::ConnectedState)
                        socket->write("x");
                return m_oServer.logText().count(closed) == 5;
            },
            4s))
            << deadline;
    }
    EXPECT_EQ(m_oServer.logText().count("Connection refused: other accounts hold their share"), 15);
}
