#include "settings/CSettings.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <utility>

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

TEST_F(SettingsTest, Booleans_Text_TrueOnlyForTrueInAnyCase)
{
    const std::pair<QByteArray, bool> cases[] = {{"true", true},   {"TRUE", true}, {"True", true},
                                                 {"false", false}, {"yes", false}, {"1", false},
                                                 {"", false}};
    for (const auto &[value, expected] : cases) {
        auto settings = settingsWith("[listener]\nwindowsServerMode=" + value +
                                     "\n[settings]\nenableCORS=" + value + "\n");
        EXPECT_EQ(settings->ReadWindowsServerMode(), expected) << value.constData();
        EXPECT_EQ(settings->ReadEnableCORS(), expected) << value.constData();
    }
}

TEST_F(SettingsTest, Values_NumbersAndPaths_NoNumberIsZeroEveryPathPrefixed)
{
    auto settings = settingsWith("[listener]\nport=abc\nmaxThreads=12x\n[logging]\nmaxSize=6000000000\n"
                                 "[dllLoader]\ndirPath=first, second\n"
                                 "[sslCertificate]\ncertFile=/etc/abs.pem\nkeyFile=k.pem\n");
    EXPECT_EQ(settings->ReadPort(), 0);
    EXPECT_EQ(settings->ReadMaxThreads(), 0);
    EXPECT_EQ(settings->ReadMaxSize(), Q_INT64_C(6000000000));
    EXPECT_EQ(settings->ReadDllDirPaths(), (QStringList{prefix() + "first", prefix() + "second"}));
    const auto files = settings->ReadSslCertificateCertAndKeyFiles();
    EXPECT_EQ(files.first, prefix() + "/etc/abs.pem");
    EXPECT_EQ(files.second, prefix() + "k.pem");
}

} // namespace
