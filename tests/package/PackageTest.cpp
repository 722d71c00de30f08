#include "support/ProgramRun.h"
#include "support/QtPrinters.h"
#include "support/TestAccount.h"

#include <QDir>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <grp.h>
#include <gtest/gtest.h>
#include <unistd.h>

// The Debian package as an administrator gets it: built by cpack from this build tree,
// unpacked into a temporary root (dpkg-deb -x) with its maintainer scripts beside it
// (dpkg-deb -e), provisioned by its own post-install script and run with the commands of its
// own systemd units. The scripts run with VYR_ROOT naming that root; the units' commands run
// with the installation's paths moved into it. Needs root (test accounts, the machine seed).
namespace {
const QString kDispatcherUnit = QStringLiteral("/usr/lib/systemd/system/veltrane-dispatcher.service");
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

// Starts a command as systemd would run it: as the account when given, else as root. The
// QProcess kills it when it goes out of scope still running.
void startUnit(QProcess &process, const QStringList &command, const TestAccount *account,
               const QProcessEnvironment &environment)
{
    if (account)
        process.setChildProcessModifier([uid = account->uid(), gid = account->gid()] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
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
    void SetUp() override
    {
        if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty())
            GTEST_SKIP() << "needs root (test accounts, the machine seed) and dpkg-deb";
        ASSERT_TRUE(m_oAccount.valid());
        const ProgramRun cpack = runProgram(QStringLiteral(VYR_CPACK_COMMAND),
                                            {"-G", "DEB", "--config", VYR_CPACK_CONFIG, "-B", at("deb")});
        const QStringList packages = QDir(at("deb")).entryList({QStringLiteral("*.deb")}, QDir::Files);
        ASSERT_TRUE(cpack.exitCode == 0 && packages.size() == 1) << cpack.output.toStdString();
        // The account runs the unpacked programs, so the way down to them must be open.
        QFile::setPermissions(m_oDirectory.path(), QFile::permissions(m_oDirectory.path()) |
                                                       QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                                       QFile::ExeGroup);
        ASSERT_EQ(runProgram("dpkg-deb", {"-x", at("deb/" + packages[0]), root()}).exitCode, 0);
        ASSERT_EQ(runProgram("dpkg-deb", {"-e", at("deb/" + packages[0]), at("control")}).exitCode, 0);
        // /opt/veltrane unless the build chose another VYR_INSTALL_DIR.
        m_oInstallDir = QFileInfo(unitValue(kDispatcherUnit, "ExecStart").section(' ', 0, 0)).path();
        ASSERT_TRUE(m_oInstallDir.startsWith('/')) << m_oInstallDir.toStdString();
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        m_iPort = probe.serverPort();
        // A CI machine has no login session to find the account's server through.
        QSettings ini(app() + "/VeltraneCryptoProvider.ini", QSettings::IniFormat);
        ini.setValue("listener/port", m_iPort);
        ini.setValue("listener/windowsServerMode", true);
    }

    QString at(const QString &relative) const { return m_oDirectory.filePath(relative); }
    QString root() const { return at(QStringLiteral("root")); }
    QString inRoot(const QString &path) const { return root() + path; }
    QString app() const { return inRoot(m_oInstallDir); }

    ProgramRun script(const QString &name, const QStringList &arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VYR_ROOT"), root());
        return runProgram(at("control/" + name), arguments, environment);
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
             QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (QFileInfo("/proc/" + entry + "/exe").symLinkTarget().startsWith(root() + '/'))
                return true;
        return false;
    }

    TestAccount m_oAccount{QStringLiteral("p")};
    QTemporaryDir m_oDirectory;
    QString m_oInstallDir;
    quint16 m_iPort = 0;
};
} // namespace

// Which server the dispatcher names for an account, and its taking over a socket from the
// service manager, are asked of the built programs elsewhere; here, that the package's own
// layout, scripts and unit commands bring both up and take everything away again.
TEST_F(PackageTest, Lifecycle_ProvisionStartRemove_DispatcherAndAccountServerRunAndNothingRemains)
{
    // What no run shows: the INI kept on upgrades, and the module's signature intact after packaging.
    EXPECT_TRUE(readText(at("control/conffiles")).contains(m_oInstallDir + "/VeltraneCryptoProvider.ini"));
    for (const char *module : {"/dlls/hash.so", "/dlls/signer.so"}) {
        const ProgramRun verify = runProgram(app() + "/vyr-sign-module", {"--verify", app() + module});
        EXPECT_EQ(verify.exitCode, 0) << module << verify.output.toStdString();
    }

    const ProgramRun postinst = script("postinst", {"configure"});
    ASSERT_EQ(postinst.exitCode, 0) << postinst.output.toStdString();
    const QString key = app() + "/certs/VYR-key-server.pem";
    EXPECT_TRUE(QFileInfo(key).permissions() & QFile::ReadOther) << "every account's server reads it";
    EXPECT_FALSE(QFileInfo(inRoot("/var/lib/veltrane/ca/VYR-ca-key.pem")).permissions() & QFile::ReadOther);
    const QString keyPem = readText(key);
    EXPECT_EQ(script("postinst", {"configure"}).exitCode, 0) << "as on an upgrade";
    EXPECT_EQ(readText(key), keyPem);
    const QString userWants =
        inRoot("/etc/systemd/user/graphical-session.target.wants/veltrane-server.service");
    if (!QStandardPaths::findExecutable("systemctl").isEmpty()) {
        for (const QString &link :
             {userWants, inRoot("/etc/systemd/system/multi-user.target.wants/veltrane-dispatcher.service"),
              inRoot("/etc/systemd/system/sockets.target.wants/veltrane-dispatcher.socket")})
            EXPECT_TRUE(QFileInfo(link).isSymLink()) << link.toStdString();
    }

    QTemporaryDir rootConfig;
    QProcessEnvironment rootEnvironment = QProcessEnvironment::systemEnvironment();
    rootEnvironment.insert("XDG_CONFIG_HOME", rootConfig.path());
    rootEnvironment.remove("DISPLAY");
    EXPECT_TRUE(unitValue("/usr/lib/systemd/system/veltrane-dispatcher.socket", "ListenStream")
                    .startsWith("127.0.0.1:"));
    QProcess dispatcher;
    startUnit(dispatcher, unitCommand(kDispatcherUnit, "ExecStart"), nullptr, rootEnvironment);
    ASSERT_EQ(listeningPort(rootConfig.path() + kLogTail), m_iPort) << dispatcher.readAll().toStdString();

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

    // The browser-trust step (the tool's own test runs it) may fail without keeping the server
    // from starting.
    EXPECT_TRUE(unitValue(kUserUnit, "ExecStartPre").startsWith('-'));
    QProcess server;
    startUnit(server, unitCommand(kUserUnit, "ExecStart"), &m_oAccount, environment);
    EXPECT_GT(listeningPort(m_oAccount.home() + "/.config" + kLogTail), m_iPort)
        << server.readAll().toStdString();

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
