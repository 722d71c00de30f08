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

// Access-Control-Allow-Origin of the policy's answer to an OPTIONS request.
QByteArray allowOrigin(const CORSSettings &policy, const QByteArray &path,
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
    return response.headers().value("Access-Control-Allow-Origin");
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
const QByteArray kIntruder = "https://intruder.example";   // in the exports of modules that must not count
const QByteArray kVariant = "https://variant.example.com"; // in variant/qt6/brevalo's export only
const QByteArray kTessaroma = "https://tessaroma.example.org";  // in own/tessaroma's export only
const QByteArray kQuintaraCom = "https://quintara.example.com"; // in quintara's table row
const QByteArray kQuintaraOrg = "https://quintara.example.org"; // in quintara's table row
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

// The fixed Access-Control headers of every answer are asserted whole by the end-to-end preflight case.
const PreflightCase kPreflightCases[] = {
    // The table alone, when no module directory has the library.
    {"TableModule_ListedOrigin_Echoed", {}, "/brevalo/Sign", kBank, kEcho},
    {"TableModule_PrefixOfListedOrigin_Null", {}, "/brevalo/Sign", "https://bank.example.ne", kNull},
    {"TableModule_TwoOriginsInOneHeader_Null", {}, "/brevalo/Sign", kBank + "," + kEvil, kNull},
    {"TrailingSlashEntry_OriginWithoutSlash_Echoed", {}, "/tessaroma/Sign", "https://192.0.2.10", kEcho},
    // A module's own answer replaces its table row; the first library that loads decides.
    {"OwnExport_OriginOnlyInTable_Null", {"own"}, "/brevalo/Sign", kBank, kNull},
    {"Qt6Variant_PreferredOverPlainBuild", {"variant"}, "/brevalo/Sign", kVariant, kEcho},
    {"FirstLibraryWithoutExport_TableUsed", {"plain", "own"}, "/tessaroma/Sign", kTessaroma, kNull},
    // Files that do not verify or load, and exports that throw, count as absent.
    {"UnsignedModule_ItsOriginsIgnored", {"unsigned"}, "/quintara/Sign", kIntruder, kNull},
    {"UnsignedModule_TableOriginEchoed", {"unsigned"}, "/quintara/Sign", kQuintaraCom, kEcho},
    {"TamperedModule_ItsOriginsIgnored", {"tampered"}, "/brevalo/Sign", kIntruder, kNull},
    {"TamperedModule_NextDirectoryUsed", {"tampered", "own"}, "/brevalo/Sign", kOwn, kEcho},
    {"ThrowingExport_TableUsed", {"throwing"}, "/brevalo/Sign", kBank, kEcho},
    {"SignedFileThatDoesNotLoad_TableUsed", {"broken"}, "/quintara/Sign", kQuintaraOrg, kEcho},
    // The exempt commands answer any origin, and only as spelt.
    {"ServerVersion_ForeignOrigin_Echoed", {}, "/SERVER_VERSION", kEvil, kEcho},
    {"AliveOfTableModule_UnlistedOrigin_Echoed", {}, "/brevalo/ALIVE", kEvil, kEcho},
    {"ExemptionIsCaseSensitive_alive_Null", {}, "/brevalo/alive", kEvil, kNull},
    {"CorsSwitchedOff_UnlistedOriginEchoed", {"own"}, "/brevalo/Sign", kEvil, kEcho, false},
    // Hostile origins: within the request limits they reach the policy; only visible ASCII is echoed.
    {"LongOrigin_OutsideTable_EchoedWhole", {}, "/hash/Digest", kLongOrigin, kEcho},
    {"OriginWithCarriageReturn_NeverEchoed", {}, "/hash/Digest", "https://a.example\rSet-Cookie: x=1", kNull},
    {"OriginWithNul_NeverEchoed", {}, "/SERVER_VERSION", QByteArray("https://a.example") + '\0' + "x", kNull},
    {"OriginWithInnerSpace_NeverEchoed", {}, "/hash/Digest", "https://a.example evil", kNull, false},
};

TEST_P(CORSPreflightTest, Preflight_Case_AllowOrigin)
{
    const PreflightCase &c = GetParam();
    EXPECT_EQ(allowOrigin(policyOver(c.directories, c.enableCORS), c.path, c.origin),
              c.echoed ? c.origin.value_or("") : QByteArray("null"));
}

INSTANTIATE_TEST_SUITE_P(Table, CORSPreflightTest, ::testing::ValuesIn(kPreflightCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CORSSettingsTest, Preflight_LibraryHeldElsewhere_StaysLoaded)
{
    const QString tessaroma = moduleDir(QStringLiteral("own/tessaroma.so"));
    QLibrary holder(tessaroma);
    ASSERT_TRUE(holder.load());
    allowOrigin(policyOver({"own"}), "/tessaroma/Sign", kTessaroma);
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
