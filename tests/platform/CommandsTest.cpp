// System tools and the TEST report against scripted commands;
// the real command runner against sh.
#include "PlatformTestSupport.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/QProcessCommandRunner.h"
#include "platform/SystemInformationReport.h"

#include <QElapsedTimer>

namespace {

const QString kPs = "ps -eww -o user,pid,ppid,etime,args";

struct ThrowingProcessUtils : ProcessUtilsLinuxImpl
{
    using ProcessUtilsLinuxImpl::ProcessUtilsLinuxImpl;
    QByteArray getSystemDetailInfo() override { throw EnumProcessesException("gone"); }
};

// What ps did becomes the task list, always within the report's bound; the report answers OK
// whatever the tools said, and the failure text only when a query throws.
TEST(SystemInformationReportTest, TaskListAndReport_ScriptedPs_OutputTimeoutTextOrFailureText)
{
    const struct
    {
        CommandResult result;
        QByteArray text;
    } cases[] = {
        {ran(0, "USER PID\nroot 1\n"), "USER PID\nroot 1\n"},
        {kTimedOut, "Command finished with TIMEOUT"},
        {ran(1, {}, "ps: bad option\n"), "ps: bad option\n"},
        {CommandResult{}, ""}, // not started
    };
    for (const auto &c : cases) {
        Fakes fakes;
        fakes.runner->script.insert(kPs, c.result);
        auto utils = fakes.utils();
        EXPECT_EQ(utils.getTaskList(), c.text);
        EXPECT_EQ(fakes.runner->timeouts.first(), 3000);
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
    QElapsedTimer elapsed;
    elapsed.start();
    const CommandResult hung = runner.run("sh", {"-c", "echo partial; exec sleep 30"}, 300);
    EXPECT_TRUE(hung.started && hung.timedOut && !hung.finished);
    EXPECT_EQ(hung.output, QByteArray("partial\n"));
    EXPECT_LT(elapsed.elapsed(), 3300);
    EXPECT_FALSE(runner.run("/nonexistent/vyr-tool", {}, 1000).started);
}

} // namespace
