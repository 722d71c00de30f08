#include "settings/CSettings.h"
#include "support/Files.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Writes the given INI text beside a fresh application directory and reads it back.
std::unique_ptr<CSettings> settingsWith(const QTemporaryDir &directory, const QByteArray &iniText)
{
    EXPECT_TRUE(writeWholeFile(directory.filePath(QStringLiteral("VeltraneCryptoProvider.ini")), iniText));
    return std::make_unique<CSettings>(directory.path());
}

// Booleans are true only for "true", in any case.
TEST(SettingsTest, Values_BooleansNumbersAndPaths_TrueOnlyForTrueNoNumberIsZeroEveryPathPrefixed)
{
    const QTemporaryDir directory;
    auto settings = settingsWith(directory, "[listener]\nport=abc\nmaxThreads=12x\nwindowsServerMode=TRUE\n"
                                            "[settings]\nenableCORS=yes\n[logging]\nmaxSize=6000000000\n"
                                            "[dllLoader]\ndirPath=first, second\n"
                                            "[sslCertificate]\ncertFile=/etc/abs.pem\nkeyFile=k.pem\n");
    const QString prefix = directory.path() + QDir::separator();
    EXPECT_EQ(settings->ReadPort(), 0);
    EXPECT_EQ(settings->ReadMaxThreads(), 0);
    EXPECT_TRUE(settings->ReadWindowsServerMode());
    EXPECT_FALSE(settings->ReadEnableCORS());
    EXPECT_EQ(settings->ReadMaxSize(), Q_INT64_C(6000000000));
    EXPECT_EQ(settings->ReadDllDirPaths(), (QStringList{prefix + "first", prefix + "second"}));
    EXPECT_EQ(settings->ReadSslCertificateCertAndKeyFiles(),
              std::pair(prefix + "/etc/abs.pem", prefix + "k.pem"));
}

// The shipped template explains each [jobs] key in a comment line of its own; no comment may
// turn into a key or a value.
TEST(SettingsTest, Template_CommentedJobsGroup_OnlyItsKeysWithTheirValues)
{
    const QTemporaryDir directory;
    const auto settings = settingsWith(directory, readWholeFile(QStringLiteral(VYR_INI_TEMPLATE)));
    QSettings ini(settings->settingsFilePath(), QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("jobs"));
    QStringList keys = ini.childKeys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"maxAbandonedThreads", "maxJobsPerSession", "maxResults",
                                 "maxResultsPerSession", "workerThreads"}));
    EXPECT_EQ(ini.value(QStringLiteral("maxResults")).toString(), "4096");
}

} // namespace
