#include "UnpackedPackage.h"
#include "support/QtPrinters.h"
#include "support/TestAccount.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <grp.h>
#include <memory>
#include <unistd.h>

using namespace std::chrono_literals;

// The Debian package as an administrator gets it: built by cpack from this build tree,
// unpacked into a temporary root, provisioned by its own post-install script and run with
// the commands of its own systemd units. Needs root (test accounts, the machine seed).
namespace {
const QString kLogTail = QStringLiteral("/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log");

bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(20);
    }
    return true;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The port of the log's "Listening on port N" line; 0 when it did not come in time.
quint16 listeningPort(const QString &logFile)
{
    static const QRegularExpression listening(QStringLiteral("Listening on port (\\d+)"));
    quint16 port = 0;
    waitFor(
        [&] {
            port = static_cast<quint16>(listening.match(readText(logFile)).captured(1).toUInt());
            return port != 0;
        },
        30s);
    return port;
}

// A port for the dispatcher whose next port is free too, for the account's server.
quint16 freePortPair()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpServer first;
        if (!first.listen(QHostAddress::LocalHost, 0) || first.serverPort() >= 65530)
            continue;
        QTcpServer second;
        if (second.listen(QHostAddress::LocalHost, static_cast<quint16>(first.serverPort() + 1)))
            return first.serverPort();
    }
    return 0;
}

// One command of a unit, run as systemd would run it for the given account (root's
// dispatcher when none). The destructor ends it by pid if the test did not.
class UnitProcess
{
public:
    UnitProcess(const UnpackedPackage::Command &command, const TestAccount *account, const QProcessEnvironment &env)
    {
        if (account) {
            const uid_t uid = account->uid();
            const gid_t gid = account->gid();
            m_oProcess.setChildProcessModifier([uid, gid] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                    ::_exit(127);
            });
        }
        m_oProcess.setProcessEnvironment(env);
        m_oProcess.setProcessChannelMode(QProcess::MergedChannels);
        m_oProcess.start(command.program, command.arguments);
        m_oProcess.waitForStarted(10000);
    }
    ~UnitProcess()
    {
        if (m_oProcess.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(m_oProcess.processId()), SIGKILL);
            m_oProcess.waitForFinished(10000);
        }
    }
    UnitProcess(const UnitProcess &) = delete;
    UnitProcess &operator=(const UnitProcess &) = delete;

    bool finish(std::chrono::milliseconds timeout) { return m_oProcess.waitForFinished(int(timeout.count())); }
    bool running() const { return m_oProcess.state() != QProcess::NotRunning; }
    int exitCode() const { return m_oProcess.exitStatus() == QProcess::NormalExit ? m_oProcess.exitCode() : -1; }
    QString output() { return QString::fromUtf8(m_oProcess.readAll()); }

private:
    QProcess m_oProcess;
};

// What systemd's user manager hands a unit: the account's own variables, no display.
QProcessEnvironment accountEnvironment(const TestAccount &account, const QString &runtimeDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("HOME"), account.home());
    env.insert(QStringLiteral("USER"), account.name());
    env.insert(QStringLiteral("LOGNAME"), account.name());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    return env;
}

class PackageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty())
            return;
        s_poPackageDir = std::make_unique<QTemporaryDir>();
        const UnpackedPackage::Run cpack = UnpackedPackage::run(
            QStringLiteral(VYR_CPACK_COMMAND), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                                QStringLiteral(VYR_CPACK_CONFIG), QStringLiteral("-B"),
                                                s_poPackageDir->path()});
        s_oCpackOutput = cpack.output;
        const QStringList packages = QDir(s_poPackageDir->path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
        if (cpack.exitCode == 0 && packages.size() == 1)
            s_oPackageFile = s_poPackageDir->filePath(packages.first());
    }
    static void TearDownTestSuite() { s_poPackageDir.reset(); }

    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: test accounts and the machine seed";
        if (!s_poPackageDir)
            GTEST_SKIP() << "dpkg-deb is not installed";
        ASSERT_FALSE(s_oPackageFile.isEmpty()) << s_oCpackOutput.toStdString();
    }

    static QString field(const QString &name)
    {
        return UnpackedPackage::run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), s_oPackageFile, name})
            .output.trimmed();
    }

    static inline std::unique_ptr<QTemporaryDir> s_poPackageDir;
    static inline QString s_oPackageFile;
    static inline QString s_oCpackOutput;
};

TEST_F(PackageTest, Package_Metadata_DependenciesFilesScriptsAndUnitCommands)
{
    EXPECT_EQ(field(QStringLiteral("Package")), "veltrane-crypto-server");
    const QString depends = field(QStringLiteral("Depends"));
    for (const char *library : {"libqt6core6", "libqt6network6", "libqt6widgets6", "libqt6core5compat6", "libssl3",
                                "libspdlog1.10", "libfmt9"})
        EXPECT_TRUE(depends.contains(QLatin1String(library))) << library;
    EXPECT_EQ(field(QStringLiteral("Recommends")), "libnss3-tools");

    const UnpackedPackage package(s_oPackageFile);
    ASSERT_TRUE(package.valid());
    // /opt/veltrane unless the build chose another VYR_INSTALL_DIR.
    const QString app = package.installDir();
    ASSERT_TRUE(app.startsWith(QLatin1Char('/'))) << app.toStdString();
    for (const QString &file : {app + "/VeltraneCryptoServer", app + "/VeltraneCryptoProvider.ini", app + "/vyr-certgen",
                                app + "/vyr-sign-module", app + "/dlls/hash.so", app + "/dlls/hash.xml",
                                QString::fromLatin1(UnpackedPackage::kDispatcherUnit),
                                QString::fromLatin1(UnpackedPackage::kUserUnit)})
        EXPECT_TRUE(QFileInfo(package.inRoot(file)).isFile()) << file.toStdString();
    for (const char *script : {"postinst", "prerm", "postrm"})
        EXPECT_TRUE(QFileInfo(package.controlDir() + "/" + script).isExecutable()) << script;
    EXPECT_TRUE(readText(package.controlDir() + "/conffiles").contains(app + "/VeltraneCryptoProvider.ini"));

    // The packaged module still carries a valid signature: nothing stripped or rewrote it.
    const UnpackedPackage::Run verify = UnpackedPackage::run(
        package.inRoot(app + "/vyr-sign-module"), {QStringLiteral("--verify"), package.inRoot(app + "/dlls/hash.so")});
    EXPECT_EQ(verify.exitCode, 0) << verify.output.toStdString();

    const QString dispatcher = QString::fromLatin1(UnpackedPackage::kDispatcherUnit);
    const QString user = QString::fromLatin1(UnpackedPackage::kUserUnit);
    EXPECT_EQ(package.unitValues(dispatcher, "ExecStart"), QStringList{app + "/VeltraneCryptoServer -console"});
    EXPECT_EQ(package.unitValues(user, "ExecStart"), QStringList{app + "/VeltraneCryptoServer"});
    EXPECT_EQ(package.unitValues(user, "ExecStartPre"),
              QStringList{"-" + app + "/vyr-certgen --trust-browsers --ca " + app + "/certs/VYR-ca.pem"});
    EXPECT_EQ(package.unitValues(user, "WantedBy"), QStringList{"default.target"});
}

// The whole life of an installation in an unpacked root: provisioning, the root dispatcher
// and one account's server started with their units' commands, and removal.
class UnpackedInstallTest : public PackageTest
{
protected:
    void SetUp() override
    {
        PackageTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty())
            GTEST_SKIP() << "curl is not installed";
        ASSERT_TRUE(m_oAccount.valid());
        m_poPackage = std::make_unique<UnpackedPackage>(s_oPackageFile);
        ASSERT_TRUE(m_poPackage->valid());
        m_iConfiguredPort = freePortPair();
        ASSERT_NE(m_iConfiguredPort, 0);
        // A CI machine has no login session to find the account's server through.
        QSettings ini(app() + "/VeltraneCryptoProvider.ini", QSettings::IniFormat);
        ini.setValue("listener/port", m_iConfiguredPort);
        ini.setValue("listener/windowsServerMode", true);
    }

    QString app() const { return m_poPackage->inRoot(m_poPackage->installDir()); }
    QString dispatcherLog() const { return m_oRootConfig.path() + kLogTail; }

    void startDispatcher()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_oRootConfig.path());
        env.remove("DISPLAY");
        m_poDispatcher = std::make_unique<UnitProcess>(
            m_poPackage->unitCommand(UnpackedPackage::kDispatcherUnit, "ExecStart"), nullptr, env);
        ASSERT_EQ(listeningPort(dispatcherLog()), m_iConfiguredPort) << m_poDispatcher->output().toStdString();
    }

    // Both commands of the user unit, in order; returns the exit code of the trust step.
    int startAccountServer()
    {
        const QString runtimeDir = m_oAccount.home() + "/.runtime";
        QDir().mkpath(runtimeDir);
        QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_oAccount.chownTree(runtimeDir);
        m_oAccountEnv = accountEnvironment(m_oAccount, runtimeDir);
        const UnpackedPackage::Command trust = m_poPackage->unitCommand(UnpackedPackage::kUserUnit, "ExecStartPre");
        EXPECT_TRUE(trust.ignoreFailure);
        UnitProcess trustStep(trust, &m_oAccount, m_oAccountEnv);
        EXPECT_TRUE(trustStep.finish(60s));
        m_poServer = std::make_unique<UnitProcess>(m_poPackage->unitCommand(UnpackedPackage::kUserUnit, "ExecStart"),
                                                   &m_oAccount, m_oAccountEnv);
        return trustStep.exitCode();
    }

    // curl stands in for the page's browser: the dispatcher tells accounts apart by the
    // process that owns the client's end of the connection.
    QString askDispatcherAsAccount(const QByteArray &command)
    {
        UnitProcess browser({QStringLiteral("curl"),
                             {"-sk", "-m", "20", "-X", "POST", "--data", "", "-w", "\n%{http_code}",
                              QStringLiteral("https://127.0.0.1:%1/").arg(m_iConfiguredPort) + command}},
                            &m_oAccount, m_oAccountEnv);
        return browser.finish(30s) ? browser.output() : QString();
    }

    TestAccount m_oAccount{QStringLiteral("p")};
    std::unique_ptr<UnpackedPackage> m_poPackage;
    quint16 m_iConfiguredPort = 0;
    QTemporaryDir m_oRootConfig;
    QProcessEnvironment m_oAccountEnv;
    std::unique_ptr<UnitProcess> m_poDispatcher;
    std::unique_ptr<UnitProcess> m_poServer;
};

TEST_F(UnpackedInstallTest, Postinst_Configure_AuthoritySharedKeyAndUnitsEnabled)
{
    const UnpackedPackage::Run postinst = m_poPackage->runScript("postinst", {"configure"});
    ASSERT_EQ(postinst.exitCode, 0) << postinst.output.toStdString();
    EXPECT_EQ(QFileInfo(app() + "/certs/VYR-key-server.pem").permissions() & QFile::ReadOther, QFile::ReadOther);
    EXPECT_FALSE(QFileInfo(m_poPackage->inRoot("/var/lib/veltrane/ca/VYR-ca-key.pem")).permissions() &
                 QFile::ReadOther);
    if (QStandardPaths::findExecutable("systemctl").isEmpty())
        return;
    EXPECT_TRUE(QFileInfo(m_poPackage->inRoot("/etc/systemd/system/multi-user.target.wants/veltrane-dispatcher.service"))
                    .isSymLink());
    EXPECT_TRUE(
        QFileInfo(m_poPackage->inRoot("/etc/systemd/user/default.target.wants/veltrane-server.service")).isSymLink());
    // Run again, as on an upgrade: the provisioned files stay.
    const QByteArray key = readText(app() + "/certs/VYR-key-server.pem").toLatin1();
    EXPECT_EQ(m_poPackage->runScript("postinst", {"configure"}).exitCode, 0);
    EXPECT_EQ(readText(app() + "/certs/VYR-key-server.pem").toLatin1(), key);
}

TEST_F(UnpackedInstallTest, Started_AccountAsksDispatcher_ThatAccountsPortAndRemovalEndsAll)
{
    ASSERT_EQ(m_poPackage->runScript("postinst", {"configure"}).exitCode, 0);
    ASSERT_NO_FATAL_FAILURE(startDispatcher());
    const bool certutilInstalled = !QStandardPaths::findExecutable("certutil").isEmpty();
    EXPECT_EQ(startAccountServer(), certutilInstalled ? 0 : 3);
    const quint16 userPort = listeningPort(m_oAccount.home() + "/.config" + kLogTail);
    ASSERT_GT(userPort, m_iConfiguredPort) << m_poServer->output().toStdString();

    EXPECT_EQ(askDispatcherAsAccount("GET_USER_SERVER_PORT"), QStringLiteral("%1\n200").arg(userPort))
        << readText(dispatcherLog()).right(4000).toStdString();
    if (certutilInstalled) {
        const UnpackedPackage::Run listing =
            UnpackedPackage::run("certutil", {"-L", "-d", "sql:" + m_oAccount.home() + "/.pki/nssdb"});
        EXPECT_TRUE(listing.output.contains("Veltrane Local Authority")) << listing.output.toStdString();
    }

    const UnpackedPackage::Run prerm = m_poPackage->runScript("prerm", {"remove"});
    EXPECT_EQ(prerm.exitCode, 0) << prerm.output.toStdString();
    EXPECT_TRUE(m_poDispatcher->finish(20s));
    EXPECT_TRUE(m_poServer->finish(20s));
    EXPECT_TRUE(waitFor([&] { return m_poPackage->processesRunningFromRoot().isEmpty(); }, 20s));
    EXPECT_FALSE(
        QFileInfo(m_poPackage->inRoot("/etc/systemd/user/default.target.wants/veltrane-server.service")).isSymLink());

    const UnpackedPackage::Run postrm = m_poPackage->runScript("postrm", {"purge"});
    EXPECT_EQ(postrm.exitCode, 0) << postrm.output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(app() + "/certs"));
    EXPECT_FALSE(QFileInfo::exists(m_poPackage->inRoot("/var/lib/veltrane")));
}

// Only where systemd runs: the real installation, its units, and purge. The machine seed is
// put back afterwards, since other servers of this machine encrypt for it; a machine that
// already has a local authority is not touched, since browsers may trust it.
TEST_F(PackageTest, InstalledWithSystemd_DispatcherUnitActive_PurgeLeavesNoProcess)
{
    if (!QFileInfo::exists("/run/systemd/system"))
        GTEST_SKIP() << "systemd does not run on this machine";
    if (UnpackedPackage::run("dpkg-query", {"-W", "veltrane-crypto-server"}).exitCode == 0 ||
        QFileInfo::exists("/opt/veltrane") || QFileInfo::exists("/var/lib/veltrane/ca"))
        GTEST_SKIP() << "an installation or a local authority is already there; it is left alone";
    const QByteArray seed = readText("/var/lib/veltrane/seed").toLatin1();

    const UnpackedPackage::Run install = UnpackedPackage::run("dpkg", {"-i", s_oPackageFile});
    ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();
    const auto systemctl = [](const QStringList &arguments) {
        return UnpackedPackage::run("systemctl", arguments).output.trimmed();
    };
    EXPECT_TRUE(waitFor([&] { return systemctl({"is-active", "veltrane-dispatcher.service"}) == "active"; }, 30s));
    EXPECT_EQ(systemctl({"is-enabled", "veltrane-dispatcher.service"}), "enabled");
    EXPECT_EQ(systemctl({"--global", "is-enabled", "veltrane-server.service"}), "enabled");
    const QString mainPid = systemctl({"show", "-P", "MainPID", "veltrane-dispatcher.service"});
    EXPECT_EQ(QFileInfo("/proc/" + mainPid + "/exe").symLinkTarget(), "/opt/veltrane/VeltraneCryptoServer");

    const UnpackedPackage::Run purge = UnpackedPackage::run("dpkg", {"--purge", "veltrane-crypto-server"});
    EXPECT_EQ(purge.exitCode, 0) << purge.output.toStdString();
    EXPECT_NE(systemctl({"is-active", "veltrane-dispatcher.service"}), "active");
    EXPECT_FALSE(QFileInfo::exists("/proc/" + mainPid + "/exe"));
    EXPECT_FALSE(QFileInfo::exists("/opt/veltrane"));
    if (!seed.isEmpty()) {
        QDir().mkpath("/var/lib/veltrane");
        QFile restored("/var/lib/veltrane/seed");
        ASSERT_TRUE(restored.open(QIODevice::WriteOnly));
        restored.write(seed);
        restored.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
}
} // namespace
