// The real machine: our own sockets, account and children.
#include "PlatformTestSupport.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QProcess>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <csignal>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

TEST(LiveSystemTest, OwnSocketsAndAccount_RealProc_OwnPidAndHostSlashUser)
{
    QTcpServer server;
    QTcpSocket client;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(client.waitForConnected(5000));
    ASSERT_TRUE(server.waitForNewConnection(5000));
    auto utils = Fakes().utils();
    EXPECT_EQ(utils.getPidOfProcessAtPort(server.serverPort()), getpid());
    EXPECT_EQ(utils.getPidOfProcessAtPort(client.localPort()), getpid());
    const QString user = QString::fromLocal8Bit(getpwuid(geteuid())->pw_name);
    const QString account = utils.getDomainAndUsernameForPid(getpid());
    EXPECT_EQ(account, QSysInfo::machineHostName() + QLatin1Char('/') + user);
    EXPECT_EQ(utils.getProcessNameForPid(getpid()), QStringLiteral("platform_tests"));
    EXPECT_EQ(utils.getPortOfUserProcess(account.toUpper(), "PLATFORM_TESTS", server.serverPort()),
              server.serverPort());
    EXPECT_EQ(utils.getPortOfUserProcess("elsewhere/nobody", "platform_tests", 0), 0);
}

// A child that QProcess kills when the test ends; a shell child says "ready" once its traps are set.
std::unique_ptr<QProcess> startChild(const QString &program, const QStringList &arguments)
{
    auto child = std::make_unique<QProcess>();
    child->start(program, arguments);
    EXPECT_TRUE(child->waitForStarted(5000));
    for (const QDeadlineTimer deadline(5000);
         program == "sh" && !child->canReadLine() && !deadline.hasExpired();)
        child->waitForReadyRead(100);
    return child;
}

TEST(ChildProcessTest, ShutdownProcess_TermIgnoredOrHonoured_KilledOrEndedByTerm)
{
    auto utils = Fakes().utils();
    const auto stubborn = startChild("sh", {"-c", "trap '' TERM; echo ready; exec sleep 100"});
    EXPECT_TRUE(utils.ShutdownProcess(stubborn->processId()));
    ASSERT_TRUE(stubborn->waitForFinished(5000));
    EXPECT_EQ(stubborn->exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(stubborn->exitCode(), SIGKILL);
    const auto polite = startChild("sh", {"-c", "echo ready; exec sleep 100"});
    EXPECT_TRUE(utils.ShutdownProcess(polite->processId()));
    ASSERT_TRUE(polite->waitForFinished(5000));
    EXPECT_EQ(polite->exitCode(), SIGTERM);
}

TEST(ChildProcessTest, ShutdownProcess_NoSuchOrGroupPid_FalseWithoutSignal)
{
    // 0 and -1 would signal our own process group or everyone.
    auto utils = Fakes().utils();
    for (const qint64 pid : {qint64(0), qint64(-1), qint64(99999999), qint64(1) << 40})
        EXPECT_FALSE(utils.ShutdownProcess(pid)) << pid;
}

} // namespace
