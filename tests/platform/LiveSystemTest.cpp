// The real machine: our own sockets, account and children.
#include "PlatformTestSupport.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/SocketOwnerLookup_linux.h"
#include "support/QtPrinters.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <iostream>
#include <memory>
#include <vector>
#include <unistd.h>

namespace {

QString commandOutput(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

class LiveSocketTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_oServer.listen(QHostAddress::LocalHost, 0));
        m_oClient.connectToHost(QHostAddress::LocalHost, m_oServer.serverPort());
        ASSERT_TRUE(m_oClient.waitForConnected(5000));
        ASSERT_TRUE(m_oServer.waitForNewConnection(5000));
    }

    QTcpServer m_oServer;
    QTcpSocket m_oClient;
    FakePlatform m_oFakes;
    ProcessUtilsLinuxImpl m_oUtils{QStringLiteral("/proc"), QStringLiteral("/etc"), m_oFakes.dependencies()};
};

TEST_F(LiveSocketTest, GetPidOfProcessAtPort_OwnListenerAndClient_OwnPid)
{
    EXPECT_EQ(m_oUtils.getPidOfProcessAtPort(m_oServer.serverPort()), getpid());
    EXPECT_EQ(m_oUtils.getPidOfProcessAtPort(m_oClient.localPort()), getpid());
}

TEST_F(LiveSocketTest, GetPortOfUserProcess_OwnServer_ItsListeningPort)
{
    const QString account = m_oUtils.getDomainAndUsernameForPid(getpid());
    const QString name = m_oUtils.getProcessNameForPid(getpid());
    EXPECT_EQ(m_oUtils.getPortOfUserProcess(account, name, m_oServer.serverPort()), m_oServer.serverPort());
}

// The permission check asks this for every request; the times are reported, not judged.
TEST_F(LiveSocketTest, GetPidOfProcessAtPort_Repeated_ReportsTimePerLookup)
{
    const auto microseconds = [](int rounds, const std::function<void()> &work) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < rounds; ++i)
            work();
        return double(timer.nsecsElapsed()) / 1000.0 / rounds;
    };
    const quint16 clientPort = m_oClient.localPort();
    const double repeated = microseconds(100, [&] { ASSERT_EQ(m_oUtils.getPidOfProcessAtPort(clientPort), getpid()); });
    const double tableOnly = microseconds(50, [&] { m_oUtils.getPidOfProcessAtPort(1); });
    // An inode no process holds: every visible fd table is read.
    const ProcFs procFs(QStringLiteral("/proc"));
    const double fullScan = microseconds(20, [&] { SocketOwnerLookup(procFs).ownerOf(~quint64(0), getuid()); });
    std::cout << "[ MEASURED ] getPidOfProcessAtPort: " << repeated << " us per lookup of a known client; "
              << tableOnly << " us for the table alone; " << fullScan << " us for a scan of every process" << std::endl;
    RecordProperty("usPerLookup", std::to_string(repeated));
}

TEST(LiveAccountTest, OwnProcess_AccountNameAndOwner_MatchTheSystem)
{
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), FakePlatform().dependencies());
    const QString user = commandOutput(QStringLiteral("id"), {QStringLiteral("-un")});
    EXPECT_EQ(utils.getDomainAndUsernameForPid(getpid()), QSysInfo::machineHostName() + QLatin1Char('/') + user);
    EXPECT_EQ(utils.getUsernameForPid(getpid()), user);
    EXPECT_EQ(utils.getProcessNameForPid(getpid()), QStringLiteral("platform_tests"));
    EXPECT_EQ(utils.isSystemProcess(getpid()), geteuid() == 0);
    EXPECT_EQ(utils.isProcessElevated(getpid()), geteuid() == 0);
    EXPECT_EQ(utils.getDomainAndUsernameForSystemAccount(), QSysInfo::machineHostName() + QStringLiteral("/root"));
    EXPECT_TRUE(utils.getPIDsOfCurrentUserProcesses().contains(getpid()));
    EXPECT_EQ(utils.getPIDsOfSystemProcesses().contains(getpid()), geteuid() == 0);
    EXPECT_TRUE(utils.getPIDsOfProcessesMatching(QStringLiteral("PLATFORM_TESTS")).contains(getpid()));
    if (geteuid() == 0) {
        EXPECT_TRUE(utils.isUserAdmin());
    }
    const qint64 lifetime = utils.getLifetimeForPids(getpid());
    EXPECT_GE(lifetime, 0);
    EXPECT_LT(lifetime, 24LL * 3600 * 1000);
}

// Children started through QProcess; the fixture ends them by pid whatever the test did.
class ChildProcessTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (const auto &child : m_oChildren) {
            if (child->state() != QProcess::NotRunning) {
                ::kill(pid_t(child->processId()), SIGKILL);
                child->waitForFinished(5000);
            }
        }
    }

    // With readyText, waits for it so that the child's signal dispositions are in place.
    QProcess &startChild(const QString &program, const QStringList &arguments, const QByteArray &readyText = {})
    {
        QProcess &child = *m_oChildren.emplace_back(std::make_unique<QProcess>());
        child.start(program, arguments);
        EXPECT_TRUE(child.waitForStarted(5000));
        const QDeadlineTimer deadline(5000);
        QByteArray output;
        while (!readyText.isEmpty() && !output.contains(readyText) && !deadline.hasExpired()) {
            child.waitForReadyRead(100);
            output += child.readAllStandardOutput();
        }
        EXPECT_FALSE(deadline.hasExpired());
        return child;
    }

    std::vector<std::unique_ptr<QProcess>> m_oChildren;
    FakePlatform m_oFakes;
    ProcessUtilsLinuxImpl m_oUtils{QStringLiteral("/proc"), QStringLiteral("/etc"), m_oFakes.dependencies()};
};

TEST_F(ChildProcessTest, ShutdownProcess_IgnoresTerm_EndedByKill)
{
    const LogCapture log;
    QProcess &child = startChild(QStringLiteral("sh"),
                                 {QStringLiteral("-c"), QStringLiteral("trap '' TERM; echo ready; exec sleep 100")}, "ready");
    EXPECT_TRUE(m_oUtils.ShutdownProcess(child.processId()));
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    const QString prefix = QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::ShutdownProcess: ");
    EXPECT_TRUE(log.contains(prefix + QStringLiteral("Process was not signaled, terminating...")));
    EXPECT_TRUE(log.contains(prefix + QStringLiteral("Process terminated successfully")));
    EXPECT_TRUE(log.contains(prefix + QStringLiteral("Kill finished. Status: TRUE")));
}

TEST_F(ChildProcessTest, ShutdownProcess_EndsOnTerm_SignaledWithoutKill)
{
    const LogCapture log;
    QProcess &child = startChild(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo ready; exec sleep 100")}, "ready");
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_TRUE(m_oUtils.ShutdownProcess(child.processId()));
    EXPECT_LT(elapsed.elapsed(), ProcessUtilsLinuxImpl::kShutdownWaitMs);
    EXPECT_TRUE(log.contains(QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::ShutdownProcess: Process was signaled")));
    EXPECT_FALSE(log.containsText(QStringLiteral("terminating...")));
}

TEST_F(ChildProcessTest, KillProcessByName_ExactExecutableName_EndsOnlyThatProgram)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Private copies, so that no one else's process shares the names; one name is a prefix of the other.
    const QString name = QStringLiteral("vyr-sleeper-%1").arg(getpid());
    for (const QString &copy : {dir.filePath(name), dir.filePath(name + QStringLiteral("-b"))}) {
        ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), copy));
        ASSERT_TRUE(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));
    }
    QProcess &target = startChild(dir.filePath(name), {QStringLiteral("100")});
    QProcess &bystander = startChild(dir.filePath(name + QStringLiteral("-b")), {QStringLiteral("100")});
    m_oUtils.killProcessByName(name);
    EXPECT_TRUE(target.waitForFinished(5000));
    EXPECT_TRUE(ProcFs(QStringLiteral("/proc")).isRunning(bystander.processId()));
}

class ShutdownRefusalTest : public ::testing::TestWithParam<qint64>
{
};

TEST_P(ShutdownRefusalTest, ShutdownProcess_NoSuchProcess_FalseAtOnce)
{
    const LogCapture log;
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), FakePlatform().dependencies());
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(utils.ShutdownProcess(GetParam()));
    EXPECT_LT(elapsed.elapsed(), 1000);
    EXPECT_TRUE(log.contains(QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::ShutdownProcess: Process with pid <%1> was not opened")
                                 .arg(GetParam())));
}

// 0 and -1 would signal our own process group or everyone.
INSTANTIATE_TEST_SUITE_P(Pids, ShutdownRefusalTest, ::testing::Values(0, -1, 99999999, qint64(1) << 40));

TEST(PathVariableTest, SetPathVariable_Value_ReadBackAndSeenByChildren)
{
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), FakePlatform().dependencies());
    const QByteArray saved = utils.getPathVariable();
    EXPECT_EQ(saved, qgetenv("PATH"));
    utils.setPathVariable(QString::fromLocal8Bit(saved) + QStringLiteral(":/opt/vyr-modules/lib"));
    EXPECT_TRUE(utils.getPathVariable().endsWith(":/opt/vyr-modules/lib"));
    EXPECT_TRUE(commandOutput(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $PATH")})
                    .endsWith(QStringLiteral(":/opt/vyr-modules/lib")));
    utils.setPathVariable(QString::fromLocal8Bit(saved));
}

} // namespace
