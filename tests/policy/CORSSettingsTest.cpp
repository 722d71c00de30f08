#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogChannels.h"
#include "policy/CORSSettings.h"
#include "settings/CSettings.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

// Module directories under VYR_POLICY_MODULE_DIR (see CMakeLists.txt):
//   own/       brevalo (GetAllowedOrigins: own.example.com, second.example.com/ and an empty
//              piece), tessaroma (GetAllowedOrigins: tessaroma.example.org)
//   plain/     tessaroma without GetAllowedOrigins
//   unsigned/  quintara with GetAllowedOrigins, no signature
//   tampered/  brevalo with GetAllowedOrigins, signed and then changed
//   throwing/  brevalo whose GetAllowedOrigins throws
//   broken/    quintara.so: a signed file that is no shared object
//   variant/   brevalo without the export; variant/qt6/brevalo with it
namespace {
QString moduleDir(const QString &name)
{
    return QStringLiteral(VYR_POLICY_MODULE_DIR "/") + name;
}

QStringList moduleDirs(const QStringList &names)
{
    QStringList directories;
    for (const QString &name : names)
        directories.append(moduleDir(name));
    return directories;
}

CORSSettings policyOver(const QStringList &directoryNames, bool enableCORS = true)
{
    const QStringList directories = moduleDirs(directoryNames);
    return CORSSettings(CORSSettings::Source{[enableCORS] { return enableCORS; }, [directories] { return directories; }});
}

std::unique_ptr<HttpRequest> parsedRequest(const QByteArray &path, const std::optional<QByteArray> &origin)
{
    QByteArray bytes = "OPTIONS " + path + " HTTP/1.1\r\nHost: 127.0.0.1:8631\r\n";
    if (origin)
        bytes += "Origin: " + *origin + "\r\n";
    bytes += "Access-Control-Request-Method: POST\r\n\r\n";
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    auto request = std::make_unique<HttpRequest>(HttpRequest::kDefaultMaxRequestSize,
                                                 HttpRequest::kDefaultMaxMultiPartSize);
    request->receive(device);
    return request;
}

// The Access-Control headers the policy set on a fresh response.
QMap<QByteArray, QByteArray> preflightHeaders(const CORSSettings &policy, const QByteArray &path,
                                              const std::optional<QByteArray> &origin)
{
    const std::unique_ptr<HttpRequest> request = parsedRequest(path, origin);
    EXPECT_EQ(request->status(), HttpRequest::Complete);
    QBuffer connection;
    connection.open(QIODevice::WriteOnly);
    HttpResponse response(&connection);
    policy.setCORSHeaders(*request, response);
    return response.headers();
}

bool isMapped(const QString &libraryFile)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(QFile::encodeName(libraryFile));
}

class CORSSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_poSink = std::make_shared<CapturingSink>();
        serverLogChannel().initializeWithSinks(0, 0, QString(), {m_poSink});
        moduleToolsLogChannel().initializeWithSinks(0, 0, QString(), {m_poSink});
    }
    void TearDown() override
    {
        serverLogChannel().reset();
        moduleToolsLogChannel().reset();
    }

    bool logged(const QString &fragment) const { return !m_poSink->lines().filter(fragment).isEmpty(); }

    std::shared_ptr<CapturingSink> m_poSink;
};

struct PreflightCase
{
    const char *name;
    QStringList directories;
    QByteArray path;
    std::optional<QByteArray> origin;
    bool enableCORS;
    QByteArray expectedOrigin;
    QString expectedLog; // a fragment that must be logged; empty: none checked
};

void PrintTo(const PreflightCase &preflight, std::ostream *out)
{
    *out << preflight.name;
}

class CORSPreflightTest : public CORSSettingsTest, public ::testing::WithParamInterface<PreflightCase>
{
};

const QString kRefused = QStringLiteral("Origin not allowed due to CORS policy");
const QString kNoExport = QStringLiteral("does not exist or support GetAllowedOrigins");
const QByteArray kLongOrigin = "https://" + QByteArray(232, 'a') + ".example"; // 248 bytes

const PreflightCase kPreflightCases[] = {
    // The table alone, when no module directory has the library.
    {"TableModule_ListedOrigin_Echoed", {}, "/brevalo/Sign", "https://bank.example.net", true,
     "https://bank.example.net", QStringLiteral("Module brevalo ") + kNoExport},
    {"TableModule_UnlistedOrigin_Null", {}, "/brevalo/Sign", "https://evil.example", true, "null", kRefused},
    {"TableModule_PrefixOfListedOrigin_Null", {}, "/brevalo/Sign", "https://bank.example.ne", true, "null", kRefused},
    {"TableModule_TwoOriginsInOneHeader_Null", {}, "/brevalo/Sign",
     "https://bank.example.net,https://evil.example", true, "null", kRefused},
    {"TrailingSlashEntry_OriginWithoutSlash_Echoed", {}, "/tessaroma/Sign", "https://192.0.2.10", true,
     "https://192.0.2.10", {}},
    {"EntryWithoutSlash_OriginWithSlash_Null", {}, "/tessaroma/Sign", "https://sign.example.com/", true, "null",
     kRefused},
    {"TableEntryWithPort_SamePort_Echoed", {}, "/quintara/Sign", "https://signer.example.net:5231", true,
     "https://signer.example.net:5231", {}},
    {"TableEntryWithPort_OtherPort_Null", {}, "/quintara/Sign", "https://signer.example.net:5232", true, "null",
     kRefused},
    // A module's own answer replaces its table row.
    {"OwnExport_ListedOrigin_Echoed", {"own"}, "/brevalo/Sign", "https://own.example.com", true,
     "https://own.example.com", QStringLiteral("Allowed origins: https://own.example.com,")},
    {"OwnExport_TrailingSlashEntry_Echoed", {"own"}, "/brevalo/Sign", "https://second.example.com", true,
     "https://second.example.com", {}},
    {"OwnExport_OriginOnlyInTable_Null", {"own"}, "/brevalo/Sign", "https://bank.example.net", true, "null",
     kRefused},
    {"OwnExport_SecondDirectory_Found", {"missing", "own"}, "/brevalo/Sign", "https://own.example.com", true,
     "https://own.example.com", {}},
    {"Qt6Variant_PreferredOverPlainBuild", {"variant"}, "/brevalo/Sign", "https://variant.example.com", true,
     "https://variant.example.com", QStringLiteral("Using qt6 variant")},
    // The first library that loads decides, even without the export.
    {"FirstLibraryWithoutExport_TableUsed", {"plain", "own"}, "/tessaroma/Sign", "https://tessaroma.example.org",
     true, "null", QStringLiteral("Module tessaroma ") + kNoExport},
    {"FirstLibraryWithoutExport_TableOriginEchoed", {"plain", "own"}, "/tessaroma/Sign", "https://sign.example.com",
     true, "https://sign.example.com", {}},
    // Files that do not verify or load count as absent.
    {"UnsignedModule_ItsOriginsIgnored", {"unsigned"}, "/quintara/Sign", "https://intruder.example", true, "null",
     QStringLiteral("the module file is not verified")},
    {"UnsignedModule_TableOriginEchoed", {"unsigned"}, "/quintara/Sign", "https://quintara.example.com", true,
     "https://quintara.example.com", QStringLiteral("Module quintara ") + kNoExport},
    {"TamperedModule_ItsOriginsIgnored", {"tampered"}, "/brevalo/Sign", "https://intruder.example", true, "null",
     QStringLiteral("the module file is not verified")},
    {"TamperedModule_NextDirectoryUsed", {"tampered", "own"}, "/brevalo/Sign", "https://own.example.com", true,
     "https://own.example.com", {}},
    {"ThrowingExport_TableUsed", {"throwing"}, "/brevalo/Sign", "https://bank.example.net", true,
     "https://bank.example.net", QStringLiteral("threw; using the table")},
    {"SignedFileThatDoesNotLoad_TableUsed", {"broken"}, "/quintara/Sign", "https://quintara.example.org", true,
     "https://quintara.example.org", QStringLiteral("Cannot load ") + moduleDir("broken/quintara.so")},
    // Modules outside the table and the exempt commands answer any origin.
    {"ModuleOutsideTable_AnyOriginEchoed", {"own"}, "/hash/Digest", "https://anything.example", true,
     "https://anything.example", QStringLiteral("module name: hash")},
    {"ServerVersion_ForeignOrigin_Echoed", {}, "/SERVER_VERSION", "https://evil.example", true,
     "https://evil.example", QStringLiteral("CORS disabled for this request")},
    {"AliveOfTableModule_UnlistedOrigin_Echoed", {}, "/brevalo/ALIVE", "https://evil.example", true,
     "https://evil.example", QStringLiteral("CORS disabled for this request")},
    {"ExemptionIsCaseSensitive_alive_Null", {}, "/brevalo/alive", "https://evil.example", true, "null", kRefused},
    {"NoOrigin_EmptyValue", {"own"}, "/brevalo/Sign", std::nullopt, true, "", {}},
    {"CorsSwitchedOff_UnlistedOriginEchoed", {"own"}, "/brevalo/Sign", "https://evil.example", false,
     "https://evil.example", QStringLiteral("CORS disabled")},
    // Hostile origins: within the request limits they reach the policy.
    {"LongOrigin_OutsideTable_EchoedWhole", {}, "/hash/Digest", kLongOrigin, true, kLongOrigin, {}},
    {"LongOrigin_TableModule_Null", {"own"}, "/brevalo/Sign", kLongOrigin, true, "null", kRefused},
    {"OriginWithCarriageReturn_NeverEchoed", {}, "/hash/Digest", "https://a.example\rSet-Cookie: x=1", true, "null",
     kRefused},
    {"OriginWithNul_NeverEchoed", {}, "/SERVER_VERSION", QByteArray("https://a.example") + '\0' + "x", true, "null",
     kRefused},
    {"OriginWithInnerSpace_NeverEchoed", {}, "/hash/Digest", "https://a.example evil", false, "null", kRefused},
};

TEST_P(CORSPreflightTest, Preflight_Case_AllowOriginAndFixedHeaders)
{
    const PreflightCase &preflight = GetParam();
    const CORSSettings policy = policyOver(preflight.directories, preflight.enableCORS);
    const QMap<QByteArray, QByteArray> headers = preflightHeaders(policy, preflight.path, preflight.origin);

    EXPECT_EQ(headers.value("Access-Control-Allow-Origin"), preflight.expectedOrigin);
    EXPECT_EQ(headers.value("Access-Control-Allow-Methods"), "POST, OPTIONS");
    EXPECT_EQ(headers.value("Access-Control-Max-Age"), "1000");
    EXPECT_EQ(headers.value("Access-Control-Allow-Headers"),
              "Content-Type, Authorization, X-Requested-With, X-VYR-cmdId, X-VYR-sessionId");
    EXPECT_EQ(headers.value("Access-Control-Allow-Credentials"), "true");
    EXPECT_EQ(headers.size(), 5);
    if (!preflight.expectedLog.isEmpty()) {
        EXPECT_TRUE(logged(preflight.expectedLog)) << m_poSink->lines().join('\n').toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CORSPreflightTest, ::testing::ValuesIn(kPreflightCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CORSSettingsTest, ModuleName_Paths_SecondToLastPiece)
{
    const CORSSettings policy = policyOver({});
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"/brevalo/Sign", "brevalo"}, {"/a/brevalo/Sign", "brevalo"}, {"/SERVER_VERSION", ""},
        {"/brevalo/", "brevalo"},     {"//Sign", ""},
    };
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(policy.getModuleName(*parsedRequest(path, std::nullopt)), expected) << path.constData();
}

TEST_F(CORSSettingsTest, OwnExport_EmptyPiecesKept_ListAsAnnounced)
{
    EXPECT_EQ(policyOver({"own"}).getAllowedOriginsForModule("brevalo"),
              (QList<QByteArray>{"https://own.example.com", "https://second.example.com/", ""}));
    EXPECT_EQ(policyOver({}).getAllowedOriginsForModule("hash"), QList<QByteArray>());
}

TEST_F(CORSSettingsTest, Preflight_LibraryLoadedForIt_UnloadedAfterwards)
{
    const QString libraryFile = moduleDir("own/brevalo.so");
    ASSERT_FALSE(isMapped(libraryFile));
    const auto headers = preflightHeaders(policyOver({"own"}), "/brevalo/Sign", QByteArray("https://own.example.com"));
    EXPECT_EQ(headers.value("Access-Control-Allow-Origin"), "https://own.example.com");
    EXPECT_FALSE(isMapped(libraryFile));
}

TEST_F(CORSSettingsTest, Preflight_LibraryHeldElsewhere_StaysLoaded)
{
    const QString libraryFile = moduleDir(QStringLiteral("own/tessaroma.so"));
    QLibrary holder(libraryFile);
    ASSERT_TRUE(holder.load());
    preflightHeaders(policyOver({"own"}), "/tessaroma/Sign", QByteArray("https://tessaroma.example.org"));
    EXPECT_TRUE(isMapped(libraryFile));
    EXPECT_NE(holder.resolve("Which"), nullptr);
    holder.unload();
    EXPECT_FALSE(isMapped(libraryFile));
}

TEST_F(CORSSettingsTest, EnableCorsSwitch_ChangedBetweenPreflights_ReadOnEveryCall)
{
    std::atomic<bool> enabled = false;
    std::atomic<int> reads = 0;
    const CORSSettings policy(CORSSettings::Source{[&] {
                                                       ++reads;
                                                       return enabled.load();
                                                   },
                                                   [] { return QStringList(); }});
    const QByteArray origin = "https://evil.example";
    EXPECT_EQ(preflightHeaders(policy, "/brevalo/Sign", origin).value("Access-Control-Allow-Origin"), origin);
    enabled = true;
    EXPECT_EQ(preflightHeaders(policy, "/brevalo/Sign", origin).value("Access-Control-Allow-Origin"), "null");
    EXPECT_EQ(reads, 2);
}

TEST_F(CORSSettingsTest, SettingsSource_IniSwitchAndModuleDirectory_Honoured)
{
    for (const bool enabled : {false, true}) {
        QTemporaryDir appDir;
        {
            QSettings ini(appDir.filePath(QCoreApplication::applicationName() + QStringLiteral(".ini")),
                          QSettings::IniFormat);
            ini.setValue(QStringLiteral("settings/enableCORS"), enabled);
            // Module directories are read relative to the application directory.
            ini.setValue(QStringLiteral("dllLoader/dirPath"),
                         QDir(appDir.path()).relativeFilePath(moduleDir(QStringLiteral("own"))));
        }
        const CSettings settings(appDir.path());
        const CORSSettings policy(CORSSettings::settingsSource(settings));
        const auto allowOrigin = [&policy](const QByteArray &origin) {
            return preflightHeaders(policy, "/brevalo/Sign", origin).value("Access-Control-Allow-Origin");
        };
        EXPECT_EQ(allowOrigin("https://own.example.com"), "https://own.example.com") << enabled;
        EXPECT_EQ(allowOrigin("https://bank.example.net"), enabled ? "null" : "https://bank.example.net") << enabled;
    }
}

TEST_F(CORSSettingsTest, ConcurrentPreflights_SameModule_EveryAnswerRight)
{
    const CORSSettings policy = policyOver({"own"});
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&policy, &wrong, t] {
            for (int i = 0; i < 25; ++i) {
                const bool listed = (i + t) % 2 == 0;
                const QByteArray origin = listed ? "https://own.example.com" : "https://evil.example";
                const auto headers = preflightHeaders(policy, "/brevalo/Sign", origin);
                if (headers.value("Access-Control-Allow-Origin") != (listed ? origin : QByteArray("null")))
                    ++wrong;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(isMapped(moduleDir(QStringLiteral("own/brevalo.so"))));
}
} // namespace
