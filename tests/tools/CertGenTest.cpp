#include "BrowserTrust.h"
#include "CertGenException.h"
#include "CertGenerator.h"
#include "CertificateAuthority.h"
#include "CertificateFactory.h"
#include "Certutil.h"
#include "FileSetWriter.h"
#include "PemCodec.h"
#include "keyprotection/MachineIdentityFiles.h"
#include "keyprotection/MachineSeed.h"
#include "keyprotection/PendingFileSet.h"
#include "keyprotection/ServerKeyFiles.h"
#include "keyprotection/UniquePass.h"
#include "logging/LogChannels.h"
#include "settings/CSettings.h"
#include "support/CapturingSink.h"
#include "support/ProgramRun.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using vyr::openssl::EvpPkeyPtr;

// The built vyr-certgen on scratch directories and a scratch HOME, so nothing under
// /var/lib, the user's data directory or the user's browsers is touched.
namespace {
QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString kNickname = QString::fromLatin1(BrowserTrust::kNickname);
const QByteArray kSeed = "HGFEDCBAHGFEDCBA";
const QByteArray kMachineId = "fedcba9876543210fedcba9876543210\n";

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray tableWith(const QByteArray &uuid)
{
    return SmbiosBuilder().structure(0, "\x01\x02", {"BIOS"}).systemInformation(uuid).bytes();
}

class CertGenToolTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        for (LogChannel *channel : {&vyrcommonsLogChannel(), &serverLogChannel()})
            channel->initializeWithSinks(int(LogLevel::Off), 0, QString(), {});
    }

    QString at(const QString &relative) const { return m_oRoot.filePath(relative); }
    // CTest names the application directory; outside it the tool is where the build puts it.
    ProgramRun certgen(const QStringList &arguments, const QString &path = qEnvironmentVariable("PATH")) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), at("home"));
        environment.insert(QStringLiteral("PATH"), path);
        const QString appDir = qEnvironmentVariable("VYR_APP_DIR", QCoreApplication::applicationDirPath() +
                                                                       QStringLiteral("/../bin"));
        return runProgram(appDir + QStringLiteral("/vyr-certgen"), arguments, environment);
    }
    ProgramRun provision(const QStringList &extra = {}) const
    {
        return certgen(QStringList{"--app-dir", at("app"), "--state-dir", at("state"), "--ca-dir", at("ca")} +
                       extra);
    }
    // Every file of the run with its bytes, to prove a refused run changed nothing.
    QMap<QString, QByteArray> snapshot() const
    {
        QMap<QString, QByteArray> files;
        QDirIterator it(m_oRoot.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files.insert(path, readAll(path));
        }
        return files;
    }

    QString authority(const QString &name) const
    {
        return CertificateAuthority::loadOrCreate(at(name)).certificatePath();
    }
    // A profile as Firefox leaves it: a directory with an NSS database.
    QString addFirefoxProfile(const QString &relative) const
    {
        const QString profile = at("home/" + relative);
        QDir().mkpath(profile);
        EXPECT_TRUE(Certutil(Certutil::locate()).createEmptyDatabase(profile).ok);
        return profile;
    }
    // certutil's own listing: nickname followed by the trust flags.
    static QString listing(const QString &database)
    {
        return runProgram(Certutil::locate(), {"-L", "-d", "sql:" + database}).output;
    }

    CertGenOptions options(const MachineIdentityFiles &identity) const
    {
        CertGenOptions options;
        options.appDir = at("app");
        options.caDir = at("ca");
        options.identity = identity.sources();
        return options;
    }

    QTemporaryDir m_oRoot;
};
// The generator's own functions, in the same scratch directory.
using CertGenLibraryTest = CertGenToolTest;
} // namespace

// One provisioning, then the same run again: refused while any one of the server's files is
// there, before anything is written (the machine seed included); --force then replaces the
// server's files under the same authority.
TEST_F(CertGenToolTest, Run_FreshThenAgainThenForced_FilesForThisMachineRefusalUntouchedSameAuthority)
{
    const ProgramRun first = provision();
    ASSERT_EQ(first.exitCode, 0) << first.output.toStdString();
    const bool root = ::geteuid() == 0;
    // Root provisions for every account: the key is readable by all, encrypted for this machine.
    const std::pair<const char *, mode_t> modes[] = {{"ca", 0700},
                                                     {"ca/VYR-ca-key.pem", 0600},
                                                     {"ca/VYR-ca.pem", 0644},
                                                     {"app/certs/VYR-cert-server.pem", 0644},
                                                     {"app/certs/VYR-ca.pem", 0644},
                                                     {"app/certs/VYR-key-server.pem", root ? 0644 : 0600},
                                                     {"state/seed", root ? 0644 : mode_t(-1)}};
    for (const auto &[name, mode] : modes)
        EXPECT_EQ(fileMode(at(name)), mode) << name;
    const QString certificate = at("app/certs/VYR-cert-server.pem");
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificate);
    ASSERT_EQ(chain.size(), 1);
    const auto names = chain.front().subjectAlternativeNames();
    EXPECT_EQ(names.values(QSsl::IpAddressEntry), QStringList{"127.0.0.1"});
    EXPECT_EQ(names.values(QSsl::DnsEntry), QStringList{"localhost"});
    UniquePassSources identity = UniquePassSources::system();
    identity.seedPath = at("state/seed");
    const SecurePass phrase = UniquePass(4, identity).getUniquePassword();
    const EvpPkeyPtr key =
        PemCodec::privateKeyFromPem(readAll(at("app/certs/VYR-key-server.pem")), phrase.bytes());
    EXPECT_EQ(X509_check_private_key(PemCodec::certificateFromPem(chain.front().toPem()).get(), key.get()),
              1);

    for (const char *name : {"app/certs/VYR-cert-server.pem", "app/certs/VYR-ca.pem", "state/seed"})
        QFile::remove(at(name));
    const QMap<QString, QByteArray> before = snapshot();
    const ProgramRun second = provision();
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_TRUE(second.output.contains(QStringLiteral("--force")));
    EXPECT_EQ(snapshot(), before);

    const ProgramRun forced = provision({"--force"});
    ASSERT_EQ(forced.exitCode, 0) << forced.output.toStdString();
    EXPECT_NE(readAll(certificate), chain.front().toPem());
    for (const char *name : {"ca/VYR-ca-key.pem", "ca/VYR-ca.pem"})
        EXPECT_EQ(readAll(at(name)), before.value(at(name))) << name;
    EXPECT_EQ(readAll(at("app/certs/VYR-ca.pem")), before.value(at("ca/VYR-ca.pem")));
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        GTEST_SKIP() << "no openssl command to verify the chain with";
    const ProgramRun verify = runProgram(
        "openssl", {"verify", "-purpose", "sslserver", "-CAfile", at("app/certs/VYR-ca.pem"), certificate});
    EXPECT_EQ(verify.exitCode, 0) << verify.output.toStdString();
}

// An authority from before the name limits, trusted by this user's Chromium: replaced without
// --force together with the server files it signed, the trust renewed, and what the new one
// signs for any other name is refused by a verifier that knows nothing of this tool.
TEST_F(CertGenToolTest, Run_AuthorityWithoutNameConstraints_ReplacedLimitedToLoopbackTrustRenewed)
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        GTEST_SKIP() << "no openssl command";
    QDir().mkpath(at("ca"));
    ASSERT_EQ(
        runProgram("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=old", "-days",
                               "30", "-keyout", at("ca/VYR-ca-key.pem"), "-out", at("ca/VYR-ca.pem")})
            .exitCode,
        0);
    const bool certutil = !Certutil::locate().isEmpty();
    if (certutil) {
        ASSERT_EQ(certgen({"--trust-browsers", "--ca", at("ca/VYR-ca.pem")}).exitCode, 0);
    }
    writeFile(at("app/certs/VYR-cert-server.pem"), "signed by the old authority");

    const ProgramRun replaced = provision();
    ASSERT_EQ(replaced.exitCode, 0) << replaced.output.toStdString();
    const QString ca = at("app/certs/VYR-ca.pem");
    EXPECT_EQ(runProgram("openssl", {"verify", "-CAfile", ca, at("app/certs/VYR-cert-server.pem")}).exitCode,
              0);
    EXPECT_TRUE(runProgram("openssl", {"x509", "-noout", "-text", "-in", ca})
                    .output.contains(QRegularExpression(
                        "Name Constraints: critical\\s+Permitted:\\s+IP:127.0.0.1/255.255.255.255\\s+"
                        "IP:0:0:0:0:0:0:0:1/FFFF(:FFFF){7}\\s+DNS:localhost\\s")));
    if (certutil) {
        EXPECT_EQ(Certutil(Certutil::locate())
                      .exportCertificate(BrowserTrust::chromiumDatabase(at("home")), kNickname)
                      .output.simplified(),
                  readAll(ca).simplified());
    }

    const CertificateAuthority authority = CertificateAuthority::loadOrCreate(at("ca"));
    const EvpPkeyPtr key = CertificateFactory::generateRsaKey();
    for (const char *names : {"DNS:example.com", "DNS:localhost.example.com", "IP:127.0.0.2"}) {
        writeFile(at("other.pem"),
                  PemCodec::certificateToPem(CertificateFactory::createServerCertificate(
                                                 key.get(), authority.certificate(), authority.key(), names)
                                                 .get()));
        const ProgramRun verify = runProgram("openssl", {"verify", "-CAfile", ca, at("other.pem")});
        EXPECT_NE(verify.exitCode, 0) << names;
        EXPECT_TRUE(verify.output.contains("subtree violation")) << verify.output.toStdString();
    }
}

// Refused without certutil or without the authority, with the home untouched; then trusted
// in Chromium's and every Firefox profile's store, replaced by a new authority and removed.
TEST_F(CertGenToolTest, TrustBrowsers_ChromiumAndFirefoxProfiles_RefusedUntouchedThenListedReplacedRemoved)
{
    if (Certutil::locate().isEmpty())
        GTEST_SKIP() << "certutil is not installed (package libnss3-tools)";
    const QString chromium = BrowserTrust::chromiumDatabase(at("home"));
    const QStringList stores = {chromium, addFirefoxProfile(".mozilla/firefox/a1.default-release"),
                                addFirefoxProfile("snap/firefox/common/.mozilla/firefox/b2.default")};
    const QString ca = authority("old");
    EXPECT_EQ(certgen({"--trust-browsers", "--ca", ca}, at("empty-bin")).exitCode, 3); // no certutil on PATH
    EXPECT_EQ(certgen({"--trust-browsers", "--ca", at("none.pem")}).exitCode, 4);
    EXPECT_FALSE(QFileInfo::exists(at("home/.pki")));
    EXPECT_FALSE(listing(stores[1]).contains(kNickname));
    const ProgramRun trusted = certgen({"--trust-browsers", "--ca", ca});
    ASSERT_EQ(trusted.exitCode, 0) << trusted.output.toStdString();
    EXPECT_EQ(QFileInfo(chromium).permissions() & QFile::ReadOther, 0) << "nssdb must stay private";
    for (const QString &store : stores)
        EXPECT_TRUE(listing(store).contains(QRegularExpression(kNickname + "\\s+C,,")))
            << store.toStdString();

    // A new authority takes the old one's place instead of joining it.
    const QString replacement = authority("new");
    ASSERT_EQ(certgen({"--trust-browsers", "--ca", replacement}).exitCode, 0);
    for (const QString &store : stores)
        EXPECT_EQ(listing(store).count(kNickname), 1) << store.toStdString();
    EXPECT_EQ(QString::fromLatin1(Certutil(Certutil::locate()).exportCertificate(chromium, kNickname).output)
                  .simplified(),
              QString::fromLatin1(readAll(replacement)).simplified());

    ASSERT_EQ(certgen({"--untrust-browsers"}).exitCode, 0);
    for (const QString &store : stores)
        EXPECT_FALSE(listing(store).contains(kNickname)) << store.toStdString();
}

// A server whose machine differs (here: its seed) says once per change of the files that the
// key does not open, with the command that cures it, and nothing more once cured.
TEST_F(CertGenLibraryTest, ServerKey_OtherMachineIdentity_ReportedOncePerChangeWithTheCure)
{
    const MachineIdentityFiles identity(kSeed, kMachineId, tableWith(MachineIdentityFiles::uuidA()));
    const MachineIdentityFiles other("HGFEDCBAHGFEDCBB", kMachineId,
                                     tableWith(MachineIdentityFiles::uuidA()));
    CertGenerator(options(identity)).run();
    const auto errors = std::make_shared<CapturingSink>();
    errors->set_level(spdlog::level::err);
    serverLogChannel().initializeWithSinks(int(LogLevel::Error), 0, QString(), {errors});
    const CertGenerator::Targets files = CertGenerator::targets(at("app"));
    ServerKeyFiles server(other.sources(), ServerKeyFiles::repairCommand("/opt/v", at("app")));
    for (int handshake = 0; handshake < 3; ++handshake)
        EXPECT_TRUE(server.refresh(files.certificate, files.key));
    EXPECT_EQ(server.problem(), ServerKeyFiles::Problem::KeyDoesNotOpen);
    ASSERT_EQ(errors->lines().size(), 2) << errors->lines().join('\n').toStdString();
    EXPECT_TRUE(errors->lines()[0].contains(files.key));
    EXPECT_TRUE(errors->lines()[1].endsWith(" /opt/v/vyr-certgen --app-dir " + at("app") + " --force"));
    CertGenOptions repaired = options(other);
    repaired.force = true;
    CertGenerator(repaired).run();
    EXPECT_TRUE(server.refresh(files.certificate, files.key));
    EXPECT_EQ(server.problem(), ServerKeyFiles::Problem::None);
    EXPECT_EQ(errors->lines().size(), 2);
    SetUpTestSuite();
}

// The tool killed before each step of replacing the server's files: what the server reads
// is one whole set, old or new, and the next run keeps exactly that one.
TEST_F(CertGenLibraryTest, ReplaceServerFiles_KilledBeforeEachStep_ServerReadsOneWholeSetRecoveryKeepsIt)
{
    const MachineIdentityFiles identity(kSeed, kMachineId, tableWith(MachineIdentityFiles::uuidA()));
    const auto setIn = [&](const QString &appDir) {
        CertGenOptions provisioned = options(identity);
        provisioned.appDir = appDir;
        CertGenerator(provisioned).run();
        const CertGenerator::Targets files = CertGenerator::targets(appDir);
        return QList<FileSetWriter::File>{{files.key, readAll(files.key), 0600},
                                          {files.certificate, readAll(files.certificate), 0644},
                                          {files.authorityCopy, readAll(files.authorityCopy), 0644}};
    };
    const QList<FileSetWriter::File> old = setIn(at("app"));
    QList<FileSetWriter::File> next = setIn(at("next"));
    for (qsizetype i = 0; i < next.size(); ++i)
        next[i].path = old[i].path;
    const QByteArray phrase = UniquePass(4, identity.sources()).getUniquePassword().toByteArray();
    const auto keyTheServerServes = [&] {
        const auto read = PendingFileSet::read({old[0].path, old[1].path}, 1 << 20).contents;
        return ServerKeyFiles::check(read[1], read[0], phrase) == ServerKeyFiles::Problem::None ? read[0]
                                                                                                : "";
    };
    for (int stopAt = 0;; ++stopAt) {
        FileSetWriter().replace(old);
        const pid_t child = ::fork();
        if (child == 0) {
            int step = 0;
            FileSetWriter([&] {
                if (step++ == stopAt)
                    ::raise(SIGKILL);
            }).replace(next);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const QByteArray served = keyTheServerServes();
        EXPECT_TRUE(served == old[0].bytes || served == next[0].bytes) << stopAt;
        FileSetWriter::recover(CertGenerator::targets(at("app")).set());
        EXPECT_EQ(keyTheServerServes(), served) << stopAt;
        EXPECT_EQ(QDir(at("app/certs")).entryList(QDir::Files | QDir::Hidden).size(), 3) << stopAt;
        if (WIFEXITED(status))
            break; // ran through: there was no step left to stop before
    }
}

TEST_F(CertGenLibraryTest, EnsureSeed_PresentOrUnprivileged_NeverWrittenAndUnwritableThrows)
{
    const QString present = at("present/seed");
    writeFile(present, kSeed);
    EXPECT_EQ(CertGenerator::ensureSeed(present, true), CertGenerator::SeedState::Present);
    EXPECT_EQ(MachineSeed::read(present), kSeed);
    const QString missing = at("missing/seed");
    EXPECT_EQ(CertGenerator::ensureSeed(missing, false), CertGenerator::SeedState::MissingUnprivileged);
    EXPECT_FALSE(QFileInfo::exists(missing));
    writeFile(at("file"), "x");
    EXPECT_THROW(CertGenerator::ensureSeed(at("file/seed"), true), CertGenException);
}

// The tool reads the INI on its own; it must write where the server will read.
TEST_F(CertGenLibraryTest, Targets_IniPaths_WhereTheServerReads)
{
    for (const QByteArray ini :
         {"", "certFile=./tls/c.pem\nkeyFile=tls/k.pem\n", "certFile=/etc/c.pem\nkeyFile=k.pem\n"}) {
        QTemporaryDir appDir;
        writeFile(appDir.filePath(QStringLiteral("VeltraneCryptoProvider.ini")), "[sslCertificate]\n" + ini);
        const auto server = CSettings(appDir.path()).ReadSslCertificateCertAndKeyFiles();
        const CertGenerator::Targets targets = CertGenerator::targets(appDir.path());
        EXPECT_EQ(targets.certificate, QDir::cleanPath(server.first)) << ini.constData();
        EXPECT_EQ(targets.key, QDir::cleanPath(server.second)) << ini.constData();
        EXPECT_TRUE(targets.certificate.startsWith(appDir.path() + '/')) << ini.constData();
    }
}

TEST_F(CertGenLibraryTest, LoadAuthority_HalfOrMismatchedKey_RefusedNotReplaced)
{
    const QString first = at("first");
    const QString second = at("second");
    CertificateAuthority::loadOrCreate(first);
    CertificateAuthority::loadOrCreate(second);
    const QString firstKey = first + QLatin1Char('/') + QLatin1String(CertificateAuthority::kKeyFileName);
    ASSERT_TRUE(QFile::remove(firstKey));
    EXPECT_THROW(CertificateAuthority::loadOrCreate(first), CertGenException) << "half an authority";
    writeFile(firstKey,
              readAll(second + QLatin1Char('/') + QLatin1String(CertificateAuthority::kKeyFileName)));
    EXPECT_THROW(CertificateAuthority::loadOrCreate(first), CertGenException) << "key of another authority";
    EXPECT_FALSE(CertificateAuthority::loadOrCreate(second).wasCreated());
}
