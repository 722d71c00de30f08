#include "settings/CSettings.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Writes the given INI text beside a fresh application directory and reads it back.
class SettingsTest : public ::testing::Test
{
protected:
    std::unique_ptr<CSettings> settingsWith(const QByteArray &iniText)
    {
        QFile file(m_oDirectory.filePath(QStringLiteral("VeltraneCryptoProvider.ini")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(iniText);
        file.close();
        return std::make_unique<CSettings>(m_oDirectory.path());
    }
    QString prefix() const { return m_oDirectory.path() + QDir::separator(); }

    QTemporaryDir m_oDirectory;
};

struct BoolCase
{
    const char *value;
    bool expected;
};

class SettingsBoolTest : public SettingsTest, public ::testing::WithParamInterface<BoolCase>
{
};

TEST_P(SettingsBoolTest, Booleans_Text_TrueOnlyForTrueInAnyCase)
{
    const QByteArray value = GetParam().value;
    auto settings =
        settingsWith("[listener]\nwindowsServerMode=" + value + "\n[settings]\nenableCORS=" + value + "\n");
    EXPECT_EQ(settings->ReadWindowsServerMode(), GetParam().expected);
    EXPECT_EQ(settings->ReadEnableCORS(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsBoolTest,
                         ::testing::Values(BoolCase{"true", true}, BoolCase{"TRUE", true},
                                           BoolCase{"True", true}, BoolCase{"false", false},
                                           BoolCase{"yes", false}, BoolCase{"1", false},
                                           BoolCase{"", false}));

TEST_F(SettingsTest, Defaults_EmptyFile_BuiltInValues)
{
    auto settings = settingsWith("");
    EXPECT_FALSE(settings->ReadWindowsServerMode());
    EXPECT_EQ(settings->ReadPort(), 8630);
    EXPECT_EQ(settings->ReadMinThreads(), 1);
    EXPECT_EQ(settings->ReadMaxThreads(), 10);
    EXPECT_EQ(settings->ReadCleanupInterval(), 5000);
    EXPECT_EQ(settings->ReadReadTimeout(), 10000);
    EXPECT_EQ(settings->ReadMaxRequestSize(), 16000);
    EXPECT_EQ(settings->ReadMaxMultiPartSize(), 1000000);
    EXPECT_EQ(settings->ReadLogLevel(), 2);
    EXPECT_EQ(settings->ReadMaxSize(), 5242880);
    EXPECT_EQ(settings->ReadTimeoutInterval(), 12000);
    EXPECT_TRUE(settings->ReadEnableCORS());
    EXPECT_EQ(settings->ReadSessionExpirationTime(), 3600000);
    EXPECT_EQ(settings->ReadSessionCookieName(), "sessionid");
    EXPECT_EQ(settings->ReadSessionCookiePath(), "");
    EXPECT_EQ(settings->ReadDllDirPaths(), QStringList{prefix() + "dlls"});
    const auto files = settings->ReadSslCertificateCertAndKeyFiles();
    EXPECT_EQ(files.first, prefix() + "./certs/VYR-cert-server.pem");
    EXPECT_EQ(files.second, prefix() + "./certs/VYR-key-server.pem");
}

TEST_F(SettingsTest, Numbers_NotANumber_Zero)
{
    auto settings = settingsWith("[listener]\nport=abc\nmaxThreads=12x\n[logging]\nmaxSize=6000000000\n");
    EXPECT_EQ(settings->ReadPort(), 0);
    EXPECT_EQ(settings->ReadMaxThreads(), 0);
    EXPECT_EQ(settings->ReadMaxSize(), Q_INT64_C(6000000000));
}

TEST_F(SettingsTest, Paths_ListAndAbsolute_AllPrefixedWithApplicationDirectory)
{
    auto settings = settingsWith("[dllLoader]\ndirPath=first, second\n"
                                 "[sslCertificate]\ncertFile=/etc/abs.pem\nkeyFile=k.pem\n");
    EXPECT_EQ(settings->ReadDllDirPaths(), (QStringList{prefix() + "first", prefix() + "second"}));
    const auto files = settings->ReadSslCertificateCertAndKeyFiles();
    EXPECT_EQ(files.first, prefix() + "/etc/abs.pem");
    EXPECT_EQ(files.second, prefix() + "k.pem");
}

TEST_F(SettingsTest, ReadVariant_MissingKey_DefaultReturned)
{
    auto settings = settingsWith("[a]\nb=c\n");
    EXPECT_EQ(settings->ReadVariant("a", "b", "d").toString(), "c");
    EXPECT_EQ(settings->ReadVariant("a", "missing", "d").toString(), "d");
    EXPECT_EQ(settings->settingsFilePath(),
              QDir(m_oDirectory.path()).absoluteFilePath("VeltraneCryptoProvider.ini"));
}

TEST_F(SettingsTest, Ciphers_FixedList_OnlyKnownCiphersInOrder)
{
    auto settings = settingsWith("");
    const QList<QSslCipher> ciphers = settings->ReadSslEnabledCiphersList();
    ASSERT_FALSE(ciphers.isEmpty());
    EXPECT_EQ(ciphers.first().name(), "ECDHE-RSA-AES256-GCM-SHA384");
    QStringList names;
    for (const QSslCipher &cipher : ciphers)
        names.append(cipher.name());
    const QStringList fixed = QString::fromLatin1(CSettings::kCiphersString).split(':');
    for (const QString &name : names)
        EXPECT_TRUE(fixed.contains(name)) << name.toStdString();
}

} // namespace
