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

} // namespace
