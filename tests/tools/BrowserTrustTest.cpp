#include "BrowserTrust.h"
#include "CertificateAuthority.h"
#include "Certutil.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
struct TrustRun
{
    int exitCode = -1;
    QString standardOutput;
    QString standardError;
};

QString certgenPath()
{
    QString appDir = qEnvironmentVariable("VYR_APP_DIR");
    if (appDir.isEmpty())
        appDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    return appDir + QStringLiteral("/vyr-certgen");
}

// The built tool's browser-trust command on a scratch HOME with fake Firefox profiles.
class BrowserTrustTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (Certutil::locate().isEmpty())
            GTEST_SKIP() << "certutil is not installed (package libnss3-tools)";
        ASSERT_TRUE(m_oHome.isValid());
    }

    QString home() const { return m_oHome.path(); }
    QString chromiumDb() const { return BrowserTrust::chromiumDatabase(home()); }

    QString authority(const QString &name) const
    {
        const QString directory = m_oScratch.filePath(name);
        return CertificateAuthority::loadOrCreate(directory).certificatePath();
    }

    // A profile as Firefox leaves it: a directory with an NSS database.
    QString addFirefoxProfile(const QString &root, const QString &name) const
    {
        const QString profile = home() + QLatin1Char('/') + root + QLatin1Char('/') + name;
        QDir().mkpath(profile);
        EXPECT_TRUE(Certutil(Certutil::locate()).createEmptyDatabase(profile).ok);
        return profile;
    }

    TrustRun run(const QStringList &arguments, const QString &path = qEnvironmentVariable("PATH")) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home());
        environment.insert(QStringLiteral("PATH"), path);
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(certgenPath(), arguments);
        TrustRun result;
        if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit)
            return result;
        result.exitCode = tool.exitCode();
        result.standardOutput = QString::fromUtf8(tool.readAllStandardOutput());
        result.standardError = QString::fromUtf8(tool.readAllStandardError());
        return result;
    }

    // certutil's own listing: nickname followed by the trust flags.
    static QString listing(const QString &database)
    {
        QProcess certutil;
        certutil.start(Certutil::locate(), {QStringLiteral("-L"), QStringLiteral("-d"), QStringLiteral("sql:") + database});
        certutil.waitForFinished(30000);
        return QString::fromUtf8(certutil.readAllStandardOutput());
    }

    static QByteArray stored(const QString &database)
    {
        return Certutil(Certutil::locate()).exportCertificate(database, QLatin1String(BrowserTrust::kNickname)).output;
    }

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_oHome;
    QTemporaryDir m_oScratch;
};

const QRegularExpression kTrustedLine(QStringLiteral("Veltrane Local Authority\\s+C,,"));

TEST_F(BrowserTrustTest, TrustThenUntrust_ChromiumAndFirefoxProfiles_ListedThenGone)
{
    const QString ca = authority(QStringLiteral("ca"));
    const QStringList stores = {chromiumDb(), addFirefoxProfile(QStringLiteral(".mozilla/firefox"), "a1.default-release"),
                                addFirefoxProfile(QStringLiteral("snap/firefox/common/.mozilla/firefox"), "b2.default")};

    const TrustRun trusted = run({"--trust-browsers", "--ca", ca});
    ASSERT_EQ(trusted.exitCode, 0) << trusted.standardError.toStdString();
    EXPECT_EQ(QFileInfo(chromiumDb()).permissions() & QFile::ReadOther, 0) << "nssdb must stay private";
    for (const QString &store : stores) {
        EXPECT_TRUE(listing(store).contains(kTrustedLine)) << store.toStdString();
        EXPECT_TRUE(trusted.standardOutput.contains(QStringLiteral("Trusted by ")) );
    }

    const TrustRun again = run({"--trust-browsers", "--ca", ca});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.standardOutput.count(QStringLiteral("Already trusted by ")), 3) << again.standardOutput.toStdString();

    const TrustRun removed = run({"--untrust-browsers"});
    ASSERT_EQ(removed.exitCode, 0) << removed.standardError.toStdString();
    for (const QString &store : stores)
        EXPECT_FALSE(listing(store).contains(QStringLiteral("Veltrane Local Authority"))) << store.toStdString();
    EXPECT_EQ(run({"--untrust-browsers"}).standardOutput.count(QStringLiteral("Not present in ")), 3);
}

TEST_F(BrowserTrustTest, Trust_AuthorityReplaced_StoreHoldsOnlyTheNewOne)
{
    ASSERT_EQ(run({"--trust-browsers", "--ca", authority(QStringLiteral("old"))}).exitCode, 0);
    const QString replacement = authority(QStringLiteral("new"));
    ASSERT_EQ(run({"--trust-browsers", "--ca", replacement}).exitCode, 0);
    EXPECT_EQ(listing(chromiumDb()).count(QStringLiteral("Veltrane Local Authority")), 1);
    EXPECT_EQ(QString::fromLatin1(stored(chromiumDb())).simplified(),
              QString::fromLatin1(readAll(replacement)).simplified());
}

TEST_F(BrowserTrustTest, Trust_NoFirefoxProfile_ChromiumOnlyAndSaysSo)
{
    const TrustRun result = run({"--trust-browsers", "--ca", authority(QStringLiteral("ca"))});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.standardOutput.contains(QStringLiteral("No Firefox profile found under ")));
    EXPECT_TRUE(listing(chromiumDb()).contains(kTrustedLine));
    EXPECT_FALSE(QFileInfo::exists(home() + QStringLiteral("/.mozilla")));
}

// What each refusal says and that it leaves HOME as it was.
struct RefusalCase
{
    const char *name;
    bool certutilOnPath;
    bool authorityExists;
    int exitCode;
    const char *message;
};

class BrowserTrustRefusalTest : public BrowserTrustTest, public ::testing::WithParamInterface<RefusalCase>
{
};

TEST_P(BrowserTrustRefusalTest, Trust_Refused_ExitCodeMessageAndHomeUntouched)
{
    const RefusalCase &refusal = GetParam();
    const QString profile = addFirefoxProfile(QStringLiteral(".mozilla/firefox"), "p.default");
    const QString ca = refusal.authorityExists ? authority(QStringLiteral("ca")) : m_oScratch.filePath("none.pem");
    const QString path = refusal.certutilOnPath ? qEnvironmentVariable("PATH") : m_oScratch.filePath("empty-bin");

    const TrustRun result = run({"--trust-browsers", "--ca", ca}, path);
    EXPECT_EQ(result.exitCode, refusal.exitCode);
    EXPECT_TRUE(result.standardError.contains(QLatin1String(refusal.message))) << result.standardError.toStdString();
    EXPECT_TRUE(result.standardError.contains(QStringLiteral("Nothing was changed")));
    EXPECT_FALSE(QFileInfo::exists(home() + QStringLiteral("/.pki")));
    EXPECT_FALSE(listing(profile).contains(QStringLiteral("Veltrane Local Authority")));
}

INSTANTIATE_TEST_SUITE_P(Refusals, BrowserTrustRefusalTest,
                         ::testing::Values(RefusalCase{"NoCertutil", false, true, 3, "certutil was not found on PATH"},
                                           RefusalCase{"NoAuthority", true, false, 4,
                                                       "cannot read the local authority's certificate"}),
                         [](const auto &info) { return std::string(info.param.name); });
} // namespace
