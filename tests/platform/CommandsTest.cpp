// Service control, starts, system tools and the TEST report against scripted commands;
// the real command runner against sh.
#include "PlatformTestSupport.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/QProcessCommandRunner.h"
#include "platform/SystemInformationReport.h"

#include <QElapsedTimer>
#include <functional>

namespace {

const QString kShow = "systemctl show --property=LoadState --value vyr.service";
const QString kIsActive = "systemctl is-active vyr.service";
const QString kStart = "systemctl start vyr.service";
const QString kStop = "systemctl stop vyr.service";
const QString kPs = "ps -eww -o user,pid,ppid,etime,args";

TEST(ServiceControlTest, StartStopSystemService_ScriptedSystemctl_ExactCommandsAndAnswer)
{
    const CommandResult loaded = ran(0, "loaded\n"), active = ran(0, "active\n");
    const struct
    {
        bool stop;
        QMap<QString, CommandResult> script;
        QStringList calls;
        bool answer;
    } cases[] = {
        {false, {{kShow, loaded}, {kStart, ran(0)}}, {kShow, kStart}, true},
        {false, {{kShow, ran(0, "not-found\n")}}, {kShow}, false},
        {false, {}, {kShow}, false}, // no systemctl
        {false, {{kShow, loaded}, {kStart, ran(5)}}, {kShow, kStart}, false},
        {true, {{kShow, loaded}, {kIsActive, ran(3, "inactive\n")}}, {kShow, kIsActive}, true},
        {true, {{kShow, loaded}, {kIsActive, ran(3, "failed\n")}}, {kShow, kIsActive}, true},
        {true, {{kShow, loaded}, {kIsActive, active}, {kStop, ran(0)}}, {kShow, kIsActive, kStop}, true},
        {true, {{kShow, loaded}, {kIsActive, active}, {kStop, ran(1)}}, {kShow, kIsActive, kStop}, false},
        {true, {{kShow, loaded}, {kIsActive, active}, {kStop, kTimedOut}}, {kShow, kIsActive, kStop}, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Fakes fakes;
        fakes.runner->script = cases[i].script;
        auto utils = fakes.utils();
        EXPECT_EQ(cases[i].stop ? utils.StopSystemService("vyr.service")
                                : utils.StartSystemService("vyr.service"),
                  cases[i].answer)
            << "case " << i;
        EXPECT_EQ(fakes.runner->calls, cases[i].calls) << "case " << i;
    }
}

TEST(ProcessStartTest, Starts_Sessions_PkexecRunuserOrPlainCommandLine)
{
    using Start = std::function<bool(ProcessUtils &)>;
    const QString tool = "/usr/bin/vyr-tool", withArgs = "/usr/bin/vyr-tool --mode two words";
    const QStringList args{"--mode", "two words"};
    const Start admin = [&](ProcessUtils &u) { return u.StartProcessAsAdmin(tool, args); };
    const Start desktop = [&](ProcessUtils &u) { return u.RunAsDesktopUser(tool, args); };
    const Start plain = [&](ProcessUtils &u) { return u.StartProcess(tool, args); };
    const QList<LoginSession> aliceAtConsole{session("alice", "seat0", true, "3"),
                                             session("bob", "", false, "4")};
    const struct
    {
        Start start;
        QList<LoginSession> sessions;
        bool starts;
        QString detached;
        bool answer;
    } cases[] = {
        {admin, {}, true, "pkexec " + withArgs, true},
        {[&](ProcessUtils &u) { return u.StartProcessAsAdmin(tool); },
         {},
         false,
         "pkexec /usr/bin/vyr-tool",
         false},
        {desktop, aliceAtConsole, true, "runuser -u alice -- " + withArgs, true},
        {desktop,
         {session("carol", "", true)},
         true,
         "runuser -u carol -- " + withArgs,
         true}, // only a remote login
        {desktop, {session("bob", "seat0", false)}, true, {}, false},
        {plain, aliceAtConsole, true, "runuser -u alice -- " + withArgs, true},
        {plain, {}, true, withArgs, true},
        {plain, {}, false, withArgs, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Fakes fakes;
        fakes.sessions->query.sessions = cases[i].sessions;
        fakes.runner->detachedAnswer = cases[i].starts;
        auto utils = fakes.utils();
        EXPECT_EQ(cases[i].start(utils), cases[i].answer) << "case " << i;
        EXPECT_EQ(fakes.runner->detachedCalls,
                  cases[i].detached.isEmpty() ? QStringList() : QStringList{cases[i].detached})
            << "case " << i;
    }
}

TEST(SystemCommandTest, GetTaskList_ScriptedPs_OutputOrTimeoutText)
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
        EXPECT_EQ(fakes.utils().getTaskList(), c.text);
        EXPECT_EQ(fakes.runner->calls, QStringList{kPs});
        EXPECT_EQ(fakes.runner->timeouts, QList<int>{3000});
    }
}

TEST(SystemInfoTest, GetBrowsersInfo_DesktopEntries_VersionsOfTrustedBrowsersOnly)
{
    QTemporaryDir user, system;
    const QByteArray entry = "[Desktop Entry]\nType=Application\nCategories=Network;WebBrowser;\n";
    writeFile(system.filePath("firefox.desktop"), entry + "Name=Firefox\nExec=/usr/bin/true %u\n");
    writeFile(system.filePath("editor.desktop"),
              "[Desktop Entry]\nType=Application\nName=Editor\nExec=/usr/bin/true\n");
    writeFile(system.filePath("chromium.desktop"), entry + "Name=System Chromium\nExec=/usr/bin/true\n");
    writeFile(user.filePath("hidden.desktop"), entry + "Name=Gone\nExec=/usr/bin/true\nHidden=true\n");
    // The user's own entry hides the system's, and its group-writable program is not run.
    const QString planted = user.filePath("planted");
    writeFile(planted, "#!/bin/sh\n");
    QFile::setPermissions(planted, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                       QFile::WriteGroup | QFile::ExeGroup);
    writeFile(user.filePath("chromium.desktop"),
              entry + "Name=Chromium\nExec=\"" + planted.toUtf8() + "\" --incognito\n");
    Fakes fakes;
    fakes.runner->script.insert("/usr/bin/true --version", ran(0, "Mozilla Firefox 115.5.0esr\n"));
    EXPECT_EQ(
        ProcessUtilsLinuxImpl("/proc", "/etc", fakes.deps({user.path(), system.path()})).getBrowsersInfo(),
        QStringLiteral("Chromium (chromium.desktop) Version - Not Found\n"
                       "Firefox (firefox.desktop) Version - Mozilla Firefox 115.5.0esr"));
    EXPECT_EQ(fakes.runner->calls, QStringList{"/usr/bin/true --version"});
}

struct ThrowingProcessUtils : ProcessUtilsLinuxImpl
{
    using ProcessUtilsLinuxImpl::ProcessUtilsLinuxImpl;
    QByteArray getSystemDetailInfo() override { throw EnumProcessesException("gone"); }
};

TEST(SystemInformationReportTest, Report_ToolsHangOrQueryThrows_OkOrFailureText)
{
    Fakes fakes;
    fakes.runner->script.insert(kPs, kTimedOut);
    auto utils = fakes.utils();
    EXPECT_EQ(runSystemInformationReport(utils), QByteArray("OK"));
    ThrowingProcessUtils throwing("/proc", "/etc", fakes.deps());
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
    EXPECT_FALSE(runner.startDetached("/nonexistent/vyr-tool", {}));
}

} // namespace
