#include "support/QtPrinters.h"
#include "support/ServerProcess.h"
#include "support/TestAccount.h"
#include "support/TlsClient.h"

#include <QDateTime>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A server of this account (root in CI: the dispatcher on the configured port) with
// certificates, on a free port.
class TransportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_iPort = findFreePortPair();
        ASSERT_NE(m_iPort, 0);
        m_oServer.setIniValue("listener/port", QString::number(m_iPort));
        ASSERT_TRUE(m_oServer.provisionCertificates());
    }

    quint16 startServer()
    {
        if (!m_oServer.start())
            return 0;
        return m_oServer.waitForListeningPort();
    }

    quint16 m_iPort = 0;
    ServerProcess m_oServer;
};

TEST_F(TransportTest, KeepAlive_TwoRequestsOnOneConnection_BothServedThenCloseHonoured)
{
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    TlsClient client;
    ASSERT_TRUE(client.connectTo(port));
    client.send("POST /SERVER_VERSION HTTP/1.1\r\nHost: x\r\n\r\n");
    const HttpAnswer first = client.readAnswer();
    EXPECT_EQ(first.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(first.body, "6.6.10.168");
    client.send("POST /SERVER_VERSION HTTP/1.1\r\nConnection: close\r\n\r\n");
    const HttpAnswer second = client.readAnswer();
    EXPECT_EQ(second.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(second.body, "6.6.10.168");
    EXPECT_TRUE(client.waitForClosed(5s));
}

TEST_F(TransportTest, Pipelined_ThreeRequestsInOneWrite_ThreeAnswersInOrder)
{
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    TlsClient client;
    ASSERT_TRUE(client.connectTo(port));
    client.send(
        "POST /SERVER_VERSION HTTP/1.1\r\n\r\nGET /status HTTP/1.1\r\n\r\nGET /nope HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readAnswer().statusCode(), 200);
    EXPECT_EQ(client.readAnswer().body, "<h1>Veltrane Crypto Server v6.6.10.168 is running </h1>");
    EXPECT_EQ(client.readAnswer().statusLine, "HTTP/1.1 404 File Not Found");
}

TEST_F(TransportTest, Oversized_HeadersPastMaxRequestSize_413TextAndClose)
{
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    TlsClient client;
    ASSERT_TRUE(client.connectTo(port));
    client.send("POST / HTTP/1.1\r\nX-Big: " + QByteArray(17000, 'a') + "\r\n\r\n");
    EXPECT_EQ(client.readUntilClosed(),
              "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n");
}

TEST_F(TransportTest, PoolExhausted_ConnectionPastMaxThreads_503InClearWhileOthersWork)
{
    m_oServer.setIniValue("listener/maxThreads", "2");
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    TlsClient first, second;
    ASSERT_TRUE(first.connectTo(port));
    ASSERT_TRUE(second.connectTo(port));
    QTcpSocket third;
    third.connectToHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(third.waitForConnected(5000));
    QByteArray clearText;
    waitUntil(
        [&] {
            third.waitForReadyRead(50);
            clearText += third.readAll();
            return third.state() == QAbstractSocket::UnconnectedState;
        },
        10s);
    EXPECT_EQ(clearText,
              "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n");
    first.send("POST /SERVER_VERSION HTTP/1.1\r\n\r\n");
    EXPECT_EQ(first.readAnswer().statusCode(), 200);
}

TEST_F(TransportTest, IdleConnection_ReadTimeout_ClosedWithoutReply)
{
    m_oServer.setIniValue("listener/readTimeout", "300");
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    TlsClient client;
    ASSERT_TRUE(client.connectTo(port));
    EXPECT_EQ(client.readUntilClosed(10s), QByteArray());
    EXPECT_TRUE(m_oServer.waitForLogLine("read timeout occurred"));
}

TEST_F(TransportTest, Cleanup_AfterBurst_IdleHandlersRetiredDownToMinThreads)
{
    m_oServer.setIniValue("listener/cleanupInterval", "100");
    m_oServer.setIniValue("logging/logLevel", "1");
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    {
        TlsClient a, b, c;
        ASSERT_TRUE(a.connectTo(port));
        ASSERT_TRUE(b.connectTo(port));
        ASSERT_TRUE(c.connectTo(port));
    }
    EXPECT_TRUE(m_oServer.waitForLogLine("Removed connection handler, pool size is now: 1"));
    EXPECT_FALSE(m_oServer.logText().contains("pool size is now: 0"));
}

TEST_F(TransportTest, LastRequestFile_200WritesIt_404DoesNot)
{
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    const QString stamp = m_oServer.appDir() + "/xdg/data/Veltrane/.last_vyr_req";
    EXPECT_EQ(TlsClient::post(port, "/SERVER_VERSION").statusCode(), 200);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(stamp); }, 5s));
    QFile file(stamp);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const qint64 written = file.readAll().toLongLong();
    EXPECT_LE(qAbs(QDateTime::currentMSecsSinceEpoch() - written), 60000);
    QFile::remove(stamp);

    TlsClient client;
    ASSERT_TRUE(client.connectTo(port));
    client.send("GET /nothing HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readAnswer().statusCode(), 404);
    EXPECT_FALSE(QFile::exists(stamp));
}

TEST(TransportNoCertificates, Handshake_WithoutCertificateAndKey_EveryHandshakeFails)
{
    ServerProcess server;
    server.setIniValue("listener/port", QString::number(findFreePortPair()));
    ASSERT_TRUE(server.start());
    const quint16 port = server.waitForListeningPort();
    ASSERT_NE(port, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        TlsClient client;
        EXPECT_FALSE(client.connectTo(port, 5s));
    }
    EXPECT_TRUE(server.waitForLogLine("Key file not found"));
}

TEST_F(TransportTest, SecondStart_SameAccount_ExitsOneWithLine)
{
    ASSERT_NE(startServer(), 0);
    ServerProcess second;
    second.setIniValue("listener/port", QString::number(findFreePortPair()));
    ASSERT_TRUE(second.start());
    EXPECT_EQ(second.waitForExit(), 1);
    EXPECT_TRUE(second.logText().contains(QStringLiteral("Server is already running on port: ")));
}

TEST_F(TransportTest, HostileInput_GarbageSilenceAndPlainHttp_ServerKeepsServing)
{
    m_oServer.setIniValue("listener/maxThreads", "3");
    const quint16 port = startServer();
    ASSERT_NE(port, 0);
    const QList<QByteArray> hostile = {QByteArray(4096, '\x16'), "GET /status HTTP/1.1\r\n\r\n",
                                       QByteArray::fromHex("160301"), QByteArray()};
    for (const QByteArray &bytes : hostile) {
        QTcpSocket raw;
        raw.connectToHost(QStringLiteral("127.0.0.1"), port);
        ASSERT_TRUE(raw.waitForConnected(5000));
        raw.write(bytes);
        raw.waitForBytesWritten(1000);
        raw.abort();
    }
    // Handlers come back as their peers' disconnects are seen; the pool must recover all.
    ASSERT_TRUE(waitUntil([&] { return TlsClient::post(port, "/SERVER_VERSION").statusCode() == 200; }, 20s));
    {
        TlsClient halfway;
        ASSERT_TRUE(halfway.connectTo(port));
        halfway.send("POST / HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc");
    }
    ASSERT_TRUE(waitUntil([&] { return TlsClient::post(port, "/SERVER_VERSION").statusCode() == 200; }, 20s));
    for (int round = 0; round < 6; ++round)
        ASSERT_EQ(TlsClient::post(port, "/SERVER_VERSION").statusCode(), 200) << "round " << round;
    EXPECT_TRUE(m_oServer.isRunning());
}

class TransportAccountsTest : public TransportTest
{
protected:
    static void SetUpTestSuite() { s_poAccount = new TestAccount(); }
    static void TearDownTestSuite()
    {
        delete s_poAccount;
        s_poAccount = nullptr;
    }
    void SetUp() override
    {
        if (::geteuid() != 0 || !s_poAccount->valid())
            GTEST_SKIP() << "needs root to make a test account";
        TransportTest::SetUp();
    }
    static TestAccount *s_poAccount;
};

TestAccount *TransportAccountsTest::s_poAccount = nullptr;

TEST_F(TransportAccountsTest, UserServer_NextPortTaken_FirstFreePortAboveConfigured)
{
    QTcpServer blocker;
    ASSERT_TRUE(blocker.listen(QHostAddress::LocalHost, static_cast<quint16>(m_iPort + 1)));
    m_oServer.runAs(s_poAccount);
    const quint16 port = startServer();
    EXPECT_GT(port, m_iPort + 1);
    EXPECT_TRUE(m_oServer.logText().contains(QStringLiteral("Cannot bind on port %1: ").arg(m_iPort + 1)));
    EXPECT_EQ(TlsClient::post(port, "/SERVER_VERSION").statusCode(), 200);
}

TEST_F(TransportAccountsTest, Dispatcher_UserServerHoldsConfiguredPort_UserServerEndedAndPortTaken)
{
    ServerProcess userServer;
    userServer.setIniValue("listener/port", QString::number(m_iPort - 1));
    ASSERT_TRUE(userServer.provisionCertificates());
    userServer.runAs(s_poAccount);
    ASSERT_TRUE(userServer.start());
    ASSERT_EQ(userServer.waitForListeningPort(), m_iPort);
    const quint16 port = startServer();
    EXPECT_EQ(port, m_iPort);
    EXPECT_TRUE(m_oServer.logText().contains(
        "Dispatcher is runing on another user. It will be closed and run on system account!"));
    EXPECT_TRUE(
        m_oServer.logText().contains("Current server will be a dispatcher service for other servers"));
    EXPECT_EQ(userServer.waitForExit(15s), 0);
}

} // namespace
