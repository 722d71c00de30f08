#include "ProtocolFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTcpServer>
#include <csignal>

using namespace std::chrono_literals;

namespace {

// Each fault leaves the owner's server serving module commands, says so in exactly one line,
// and (where the fault can end) recovers without a restart.
class FaultTest : public ProtocolTest
{
protected:
    bool served()
    {
        m_poClient = std::make_unique<TlsClient>(m_iPort, s_poOwner);
        const QByteArray session = openSession();
        return m_poClient->isOpen() &&
               collect(session, post("/Mod1/Cmd1?data=ok", session).headers.value("X-VYR-cmdId")).body ==
                   "ok";
    }
    int openFiles() const
    {
        return int(QDir(QStringLiteral("/proc/%1/fd").arg(m_oServer.pid()))
                       .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                       .size());
    }
};

TEST_F(FaultTest, ClientKilledMidJob_SessionTimesOutAndItsConnectionIsClosed)
{
    m_oServer.setIniValue("timeout/interval", "700");
    m_oServer.setIniValue("listener/cleanupInterval", "200"); // idle handlers go soon
    startServer();
    ASSERT_TRUE(served());
    const int baseline = openFiles();
    auto doomed = std::make_unique<TlsClient>(m_iPort, s_poOwner);
    const QByteArray session = doomed->post("/OPEN_SESSION").body;
    EXPECT_EQ(doomed->post("/Slow/Wait?timeoutMs=1500", sessionHeader(session)).statusCode(), 202);
    ::kill(pid_t(doomed->relayPid()), SIGKILL);
    EXPECT_TRUE(served());
    EXPECT_TRUE(m_oServer.waitForLogLine("Timeout occured. sessionID=" + session, 10s));
    EXPECT_TRUE(waitUntil([&] { return openFiles() <= baseline; }, 10s)) << openFiles() << " > " << baseline;
}

TEST_F(FaultTest, KeyFilesRemovedWhileRunning_OneErrorLineThenServedOnceTheyReturn)
{
    startServer();
    const QString certs = m_oServer.appDir() + "/certs";
    ASSERT_TRUE(QDir().rename(certs, certs + ".away"));
    EXPECT_FALSE(TlsClient(m_iPort, s_poOwner).isOpen() || TlsClient(m_iPort, s_poOwner).isOpen());
    ASSERT_TRUE(QDir().rename(certs + ".away", certs));
    EXPECT_TRUE(served());
    EXPECT_EQ(m_oServer.logText().count("every TLS connection is refused"), 1);
    EXPECT_TRUE(m_oServer.logText().contains("TLS certificate and key serve again"));
}

// The user server's port is the configured one + 1, known without its log.
using LogFault = void (*)(const QString &logDir);
class LogFaultTest : public FaultTest, public ::testing::WithParamInterface<LogFault>
{
};

TEST_P(LogFaultTest, LogUnwritable_ServesAndSaysSoOnceOnStandardError)
{
    const QString logDir = QFileInfo(m_oServer.logFilePath()).absolutePath();
    QDir().mkpath(logDir);
    GetParam()(logDir);
    // A failing test prints the log; /dev/full reads without end.
    const auto unlink = qScopeGuard([&] { QFile::remove(m_oServer.logFilePath()); });
    m_oServer.runAs(s_poOwner);
    ASSERT_TRUE(m_oServer.start({"-console"}));
    m_iPort = quint16(m_iConfiguredPort + 1);
    ASSERT_TRUE(waitUntil([&] { return TlsClient(m_iPort, s_poOwner).isOpen(); }, 20s));
    EXPECT_TRUE(served());
    const auto said = [&] { return m_oServer.standardError().count("the server keeps serving"); };
    EXPECT_TRUE(waitUntil([&] { return said() > 0; }, 10s));
    EXPECT_EQ(said(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    ReadOnlyDirAndFullDisk, LogFaultTest,
    ::testing::Values(
        [](const QString &dir) { QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner); },
        [](const QString &dir) { QFile::link("/dev/full", dir + "/VeltraneCryptoProvider.log"); }));

// Root's server is the dispatcher: it waits for a port another process holds, then takes it.
TEST_F(FaultTest, DispatcherPortHeld_RetriesUntilItIsFree)
{
    auto holder = std::make_unique<QTcpServer>();
    ASSERT_TRUE(holder->listen(QHostAddress::LocalHost, m_iConfiguredPort));
    m_oServer.setIniValue("listener/port", QString::number(m_iConfiguredPort));
    ASSERT_TRUE(m_oServer.start());
    ASSERT_TRUE(
        m_oServer.waitForLogLine(QStringLiteral("Port %1 is held by process").arg(m_iConfiguredPort)));
    holder.reset();
    EXPECT_EQ(m_oServer.waitForListeningPort(), m_iConfiguredPort);
}

} // namespace
