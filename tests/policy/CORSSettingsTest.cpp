#include "policy/CORSSettings.h"

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogChannels.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QFile>
#include <QLibrary>
#include <atomic>
#include <gtest/gtest.h>
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

CORSSettings policyOver(const QStringList &names, bool enableCORS = true)
{
    QStringList directories;
    for (const QString &name : names)
        directories.append(moduleDir(name));
    return CORSSettings(
        CORSSettings::Source{[enableCORS] { return enableCORS; }, [directories] { return directories; }});
}

// The Access-Control headers the policy sets on the answer to an OPTIONS request.
QMap<QByteArray, QByteArray> preflight(const CORSSettings &policy, const QByteArray &path,
                                       const std::optional<QByteArray> &origin)
{
    QByteArray bytes = "OPTIONS " + path + " HTTP/1.1\r\nHost: 127.0.0.1:8631\r\n";
    if (origin)
        bytes += "Origin: " + *origin + "\r\n";
    bytes += "Access-Control-Request-Method: POST\r\n\r\n";
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    HttpRequest request(16000, 1000000);
    request.receive(device);
    EXPECT_EQ(request.status(), HttpRequest::Complete);
    QBuffer connection;
    connection.open(QIODevice::WriteOnly);
    HttpResponse response(&connection);
    policy.setCORSHeaders(request, response);
    return response.headers();
}

QByteArray allowOrigin(const CORSSettings &policy, const QByteArray &path, const QByteArray &origin)
{
    return preflight(policy, path, origin).value("Access-Control-Allow-Origin");
}

bool isMapped(const QString &libraryFile)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(QFile::encodeName(libraryFile));
}

class CORSSettingsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        for (LogChannel *channel : {&serverLogChannel(), &moduleToolsLogChannel()})
            channel->initializeWithSinks(int(LogLevel::Off), 0, QString(), {});
    }
};

const QByteArray kBank = "https://bank.example.net"; // in brevalo's table row
const QByteArray kOwn = "https://own.example.com";   // in own/brevalo's export
const QByteArray kEvil = "https://evil.example";
constexpr bool kEcho = true;
constexpr bool kNull = false;
const QByteArray kLongOrigin = "https://" + QByteArray(232, 'a') + ".example"; // 248 bytes

struct PreflightCase
{
    const char *name;
    QStringList directories;
    QByteArray path;
    std::optional<QByteArray> origin;
    bool echoed; // Access-Control-Allow-Origin names the origin (none: empty), else "null"
    bool enableCORS = true;
};

void PrintTo(const PreflightCase &c, std::ostream *out)
{
    *out << c.name;
}

class CORSPreflightTest : public CORSSettingsTest, public ::testing::WithParamInterface<PreflightCase>
{
};

const PreflightCase kPreflightCases[] = {
    // The table alone, when no module directory has the library.
    {"TableModule_ListedOrigin_Echoed", {}, "/brevalo/Sign", kBank, kEcho},
    {"TableModule_UnlistedOrigin_Null", {}, "/brevalo/Sign", kEvil, kNull},
    {"TableModule_PrefixOfListedOrigin_Null", {}, "/brevalo/Sign", "https://bank.example.ne", kNull},
    {"TableModule_TwoOriginsInOneHeader_Null", {}, "/brevalo/Sign", kBank + "," + kEvil, kNull},
    {"TrailingSlashEntry_OriginWithoutSlash_Echoed", {}, "/tessaroma/Sign", "https://192.0.2.10", kEcho},
    // A module's own answer replaces its table row; the first library that loads decides.
    {"OwnExport_ListedOrigin_Echoed", {"own"}, "/brevalo/Sign", kOwn, kEcho},
    {"OwnExport_OriginOnlyInTable_Null", {"own"}, "/brevalo/Sign", kBank, kNull},
    {"Qt6Variant_PreferredOverPlainBuild",
     {"variant"},
     "/brevalo/Sign",
     "https://variant.example.com",
     kEcho},
    {"FirstLibraryWithoutExport_TableUsed",
     {"plain", "own"},
     "/tessaroma/Sign",
     "https://tessaroma.example.org",
     kNull},
    // Files that do not verify or load, and exports that throw, count as absent.
    {"UnsignedModule_ItsOriginsIgnored", {"unsigned"}, "/quintara/Sign", "https://intruder.example", kNull},
    {"UnsignedModule_TableOriginEchoed",
     {"unsigned"},
     "/quintara/Sign",
     "https://quintara.example.com",
     kEcho},
    {"TamperedModule_ItsOriginsIgnored", {"tampered"}, "/brevalo/Sign", "https://intruder.example", kNull},
    {"TamperedModule_NextDirectoryUsed", {"tampered", "own"}, "/brevalo/Sign", kOwn, kEcho},
    {"ThrowingExport_TableUsed", {"throwing"}, "/brevalo/Sign", kBank, kEcho},
    {"SignedFileThatDoesNotLoad_TableUsed",
     {"broken"},
     "/quintara/Sign",
     "https://quintara.example.org",
     kEcho},
    // Modules outside the table and the exempt commands answer any origin.
    {"ModuleOutsideTable_AnyOriginEchoed", {"own"}, "/hash/Digest", kEvil, kEcho},
    {"ServerVersion_ForeignOrigin_Echoed", {}, "/SERVER_VERSION", kEvil, kEcho},
    {"AliveOfTableModule_UnlistedOrigin_Echoed", {}, "/brevalo/ALIVE", kEvil, kEcho},
    {"ExemptionIsCaseSensitive_alive_Null", {}, "/brevalo/alive", kEvil, kNull},
    {"NoOrigin_EmptyValue", {"own"}, "/brevalo/Sign", std::nullopt, kEcho},
    {"CorsSwitchedOff_UnlistedOriginEchoed", {"own"}, "/brevalo/Sign", kEvil, kEcho, false},
    // Hostile origins: within the request limits they reach the policy; only visible ASCII is echoed.
    {"LongOrigin_OutsideTable_EchoedWhole", {}, "/hash/Digest", kLongOrigin, kEcho},
    {"OriginWithCarriageReturn_NeverEchoed", {}, "/hash/Digest", "https://a.example\rSet-Cookie: x=1", kNull},
    {"OriginWithNul_NeverEchoed", {}, "/SERVER_VERSION", QByteArray("https://a.example") + '\0' + "x", kNull},
    {"OriginWithInnerSpace_NeverEchoed", {}, "/hash/Digest", "https://a.example evil", kNull, false},
};

TEST_P(CORSPreflightTest, Preflight_Case_AllowOriginAndFixedHeaders)
{
    const PreflightCase &c = GetParam();
    const QMap<QByteArray, QByteArray> headers =
        preflight(policyOver(c.directories, c.enableCORS), c.path, c.origin);
    EXPECT_EQ(headers.value("Access-Control-Allow-Origin"),
              c.echoed ? c.origin.value_or("") : QByteArray("null"));
    EXPECT_EQ(headers.value("Access-Control-Allow-Methods"), "POST, OPTIONS");
    EXPECT_EQ(headers.value("Access-Control-Max-Age"), "1000");
    EXPECT_EQ(headers.value("Access-Control-Allow-Headers"),
              "Content-Type, Authorization, X-Requested-With, X-VYR-cmdId, X-VYR-sessionId");
    EXPECT_EQ(headers.value("Access-Control-Allow-Credentials"), "true");
    EXPECT_EQ(headers.size(), 5);
}

INSTANTIATE_TEST_SUITE_P(Table, CORSPreflightTest, ::testing::ValuesIn(kPreflightCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CORSSettingsTest, Preflight_LibraryHeldElsewhere_StaysLoaded)
{
    const QString tessaroma = moduleDir(QStringLiteral("own/tessaroma.so"));
    QLibrary holder(tessaroma);
    ASSERT_TRUE(holder.load());
    allowOrigin(policyOver({"own"}), "/tessaroma/Sign", "https://tessaroma.example.org");
    EXPECT_TRUE(isMapped(tessaroma));
    EXPECT_NE(holder.resolve("Which"), nullptr);
    holder.unload();
    EXPECT_FALSE(isMapped(tessaroma));
}

// Each preflight loads the module library for itself and unloads it again.
TEST_F(CORSSettingsTest, ConcurrentPreflights_SameModule_EveryAnswerRightAndLibraryUnloaded)
{
    const CORSSettings policy = policyOver({"own"});
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&policy, &wrong] {
            for (int i = 0; i < 25; ++i) {
                const bool listed = i % 2 == 0;
                if (allowOrigin(policy, "/brevalo/Sign", listed ? kOwn : kEvil) !=
                    (listed ? kOwn : QByteArray("null")))
                    ++wrong;
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(isMapped(moduleDir(QStringLiteral("own/brevalo.so"))));
}
} // namespace
