#include "support/ProgramRun.h"
#include "support/QtPrinters.h"
#include "support/TestAccount.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

// The Debian package as an administrator gets it: built by cpack from this build tree,
// unpacked into a temporary root, provisioned by its own post-install script and run with
// the commands of its own systemd units. Needs root (test accounts, the machine seed).
namespace {
const QString kDispatcherUnit = QStringLiteral("/usr/lib/systemd/system/veltrane-dispatcher.service");
const QString kDispatcherSocket = QStringLiteral("/usr/lib/systemd/system/veltrane-dispatcher.socket");
const QString kUserUnit = QStringLiteral("/usr/lib/systemd/user/veltrane-server.service");
const QString kLogTail = QStringLiteral("/Veltrane/Logs/VeltraneCryptoProvider/VeltraneCryptoProvider.log");

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The port of the log's "Listening on port N" line; 0 when it did not come in time.
quint16 listeningPort(const QString &logFile)
{
    static const QRegularExpression pattern(QStringLiteral("Listening on port (\\d+)"));
    quint16 port = 0;
    const bool listening = QTest::qWaitFor(
        [&] { return (port = pattern.match(readText(logFile)).captured(1).toUShort()) != 0; }, 30000);
    return listening ? port : 0;
}

// The dispatcher's listening socket, as its socket unit holds it, on a port whose next one is
// free too, for the account's server.
std::unique_ptr<QTcpServer> socketUnit()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto first = std::make_unique<QTcpServer>();
        QTcpServer second;
        if (first->listen(QHostAddress::LocalHost, 0) && first->serverPort() < 65530 &&
            second.listen(QHostAddress::LocalHost, static_cast<quint16>(first->serverPort() + 1)))
            return first;
    }
    return nullptr;
}

// Starts a command as systemd would run it: as the account when given, else as root, and
// with a socket of a socket unit as descriptor 3 when given. The QProcess kills it when
// it goes out of scope still running.
void startUnit(QProcess &process, const QStringList &command, const TestAccount *account,
               const QProcessEnvironment &environment, int passedSocket = -1)
{
    process.setChildProcessModifier(
        [uid = account ? account->uid() : 0, gid = account ? account->gid() : 0, passedSocket] {
            // dup2 onto itself would keep close-on-exec.
            if (passedSocket == 3 ? ::fcntl(3, F_SETFD, 0) != 0
                                  : passedSocket >= 0 && ::dup2(passedSocket, 3) != 3)
                ::_exit(127);
            if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
                ::_exit(127);
        });
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.value(0), command.mid(1));
    process.waitForStarted(10000);
}

class PackageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty())
            return;
        s_poPackageDir = std::make_unique<QTemporaryDir>();
        const ProgramRun cpack =
            runProgram(QStringLiteral(VYR_CPACK_COMMAND),
                       {"-G", "DEB", "--config", VYR_CPACK_CONFIG, "-B", s_poPackageDir->path()});
        s_oCpackOutput = cpack.output;
        const QStringList packages =
            QDir(s_poPackageDir->path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
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

    static inline std::unique_ptr<QTemporaryDir> s_poPackageDir;
    static inline QString s_oPackageFile;
    static inline QString s_oCpackOutput;
};

// The package unpacked into a temporary root (dpkg-deb -x) with its maintainer scripts beside
// it (dpkg-deb -e). The scripts run with VYR_ROOT naming that root; the units' commands run
// with the installation's paths moved into it.
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
        // The account runs the unpacked programs, so the way down to them must be open.
        QFile::setPermissions(m_oDirectory.path(), QFile::permissions(m_oDirectory.path()) |
                                                       QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                                       QFile::ExeGroup);
        ASSERT_EQ(runProgram("dpkg-deb", {"-x", s_oPackageFile, root()}).exitCode, 0);
        ASSERT_EQ(runProgram("dpkg-deb", {"-e", s_oPackageFile, control()}).exitCode, 0);
        // /opt/veltrane unless the build chose another VYR_INSTALL_DIR.
        m_oInstallDir = QFileInfo(unitValue(kDispatcherUnit, "ExecStart").section(' ', 0, 0)).path();
        ASSERT_TRUE(m_oInstallDir.startsWith('/')) << m_oInstallDir.toStdString();
        m_poSocketUnit = socketUnit();
        ASSERT_TRUE(m_poSocketUnit);
        m_iPort = m_poSocketUnit->serverPort();
        // A CI machine has no login session to find the account's server through.
        QSettings ini(app() + "/VeltraneCryptoProvider.ini", QSettings::IniFormat);
        ini.setValue("listener/port", m_iPort);
        ini.setValue("listener/windowsServerMode", true);
    }

    QString root() const { return m_oDirectory.filePath(QStringLiteral("root")); }
    QString control() const { return m_oDirectory.filePath(QStringLiteral("control")); }
    QString inRoot(const QString &path) const { return root() + path; }
    QString app() const { return inRoot(m_oInstallDir); }

    ProgramRun script(const QString &name, const QStringList &arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VYR_ROOT"), root());
        return runProgram(control() + '/' + name, arguments, environment);
    }
    QString unitValue(const QString &unit, const QString &key) const
    {
        const QRegularExpression line(QStringLiteral("^\\s*%1=(.*)$").arg(key),
                                      QRegularExpression::MultilineOption);
        return line.match(readText(inRoot(unit))).captured(1).trimmed();
    }
    // The unit's command without systemd's "-" prefix, the installation's paths moved into the root.
    QStringList unitCommand(const QString &unit, const QString &key) const
    {
        const QRegularExpression installed(" -?" + QRegularExpression::escape(m_oInstallDir + '/'));
        return QString(' ' + unitValue(unit, key))
            .replace(installed, ' ' + app() + '/')
            .split(' ', Qt::SkipEmptyParts);
    }
    bool anyProcessRunsFromRoot() const
    {
        for (const QString &entry :
             QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFileInfo("/proc/" + entry + "/exe").symLinkTarget().startsWith(root() + '/'))
                return true;
        }
        return false;
    }

    TestAccount m_oAccount{QStringLiteral("p")};
    QTemporaryDir m_oDirectory;
    QString m_oInstallDir;
    std::unique_ptr<QTcpServer> m_poSocketUnit;
    quint16 m_iPort = 0;
};
} // namespace

TEST_F(UnpackedInstallTest, Lifecycle_ProvisionStartAskRemove_AccountGetsItsOwnPortAndNothingRemains)
{
    // What no run shows: the INI kept on upgrades, and the module's signature intact after packaging.
    EXPECT_TRUE(readText(control() + "/conffiles").contains(m_oInstallDir + "/VeltraneCryptoProvider.ini"));
    const ProgramRun verify = runProgram(app() + "/vyr-sign-module", {"--verify", app() + "/dlls/hash.so"});
    EXPECT_EQ(verify.exitCode, 0) << verify.output.toStdString();

    const ProgramRun postinst = script("postinst", {"configure"});
    ASSERT_EQ(postinst.exitCode, 0) << postinst.output.toStdString();
    const QString key = app() + "/certs/VYR-key-server.pem";
    EXPECT_TRUE(QFileInfo(key).permissions() & QFile::ReadOther) << "every account's server reads it";
    EXPECT_FALSE(QFileInfo(inRoot("/var/lib/veltrane/ca/VYR-ca-key.pem")).permissions() & QFile::ReadOther);
    const QString keyPem = readText(key);
    EXPECT_EQ(script("postinst", {"configure"}).exitCode, 0) << "as on an upgrade";
    EXPECT_EQ(readText(key), keyPem);
    const QString userWants = inRoot("/etc/systemd/user/default.target.wants/veltrane-server.service");
    if (!QStandardPaths::findExecutable("systemctl").isEmpty()) {
        EXPECT_TRUE(QFileInfo(userWants).isSymLink());
        EXPECT_TRUE(
            QFileInfo(inRoot("/etc/systemd/system/multi-user.target.wants/veltrane-dispatcher.service"))
                .isSymLink());
        EXPECT_TRUE(QFileInfo(inRoot("/etc/systemd/system/sockets.target.wants/veltrane-dispatcher.socket"))
                        .isSymLink());
    }

    QTemporaryDir rootConfig;
    QProcessEnvironment rootEnvironment = QProcessEnvironment::systemEnvironment();
    rootEnvironment.insert("XDG_CONFIG_HOME", rootConfig.path());
    rootEnvironment.remove("DISPLAY");
    // The dispatcher takes its port from the socket unit, through the service manager's protocol.
    EXPECT_TRUE(unitValue(kDispatcherSocket, "ListenStream").startsWith("127.0.0.1:"));
    QProcess dispatcher;
    startUnit(dispatcher,
              QStringList{"/bin/sh", "-c", "LISTEN_PID=$$ LISTEN_FDS=1 exec \"$0\" \"$@\""} +
                  unitCommand(kDispatcherUnit, "ExecStart"),
              nullptr, rootEnvironment, int(m_poSocketUnit->socketDescriptor()));
    m_poSocketUnit.reset();
    ASSERT_EQ(listeningPort(rootConfig.path() + kLogTail), m_iPort) << dispatcher.readAll().toStdString();
    EXPECT_TRUE(readText(rootConfig.path() + kLogTail).contains("taken over from the service manager"));

    // What systemd's user manager hands a unit: the account's own variables, no display.
    const QString runtimeDir = m_oAccount.home() + "/.runtime";
    QDir().mkpath(runtimeDir);
    QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_oAccount.chownTree(runtimeDir);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
        environment.remove(QLatin1String(name));
    environment.insert("HOME", m_oAccount.home());
    environment.insert("USER", m_oAccount.name());
    environment.insert("LOGNAME", m_oAccount.name());
    environment.insert("XDG_RUNTIME_DIR", runtimeDir);

    // The browser-trust step may fail ("-" prefix) without keeping the server from starting.
    EXPECT_TRUE(unitValue(kUserUnit, "ExecStartPre").startsWith('-'));
    QProcess trust;
    startUnit(trust, unitCommand(kUserUnit, "ExecStartPre"), &m_oAccount, environment);
    EXPECT_TRUE(trust.waitForFinished(60000));
    EXPECT_EQ(trust.exitCode(), QStandardPaths::findExecutable("certutil").isEmpty() ? 3 : 0)
        << trust.readAll().toStdString();
    QProcess server;
    startUnit(server, unitCommand(kUserUnit, "ExecStart"), &m_oAccount, environment);
    const quint16 userPort = listeningPort(m_oAccount.home() + "/.config" + kLogTail);
    ASSERT_GT(userPort, m_iPort) << server.readAll().toStdString();

    // curl stands in for the page's browser: the dispatcher tells accounts apart by the
    // process that owns the client's end of the connection.
    QProcess browser;
    startUnit(browser,
              {"curl", "-sk", "-m", "20", "-X", "POST", "--data", "", "-w", "\n%{http_code}",
               QStringLiteral("https://127.0.0.1:%1/GET_USER_SERVER_PORT").arg(m_iPort)},
              &m_oAccount, environment);
    EXPECT_TRUE(browser.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(browser.readAll()), QStringLiteral("%1\n200").arg(userPort))
        << readText(rootConfig.path() + kLogTail).right(4000).toStdString();

    const ProgramRun prerm = script("prerm", {"remove"});
    EXPECT_EQ(prerm.exitCode, 0) << prerm.output.toStdString();
    EXPECT_TRUE(dispatcher.waitForFinished(20000));
    EXPECT_TRUE(server.waitForFinished(20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !anyProcessRunsFromRoot(); }, 20000));
    EXPECT_FALSE(QFileInfo(userWants).isSymLink());
    const ProgramRun postrm = script("postrm", {"purge"});
    EXPECT_EQ(postrm.exitCode, 0) << postrm.output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(app() + "/certs"));
    EXPECT_FALSE(QFileInfo::exists(inRoot("/var/lib/veltrane")));
}

// Only where systemd runs: the real installation, its units, and purge. The machine seed is
// put back afterwards, since other servers of this machine encrypt for it; a machine that
// already has a local authority is not touched, since browsers may trust it.
TEST_F(PackageTest, InstalledWithSystemd_DispatcherUnitActive_PurgeLeavesNoProcess)
{
    if (!QFileInfo::exists("/run/systemd/system"))
        GTEST_SKIP() << "systemd does not run on this machine";
    if (runProgram("dpkg-query", {"-W", "veltrane-crypto-server"}).exitCode == 0 ||
        QFileInfo::exists("/opt/veltrane") || QFileInfo::exists("/var/lib/veltrane/ca"))
        GTEST_SKIP() << "an installation or a local authority is already there; it is left alone";
    const QByteArray seed = readText("/var/lib/veltrane/seed").toLatin1();

    const ProgramRun install = runProgram("dpkg", {"-i", s_oPackageFile});
    ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();
    const auto systemctl = [](const QStringList &arguments) {
        return runProgram("systemctl", arguments).output.trimmed();
    };
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return systemctl({"is-active", "veltrane-dispatcher.service"}) == "active";
        },
        30000));
    EXPECT_EQ(systemctl({"is-enabled", "veltrane-dispatcher.service"}), "enabled");
    EXPECT_EQ(systemctl({"--global", "is-enabled", "veltrane-server.service"}), "enabled");
    const QString mainPid = systemctl({"show", "-P", "MainPID", "veltrane-dispatcher.service"});
    EXPECT_EQ(QFileInfo("/proc/" + mainPid + "/exe").symLinkTarget(), "/opt/veltrane/VeltraneCryptoServer");

    const ProgramRun purge = runProgram("dpkg", {"--purge", "veltrane-crypto-server"});
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
