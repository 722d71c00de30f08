// The TEST report against scripted commands; the real command runner against sh; ending real children, and
// refusing pids that would signal more than one process.
#include "PlatformTestSupport.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/QProcessCommandRunner.h"
#include "platform/SystemInformationReport.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <csignal>

namespace {

struct ThrowingProcessUtils : ProcessUtilsLinuxImpl
{
    using ProcessUtilsLinuxImpl::ProcessUtilsLinuxImpl;
    QByteArray getSystemDetailInfo() override { throw EnumProcessesException("gone"); }
};

// The task list only reaches the log: the report answers OK whatever ps did, and the failure
// text only when a query throws.
TEST(SystemInformationReportTest, Report_PsFailedTimedOutOrAbsentOrQueryThrows_OkOrFailureText)
{
    for (const CommandResult &result :
         {CommandResult{true, false, true, -1, {}, {}},
          CommandResult{true, true, false, 1, {}, "ps: bad option\n"}, CommandResult{}}) {
        Fakes fakes;
        fakes.runner->script.insert("ps -eww -o user,pid,ppid,etime,args", result);
        auto utils = fakes.utils();
        EXPECT_EQ(runSystemInformationReport(utils), QByteArray("OK"));
    }
    ThrowingProcessUtils throwing("/proc", "/etc", Fakes().deps());
    EXPECT_EQ(runSystemInformationReport(throwing), QByteArray(kSystemInformationFailureText));
}

TEST(QProcessCommandRunnerTest, Run_ShellScripts_OutputsExitCodeOrKilledAtTimeout)
{
    QProcessCommandRunner runner;
    const CommandResult done =
        runner.run("sh", {"-c", "cat; echo out; echo err >&2; exit 3"}, 5000); // cat: stdin is closed
    EXPECT_TRUE(done.finished && !done.timedOut);
    EXPECT_EQ(done.exitCode, 3);
    EXPECT_EQ(done.output, QByteArray("out\n"));
    EXPECT_EQ(done.error, QByteArray("err\n"));
    const CommandResult hung = runner.run("sh", {"-c", "echo partial; exec sleep 30"}, 300);
    EXPECT_TRUE(hung.started && hung.timedOut && !hung.finished);
    EXPECT_EQ(hung.output, QByteArray("partial\n"));
    EXPECT_FALSE(runner.run("/nonexistent/vyr-tool", {}, 1000).started);
}

TEST(ChildProcessTest, ShutdownProcess_TermHonouredOrIgnored_EndedByTermOrKilled)
{
    auto utils = Fakes().utils();
    for (const auto &[script, signal] :
         {std::pair{"echo ready", SIGTERM}, std::pair{"trap '' TERM; echo ready", SIGKILL}}) {
        QProcess child; // says "ready" once its traps are set
        child.start("sh", {"-c", QString::fromLatin1(script) + "; exec sleep 100"});
        for (const QDeadlineTimer deadline(5000); !child.canReadLine() && !deadline.hasExpired();)
            child.waitForReadyRead(100);
        EXPECT_TRUE(utils.ShutdownProcess(child.processId()));
        ASSERT_TRUE(child.waitForFinished(5000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(child.exitCode(), signal) << script;
    }
    // 0 and -1 would signal our own process group or everyone.
    for (const qint64 pid : {qint64(0), qint64(-1), qint64(99999999), qint64(1) << 40})
        EXPECT_FALSE(utils.ShutdownProcess(pid)) << pid;
}

} // namespace
