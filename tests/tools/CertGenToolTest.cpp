#include "PemCodec.h"
#include "keyprotection/MachineIdentityFiles.h"
#include "keyprotection/UniquePass.h"
#include "logging/LogChannels.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {
struct ToolRun
{
    int exitCode = -1;
    QString standardOutput;
    QString standardError;
};

// The test environment names the application directory; a run outside CTest finds it
// beside the test binaries' directory, as the build lays them out.
QString toolPath()
{
    QString appDir = qEnvironmentVariable("VYR_APP_DIR");
    if (appDir.isEmpty())
        appDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    return appDir + QStringLiteral("/vyr-certgen");
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The built tool in a scratch app directory, with its own state and authority
// directories, so nothing under /var/lib or the user's data directory is touched.
class CertGenToolTest : public ::testing::Test
{
protected:
    void SetUp() override { vyrcommonsLogChannel().initializeWithSinks(6, 0, QString(), {}); }
    void TearDown() override { vyrcommonsLogChannel().reset(); }

    QString appDir() const { return m_oRoot.filePath(QStringLiteral("app")); }
    QString stateDir() const { return m_oRoot.filePath(QStringLiteral("state")); }
    QString caDir() const { return m_oRoot.filePath(QStringLiteral("ca")); }
    QString inApp(const char *name) const
    {
        return appDir() + QStringLiteral("/certs/") + QLatin1String(name);
    }
    QString inCa(const char *name) const { return caDir() + QLatin1Char('/') + QLatin1String(name); }

    ToolRun run(const QStringList &extra = {}) const
    {
        QProcess process;
        process.start(toolPath(),
                      QStringList{QStringLiteral("--app-dir"), appDir(), QStringLiteral("--state-dir"),
                                  stateDir(), QStringLiteral("--ca-dir"), caDir()} +
                          extra);
        ToolRun result;
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return result;
        result.exitCode = process.exitCode();
        result.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
        result.standardError = QString::fromUtf8(process.readAllStandardError());
        return result;
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

    // The identity the tool encrypted for: its seed, this machine's id and firmware table.
    UniquePassSources toolIdentity() const
    {
        UniquePassSources sources = UniquePassSources::system();
        sources.seedPath = stateDir() + QStringLiteral("/seed");
        return sources;
    }

    QTemporaryDir m_oRoot;
};

bool openSslVerifies(const QString &authority, const QString &certificate)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("verify"), QStringLiteral("-purpose"), QStringLiteral("sslserver"),
                   QStringLiteral("-CAfile"), authority, certificate});
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit &&
           openssl.exitCode() == 0;
}
} // namespace

TEST_F(CertGenToolTest, Run_FreshDirectories_FilesWithTheirPermissionsAndKeyForThisMachine)
{
    const ToolRun first = run();
    ASSERT_EQ(first.exitCode, 0) << first.standardError.toStdString();
    const bool root = ::geteuid() == 0;
    EXPECT_EQ(fileMode(caDir()), 0700u);
    EXPECT_EQ(fileMode(inCa("VYR-ca-key.pem")), 0600u);
    EXPECT_EQ(fileMode(inCa("VYR-ca.pem")), 0644u);
    EXPECT_EQ(fileMode(inApp("VYR-cert-server.pem")), 0644u);
    EXPECT_EQ(fileMode(inApp("VYR-ca.pem")), 0644u);
    EXPECT_EQ(fileMode(inApp("VYR-key-server.pem")), root ? 0644u : 0600u);
    if (root) {
        EXPECT_EQ(fileMode(stateDir() + QStringLiteral("/seed")), 0644u);
    }
    for (const char *name : {"VYR-cert-server.pem", "VYR-key-server.pem", "VYR-ca.pem"})
        EXPECT_TRUE(first.standardOutput.contains(inApp(name))) << name;

    const QByteArray keyPem = readAll(inApp("VYR-key-server.pem"));
    const SecurePass phrase = UniquePass(4, toolIdentity()).getUniquePassword();
    EXPECT_FALSE(QSslKey(keyPem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, phrase.bytes()).isNull());
    EXPECT_TRUE(QSslKey(keyPem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, "wrong").isNull());
}

TEST_F(CertGenToolTest, Run_SecondTimeWithoutForce_RefusesAndChangesNothing)
{
    ASSERT_EQ(run().exitCode, 0);
    const QMap<QString, QByteArray> before = snapshot();
    const ToolRun second = run();
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_TRUE(second.standardError.contains(QStringLiteral("--force")));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(CertGenToolTest, Run_WithForce_NewServerCertificateFromTheSameAuthority)
{
    ASSERT_EQ(run().exitCode, 0);
    const QByteArray authorityKey = readAll(inCa("VYR-ca-key.pem"));
    const QByteArray authority = readAll(inCa("VYR-ca.pem"));
    const QByteArray oldCertificate = readAll(inApp("VYR-cert-server.pem"));
    const ToolRun forced = run({QStringLiteral("--force")});
    ASSERT_EQ(forced.exitCode, 0) << forced.standardError.toStdString();
    EXPECT_TRUE(forced.standardOutput.contains(QStringLiteral("Reused the local authority")));
    EXPECT_NE(readAll(inApp("VYR-cert-server.pem")), oldCertificate);
    EXPECT_EQ(readAll(inCa("VYR-ca-key.pem")), authorityKey);
    EXPECT_EQ(readAll(inCa("VYR-ca.pem")), authority);
    EXPECT_EQ(readAll(inApp("VYR-ca.pem")), authority);

    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        GTEST_SKIP() << "no openssl command to verify the chain with";
    EXPECT_TRUE(openSslVerifies(inApp("VYR-ca.pem"), inApp("VYR-cert-server.pem")));
}

TEST_F(CertGenToolTest, Run_ServerCertificate_NamesLoopbackAndMatchesKey)
{
    ASSERT_EQ(run().exitCode, 0);
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(inApp("VYR-cert-server.pem"));
    ASSERT_EQ(chain.size(), 1);
    const auto names = chain.front().subjectAlternativeNames();
    EXPECT_EQ(names.values(QSsl::IpAddressEntry), QStringList{QStringLiteral("127.0.0.1")});
    EXPECT_EQ(names.values(QSsl::DnsEntry), QStringList{QStringLiteral("localhost")});
    const SecurePass phrase = UniquePass(4, toolIdentity()).getUniquePassword();
    const EvpPkeyPtr key = PemCodec::privateKeyFromPem(readAll(inApp("VYR-key-server.pem")), phrase.bytes());
    const X509Ptr certificate = PemCodec::certificateFromPem(readAll(inApp("VYR-cert-server.pem")));
    EXPECT_EQ(X509_check_private_key(certificate.get(), key.get()), 1);
}

struct ArgumentsCase
{
    const char *name;
    QStringList arguments;
    int exitCode;
};

class CertGenArgumentsTest : public CertGenToolTest, public ::testing::WithParamInterface<ArgumentsCase>
{
};

INSTANTIATE_TEST_SUITE_P(Arguments, CertGenArgumentsTest,
                         ::testing::Values(ArgumentsCase{"Help", {QStringLiteral("--help")}, 0},
                                           ArgumentsCase{"UnknownOption", {QStringLiteral("--bogus")}, 1}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(CertGenArgumentsTest, Arguments_Given_ExitCodeAndNoFiles)
{
    EXPECT_EQ(run(GetParam().arguments).exitCode, GetParam().exitCode);
    EXPECT_TRUE(snapshot().isEmpty());
}
