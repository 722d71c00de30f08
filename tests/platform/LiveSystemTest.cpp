// Ending real children, and refusing pids that would signal more than one process.
#include "PlatformTestSupport.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <csignal>

namespace {

// A shell child that QProcess kills when the test ends; it says "ready" once its traps are set.
std::unique_ptr<QProcess> startChild(const QString &script)
{
    auto child = std::make_unique<QProcess>();
    child->start(QStringLiteral("sh"), {QStringLiteral("-c"), script + QStringLiteral("; exec sleep 100")});
    EXPECT_TRUE(child->waitForStarted(5000));
    for (const QDeadlineTimer deadline(5000); !child->canReadLine() && !deadline.hasExpired();)
        child->waitForReadyRead(100);
    return child;
}

TEST(ChildProcessTest, ShutdownProcess_TermHonouredOrIgnored_EndedByTermOrKilled)
{
    auto utils = Fakes().utils();
    for (const auto &[script, signal] :
         {std::pair{"echo ready", SIGTERM}, std::pair{"trap '' TERM; echo ready", SIGKILL}}) {
        const auto child = startChild(QString::fromLatin1(script));
        EXPECT_TRUE(utils.ShutdownProcess(child->processId()));
        ASSERT_TRUE(child->waitForFinished(5000));
        EXPECT_EQ(child->exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(child->exitCode(), signal) << script;
    }
    // 0 and -1 would signal our own process group or everyone.
    for (const qint64 pid : {qint64(0), qint64(-1), qint64(99999999), qint64(1) << 40})
        EXPECT_FALSE(utils.ShutdownProcess(pid)) << pid;
}

} // namespace
