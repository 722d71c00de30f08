// Service control, elevated and desktop-user starts, and the system tools, against
// scripted commands.
#include "PlatformTestSupport.h"
#include "platform/QProcessCommandRunner.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

#include <functional>

namespace {

using Fake = FakeCommandRunner;

const QString kShow = QStringLiteral("systemctl show --property=LoadState --value vyr.service");
const QString kIsActive = QStringLiteral("systemctl is-active vyr.service");
const QString kStart = QStringLiteral("systemctl start vyr.service");
const QString kStop = QStringLiteral("systemctl stop vyr.service");

struct ServiceCase
{
    const char *label;
    bool stop; // StopSystemService, else StartSystemService
    QList<std::pair<QString, CommandResult>> script;
    QStringList expectedCalls;
    bool expectedAnswer;
    const char *expectedLog;
};

void PrintTo(const ServiceCase &c, std::ostream *out)
{
    printLabel(c.label, out);
}

class ServiceControlTest : public ::testing::TestWithParam<ServiceCase>
{
};

TEST_P(ServiceControlTest, ServiceOperation_ScriptedSystemctl_CommandsAnswerAndLog)
{
    const ServiceCase &c = GetParam();
    const LogCapture log;
    FakePlatform fakes;
    for (const auto &[line, result] : c.script)
        fakes.runner->respond(line, result);
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    const QString name = QStringLiteral("vyr.service");
    EXPECT_EQ(c.stop ? utils.StopSystemService(name) : utils.StartSystemService(name), c.expectedAnswer) << c.label;
    EXPECT_EQ(fakes.runner->calls, c.expectedCalls) << c.label;
    const QString method = c.stop ? QStringLiteral("StopSystemService") : QStringLiteral("StartSystemService");
    const bool opening = QByteArray(c.expectedLog).startsWith("Cannot open");
    const QString scope = opening ? QStringLiteral("openSystemService") : method;
    EXPECT_TRUE(log.contains(QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::%1: %2").arg(scope, QString::fromLatin1(c.expectedLog))))
        << c.label << ": " << log.lines().join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Systemctl, ServiceControlTest,
    ::testing::Values(
        ServiceCase{"start", false, {{kShow, Fake::succeeded("loaded\n")}, {kStart, Fake::succeeded({})}}, {kShow, kStart}, true, "Service was started"},
        ServiceCase{"unknown unit", false, {{kShow, Fake::succeeded("not-found\n")}}, {kShow}, false, "Cannot open service"},
        ServiceCase{"no service manager", false, {{kShow, Fake::failed(1, "System has not been booted with systemd")}}, {kShow}, false, "Cannot open SCManager"},
        ServiceCase{"systemctl missing", false, {}, {kShow}, false, "Cannot open SCManager"},
        ServiceCase{"start fails", false, {{kShow, Fake::succeeded("loaded\n")}, {kStart, Fake::failed(5)}}, {kShow, kStart}, false, "Cannot start service"},
        ServiceCase{"already stopped", true, {{kShow, Fake::succeeded("loaded\n")}, {kIsActive, Fake::succeeded("inactive\n", 3)}}, {kShow, kIsActive}, true, "Service is already stopped."},
        ServiceCase{"failed counts as stopped", true, {{kShow, Fake::succeeded("loaded\n")}, {kIsActive, Fake::succeeded("failed\n", 3)}}, {kShow, kIsActive}, true, "Service is already stopped."},
        ServiceCase{"stop", true, {{kShow, Fake::succeeded("loaded\n")}, {kIsActive, Fake::succeeded("active\n")}, {kStop, Fake::succeeded({})}}, {kShow, kIsActive, kStop}, true, "Service stopped successfully."},
        ServiceCase{"stop refused", true, {{kShow, Fake::succeeded("loaded\n")}, {kIsActive, Fake::succeeded("active\n")}, {kStop, Fake::failed(1)}}, {kShow, kIsActive, kStop}, false, "ControlService failed."},
        ServiceCase{"stop hangs", true, {{kShow, Fake::succeeded("loaded\n")}, {kIsActive, Fake::succeeded("active\n")}, {kStop, Fake::timedOut()}}, {kShow, kIsActive, kStop}, false, "Wait timed out"},
        ServiceCase{"state unknown", true, {{kShow, Fake::succeeded("loaded\n")}}, {kShow, kIsActive}, false, "QueryServiceStatusEx failed vyr.service"}));

struct StartCase
{
    const char *label;
    std::function<bool(ProcessUtils &)> call;
    QList<LoginSession> sessions;
    bool detachedStarts;
    QStringList expectedDetached;
    bool expectedAnswer;
    QStringList expectedLogs;
};

void PrintTo(const StartCase &c, std::ostream *out)
{
    printLabel(c.label, out);
}

class ProcessStartTest : public ::testing::TestWithParam<StartCase>
{
};

TEST_P(ProcessStartTest, Start_ActiveSessions_CommandLineAnswerAndLog)
{
    const StartCase &c = GetParam();
    const LogCapture log;
    FakePlatform fakes;
    fakes.sessions->setSessions(c.sessions);
    fakes.runner->setDetachedAnswer(c.detachedStarts);
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    EXPECT_EQ(c.call(utils), c.expectedAnswer) << c.label;
    EXPECT_EQ(fakes.runner->detachedCalls, c.expectedDetached) << c.label;
    EXPECT_TRUE(fakes.runner->calls.isEmpty()) << c.label;
    for (const QString &line : c.expectedLogs)
        EXPECT_TRUE(log.contains(line)) << c.label << ": " << line.toStdString();
}

const QString kTool = QStringLiteral("/usr/bin/vyr-tool");
const QStringList kArgs{QStringLiteral("--mode"), QStringLiteral("two words")};
const QString kStartLog =
    QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::StartProcess: ---= STARTING NEW PROCESS WITH NAME: "
                   "</usr/bin/vyr-tool> AND ARGUMENTS: <--mode,two words> =---");
const QString kStartedLog =
    QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::StartProcess: ---= STARTED NEW PROCESS WITH NAME: </usr/bin/vyr-tool> =---");
const QList<LoginSession> kAliceAtConsole{session("3", "alice", "seat0", true), session("4", "bob", "", false)};

INSTANTIATE_TEST_SUITE_P(
    Starts, ProcessStartTest,
    ::testing::Values(
        StartCase{"as admin", [](ProcessUtils &u) { return u.StartProcessAsAdmin(kTool, kArgs); }, {}, true,
                  {QStringLiteral("pkexec /usr/bin/vyr-tool --mode two words")}, true,
                  {QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::StartProcessAsAdmin: ---= STARTING NEW PROCESS AS ADMIN "
                                  "WITH NAME: </usr/bin/vyr-tool> AND ARGUMENTS: <--mode,two words> =---")}},
        StartCase{"as admin, short form", [](ProcessUtils &u) { return u.StartProcessAsAdmin(kTool); }, {}, false,
                  {QStringLiteral("pkexec /usr/bin/vyr-tool")}, false, {}},
        StartCase{"desktop user", [](ProcessUtils &u) { return u.RunAsDesktopUser(kTool, kArgs); }, kAliceAtConsole, true,
                  {QStringLiteral("runuser -u alice -- /usr/bin/vyr-tool --mode two words")}, true, {}},
        StartCase{"desktop user, only a remote login", [](ProcessUtils &u) { return u.RunAsDesktopUser(kTool, {}); },
                  {session("c1", "carol", "", true)}, true, {QStringLiteral("runuser -u carol -- /usr/bin/vyr-tool")}, true, {}},
        StartCase{"no desktop user", [](ProcessUtils &u) { return u.RunAsDesktopUser(kTool, kArgs); },
                  {session("4", "bob", "seat0", false)}, true, {}, false,
                  {QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::RunAsDesktopUser: No desktop shell is present")}},
        StartCase{"start for the desktop user", [](ProcessUtils &u) { return u.StartProcess(kTool, kArgs); }, kAliceAtConsole, true,
                  {QStringLiteral("runuser -u alice -- /usr/bin/vyr-tool --mode two words")}, true, {kStartLog, kStartedLog}},
        StartCase{"start without a session", [](ProcessUtils &u) { return u.StartProcess(kTool, kArgs); }, {}, true,
                  {QStringLiteral("/usr/bin/vyr-tool --mode two words")}, true, {kStartLog, kStartedLog}},
        StartCase{"start fails", [](ProcessUtils &u) { return u.StartProcess(kTool); }, {}, false,
                  {QStringLiteral("/usr/bin/vyr-tool")}, false, {}}));

TEST(ProcessStartTest, StartProcess_Fails_NoStartedLine)
{
    const LogCapture log;
    FakePlatform fakes;
    fakes.runner->setDetachedAnswer(false);
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    EXPECT_FALSE(utils.StartProcess(kTool));
    EXPECT_FALSE(log.containsText(QStringLiteral("STARTED NEW PROCESS")));
}

struct SystemCommandCase
{
    const char *label;
    CommandResult result;
    QByteArray expected;
    const char *expectedLog; // nullptr: none expected
};

void PrintTo(const SystemCommandCase &c, std::ostream *out)
{
    printLabel(c.label, out);
}

class SystemCommandTest : public ::testing::TestWithParam<SystemCommandCase>
{
};

TEST_P(SystemCommandTest, GetTaskList_ScriptedPs_OutputOrTimeoutText)
{
    const SystemCommandCase &c = GetParam();
    const LogCapture log;
    FakePlatform fakes;
    const QString ps = QStringLiteral("ps -eww -o user,pid,ppid,etime,args");
    fakes.runner->respond(ps, c.result);
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    EXPECT_EQ(utils.getTaskList(), c.expected) << c.label;
    EXPECT_EQ(fakes.runner->calls, QStringList{ps});
    EXPECT_EQ(fakes.runner->timeouts, QList<int>{3000});
    if (c.expectedLog) {
        EXPECT_TRUE(log.contains(QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::runSystemCommand: ") + QString::fromLatin1(c.expectedLog)))
            << c.label;
    }
    EXPECT_TRUE(log.contains(QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::runSystemCommand: v_oCommand=ps")));
}

INSTANTIATE_TEST_SUITE_P(
    Results, SystemCommandTest,
    ::testing::Values(SystemCommandCase{"output", Fake::succeeded("USER PID\nroot 1\n"), "USER PID\nroot 1\n", nullptr},
                      SystemCommandCase{"timeout", Fake::timedOut(), "Command finished with TIMEOUT", "Command finished with TIMEOUT"},
                      SystemCommandCase{"stderr merged", Fake::failed(1, "ps: bad option\n"), "ps: bad option\n", "oStdError=ps: bad option\n"},
                      SystemCommandCase{"not started", Fake::notStarted(), "", "oStdError=No such file or directory"}));

TEST(SystemInfoTest, SystemInfo_CraftedOsReleaseAndUname_Facts)
{
    FakeProcTree etc;
    etc.writeFile(QStringLiteral("os-release"),
                  "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n# comment\nNAME='Debian'\nVERSION_ID=\"12\"\nID=debian\n"
                  "HOME_URL=\"https://www.debian.org/\"\n");
    FakePlatform fakes;
    fakes.runner->respond(QStringLiteral("uname -a"), Fake::succeeded("Linux host 6.1.0 #1 SMP x86_64 GNU/Linux\n"));
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), etc.root(), fakes.dependencies());
    const QByteArray critical = utils.getSystemCriticalInfo();
    for (const char *fact : {"PRETTY_NAME=Debian GNU/Linux 12 (bookworm)\n", "NAME=Debian\n", "VERSION_ID=12\n", "ID=debian\n",
                             "VERSION=<UNKNOWN>\n", "LocalDateTime=", "LastBootUpTime="})
        EXPECT_TRUE(critical.contains(fact)) << fact << " in " << critical.toStdString();
    EXPECT_TRUE(critical.endsWith("Linux host 6.1.0 #1 SMP x86_64 GNU/Linux\n"));
    const QByteArray detail = utils.getSystemDetailInfo();
    EXPECT_TRUE(detail.startsWith("PRETTY_NAME=Debian GNU/Linux 12 (bookworm)\nNAME=Debian\n"));
    EXPECT_TRUE(detail.contains("HOME_URL=https://www.debian.org/\n"));
    EXPECT_EQ(fakes.runner->timeouts, (QList<int>{3000, 3000}));
    EXPECT_EQ(utils.getConnectedDevicesInfo(), QByteArray("<NOT IMPLEMENTED>"));
}

TEST(SystemInfoTest, GetBrowsersInfo_DesktopEntries_VersionsOfTrustedBrowsersOnly)
{
    QTemporaryDir user, system;
    const auto write = [](const QString &path, const QByteArray &content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    const QByteArray entry = "[Desktop Entry]\nType=Application\nCategories=Network;WebBrowser;\n";
    write(system.filePath(QStringLiteral("firefox.desktop")), entry + "Name=Firefox\nName[de]=Feuerfuchs\nExec=/usr/bin/true %u\n");
    write(system.filePath(QStringLiteral("editor.desktop")), "[Desktop Entry]\nType=Application\nName=Editor\nExec=/usr/bin/true\n");
    write(system.filePath(QStringLiteral("chromium.desktop")), entry + "Name=System Chromium\nExec=/usr/bin/true\n");
    // The user's own entry hides the system's, and its program is not ours to run.
    const QString planted = user.filePath(QStringLiteral("planted"));
    write(planted, "#!/bin/sh\n");
    QFile::setPermissions(planted, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::WriteGroup | QFile::ExeGroup);
    write(user.filePath(QStringLiteral("chromium.desktop")), entry + "Name=Chromium\nExec=\"" + planted.toUtf8() + "\" --incognito\n");
    write(user.filePath(QStringLiteral("hidden.desktop")), entry + "Name=Gone\nExec=/usr/bin/true\nHidden=true\n");

    FakePlatform fakes;
    fakes.runner->respond(QStringLiteral("/usr/bin/true --version"), Fake::succeeded("Mozilla Firefox 115.5.0esr\n"));
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies({user.path(), system.path()}));
    EXPECT_EQ(utils.getBrowsersInfo(), QStringLiteral("Chromium (chromium.desktop) Version - Not Found\n"
                                                      "Firefox (firefox.desktop) Version - Mozilla Firefox 115.5.0esr"));
    EXPECT_EQ(fakes.runner->calls, QStringList{QStringLiteral("/usr/bin/true --version")});
}

TEST(SystemInfoTest, GetAntivirusInfo_NoScanner_UnknownFields)
{
    if (!QStandardPaths::findExecutable(QStringLiteral("clamscan")).isEmpty())
        GTEST_SKIP() << "a scanner is installed here";
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), FakePlatform().dependencies());
    EXPECT_EQ(utils.getAntivirusInfo(), QStringLiteral("displayName=<UNKNOWN>\npathToSignedProductExe=<UNKNOWN>\n"
                                                       "productState=<UNKNOWN>\ntimestamp=<UNKNOWN>"));
}

TEST(EventLogTest, WriteEventLog_Source_OneErrorEntry)
{
    FakePlatform fakes;
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    utils.writeEventLog(QStringLiteral("VeltraneCryptoServer"), QStringLiteral("Module signature invalid: libx.so"));
    utils.writeEventLog(QString(), QStringLiteral("no source, no entry"));
    ASSERT_EQ(fakes.eventLog->entries.size(), 1);
    EXPECT_EQ(fakes.eventLog->entries[0].first, QStringLiteral("VeltraneCryptoServer"));
    EXPECT_EQ(fakes.eventLog->entries[0].second, QStringLiteral("Module signature invalid: libx.so"));
}

struct RunnerCase
{
    const char *label;
    const char *script;
    int timeoutMs;
    bool finished, timedOut;
    int exitCode;
    QByteArray output, error;
};

void PrintTo(const RunnerCase &c, std::ostream *out)
{
    printLabel(c.label, out);
}

class QProcessCommandRunnerTest : public ::testing::TestWithParam<RunnerCase>
{
};

TEST_P(QProcessCommandRunnerTest, Run_ShellScript_ResultFields)
{
    const RunnerCase &c = GetParam();
    QElapsedTimer elapsed;
    elapsed.start();
    const CommandResult result = QProcessCommandRunner().run(QStringLiteral("sh"), {QStringLiteral("-c"), QString::fromLatin1(c.script)}, c.timeoutMs);
    EXPECT_TRUE(result.started) << c.label;
    EXPECT_EQ(result.finished, c.finished) << c.label;
    EXPECT_EQ(result.timedOut, c.timedOut) << c.label;
    EXPECT_EQ(result.exitCode, c.exitCode) << c.label;
    EXPECT_EQ(result.output, c.output) << c.label;
    EXPECT_EQ(result.error, c.error) << c.label;
    EXPECT_LT(elapsed.elapsed(), c.timeoutMs + 3000) << c.label;
}

INSTANTIATE_TEST_SUITE_P(Scripts, QProcessCommandRunnerTest,
                         ::testing::Values(RunnerCase{"success", "echo out; echo err >&2", 5000, true, false, 0, "out\n", "err\n"},
                                           RunnerCase{"exit code", "exit 3", 5000, true, false, 3, "", ""},
                                           RunnerCase{"stdin closed", "cat; echo done", 5000, true, false, 0, "done\n", ""},
                                           RunnerCase{"timeout kills", "echo partial; exec sleep 30", 300, false, true, -1, "partial\n", ""}));

TEST(QProcessCommandRunnerTest, Run_MissingProgram_NotStarted)
{
    const CommandResult result = QProcessCommandRunner().run(QStringLiteral("/nonexistent/vyr-tool"), {}, 1000);
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(result.finished);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_FALSE(QProcessCommandRunner().startDetached(QStringLiteral("/nonexistent/vyr-tool"), {}));
}

} // namespace
