#include "BrowserTrust.h"
#include "CertGenException.h"
#include "CertGenerator.h"
#include "CertificateAuthority.h"
#include "CertificateFactory.h"
#include "Certutil.h"
#include "FileSetWriter.h"
#include "PemCodec.h"
#include "keyprotection/MachineIdentityFiles.h"
#include "keyprotection/PendingFileSet.h"
#include "settings/CSettings.h"
#include "support/Files.h"
#include "support/ProgramRun.h"
#include "support/QtPrinters.h"
#include "support/SilentLogChannels.h"

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
const QString kNickname = QString::fromLatin1(BrowserTrust::kNickname);

::testing::Environment *const g_pSilentChannels =
    ::testing::AddGlobalTestEnvironment(new SilentLogChannels({&vyrcommonsLogChannel, &serverLogChannel}));

class CertGenToolTest : public ::testing::Test
{
protected:
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
            files.insert(path, readWholeFile(path));
        }
        return files;
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
    static QByteArray exported(const QString &database)
    {
        return Certutil(Certutil::locate()).exportCertificate(database, kNickname).output.simplified();
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
    EXPECT_EQ(chain.front().subjectAlternativeNames(),
              (QMultiMap<QSsl::AlternativeNameEntryType, QString>{{QSsl::IpAddressEntry, "127.0.0.1"},
                                                                  {QSsl::DnsEntry, "localhost"}}));

    for (const char *name : {"app/certs/VYR-cert-server.pem", "app/certs/VYR-ca.pem", "state/seed"})
        QFile::remove(at(name));
    const QMap<QString, QByteArray> before = snapshot();
    const ProgramRun second = provision();
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_TRUE(second.output.contains(QStringLiteral("--force")));
    EXPECT_EQ(snapshot(), before);

    const ProgramRun forced = provision({"--force"});
    ASSERT_EQ(forced.exitCode, 0) << forced.output.toStdString();
    EXPECT_NE(readWholeFile(certificate), chain.front().toPem());
    for (const char *name : {"ca/VYR-ca-key.pem", "ca/VYR-ca.pem"})
        EXPECT_EQ(readWholeFile(at(name)), before.value(at(name))) << name;
    EXPECT_EQ(readWholeFile(at("app/certs/VYR-ca.pem")), before.value(at("ca/VYR-ca.pem")));
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
    ASSERT_TRUE(writeWholeFile(at("app/certs/VYR-cert-server.pem"), "signed by the old authority"));

    const ProgramRun replaced = provision();
    ASSERT_EQ(replaced.exitCode, 0) << replaced.output.toStdString();
    const QString ca = at("app/certs/VYR-ca.pem");
    const ProgramRun chain = runProgram(
        "openssl", {"verify", "-purpose", "sslserver", "-CAfile", ca, at("app/certs/VYR-cert-server.pem")});
    EXPECT_EQ(chain.exitCode, 0) << chain.output.toStdString();
    if (certutil) {
        EXPECT_EQ(exported(BrowserTrust::chromiumDatabase(at("home"))), readWholeFile(ca).simplified());
    }

    const CertificateAuthority authority = CertificateAuthority::loadOrCreate(at("ca"));
    const EvpPkeyPtr key = CertificateFactory::generateRsaKey();
    for (const char *names : {"DNS:example.com", "DNS:localhost.example.com", "IP:127.0.0.2"}) {
        ASSERT_TRUE(writeWholeFile(
            at("other.pem"),
            PemCodec::certificateToPem(CertificateFactory::createServerCertificate(
                                           key.get(), authority.certificate(), authority.key(), names)
                                           .get())));
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
    const QString ca = CertificateAuthority::loadOrCreate(at("old")).certificatePath();
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
    const QString replacement = CertificateAuthority::loadOrCreate(at("new")).certificatePath();
    ASSERT_EQ(certgen({"--trust-browsers", "--ca", replacement}).exitCode, 0);
    for (const QString &store : stores)
        EXPECT_EQ(listing(store).count(kNickname), 1) << store.toStdString();
    EXPECT_EQ(exported(chromium), readWholeFile(replacement).simplified());

    ASSERT_EQ(certgen({"--untrust-browsers"}).exitCode, 0);
    for (const QString &store : stores)
        EXPECT_FALSE(listing(store).contains(kNickname)) << store.toStdString();
}

// The tool killed before each step of replacing the server's files: what the server reads
// is one whole set, old or new, and the next run keeps exactly that one.
TEST_F(CertGenLibraryTest, ReplaceServerFiles_KilledBeforeEachStep_ServerReadsOneWholeSetRecoveryKeepsIt)
{
    const QStringList paths = CertGenerator::targets(at("app")).set();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(paths[0]).path()));
    const auto set = [&](const QByteArray &which) {
        return QList<FileSetWriter::File>{{paths[0], which + " key", 0600},
                                          {paths[1], which + " cert", 0644},
                                          {paths[2], which + " ca", 0644}};
    };
    const auto served = [&] { return PendingFileSet::read(paths, 1 << 20).contents; };
    const QList<QByteArray> old = {"old key", "old cert", "old ca"}, next = {"new key", "new cert", "new ca"};
    for (int stopAt = 0;; ++stopAt) {
        FileSetWriter().replace(set("old"));
        const pid_t child = ::fork();
        if (child == 0) {
            int step = 0;
            FileSetWriter([&] {
                if (step++ == stopAt)
                    ::raise(SIGKILL);
            }).replace(set("new"));
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const QList<QByteArray> before = served();
        EXPECT_TRUE(before == old || before == next) << stopAt;
        FileSetWriter::recover(paths);
        EXPECT_EQ(served(), before) << stopAt;
        EXPECT_EQ(QDir(at("app/certs")).entryList(QDir::Files | QDir::Hidden).size(), 3) << stopAt;
        if (WIFEXITED(status))
            break; // ran through: there was no step left to stop before
    }
}

// A present seed is never rewritten: MachineSeed::writeIfMissing, raced in UniquePassTest.
TEST_F(CertGenLibraryTest, EnsureSeed_PresentOrUnprivileged_NeverWrittenAndUnwritableThrows)
{
    ASSERT_TRUE(writeWholeFile(at("file"), "HGFEDCBAHGFEDCBA"));
    EXPECT_EQ(CertGenerator::ensureSeed(at("file"), true), CertGenerator::SeedState::Present);
    EXPECT_EQ(CertGenerator::ensureSeed(at("missing/seed"), false),
              CertGenerator::SeedState::MissingUnprivileged);
    EXPECT_FALSE(QFileInfo::exists(at("missing")));
    EXPECT_THROW(CertGenerator::ensureSeed(at("file/seed"), true), CertGenException);
}

// The tool reads the INI on its own; it must write where the server will read.
TEST_F(CertGenLibraryTest, Targets_IniPaths_WhereTheServerReads)
{
    for (const QByteArray ini :
         {"", "certFile=./tls/c.pem\nkeyFile=tls/k.pem\n", "certFile=/etc/c.pem\nkeyFile=k.pem\n"}) {
        ASSERT_TRUE(writeWholeFile(at("VeltraneCryptoProvider.ini"), "[sslCertificate]\n" + ini));
        const auto server = CSettings(m_oRoot.path()).ReadSslCertificateCertAndKeyFiles();
        const CertGenerator::Targets targets = CertGenerator::targets(m_oRoot.path());
        EXPECT_EQ((QStringList{targets.certificate, targets.key}),
                  (QStringList{QDir::cleanPath(server.first), QDir::cleanPath(server.second)}))
            << ini.constData();
        EXPECT_TRUE(targets.certificate.startsWith(m_oRoot.path() + '/')) << ini.constData();
    }
}

// A missing or foreign authority key must stop the tool: a silently made new authority would
// leave every browser that trusts the old one refusing the server.
TEST_F(CertGenLibraryTest, LoadAuthority_HalfOrMismatchedKey_RefusedNotReplaced)
{
    CertificateAuthority::loadOrCreate(at("first"));
    CertificateAuthority::loadOrCreate(at("second"));
    ASSERT_TRUE(QFile::remove(at("first/VYR-ca-key.pem")));
    EXPECT_THROW(CertificateAuthority::loadOrCreate(at("first")), CertGenException) << "half an authority";
    ASSERT_TRUE(writeWholeFile(at("first/VYR-ca-key.pem"), readWholeFile(at("second/VYR-ca-key.pem"))));
    EXPECT_THROW(CertificateAuthority::loadOrCreate(at("first")), CertGenException) << "another's key";
}
