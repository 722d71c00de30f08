#include "policy/CORSSettings.h"

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "policy/RequestTarget.h"
#include "support/QtPrinters.h"
#include "support/SilentLogChannels.h"

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

::testing::Environment *const g_pSilentChannels =
    ::testing::AddGlobalTestEnvironment(new SilentLogChannels({&serverLogChannel, &moduleToolsLogChannel}));

const QByteArray kBank = "https://bank.example.net"; // in brevalo's table row
const QByteArray kOwn = "https://own.example.com";   // in own/brevalo's export
const QByteArray kEvil = "https://evil.example";
const QByteArray kIntruder = "https://intruder.example"; // in the exports of modules that must not count

// The fixed Access-Control headers of every answer, and the exempt commands, are asserted by the
// request path and origin tests.
TEST(CORSSettingsTest, Preflight_Cases_AllowOriginEchoedOrNull)
{
    const struct
    {
        QStringList directories;
        QByteArray path;
        std::optional<QByteArray> origin;
        bool echoed; // Access-Control-Allow-Origin names the origin (none: empty), else "null"
        bool enableCORS = true;
    } cases[] = {
        // The table alone, when no module directory has the library.
        {{}, "/brevalo/Sign", kBank, true},
        {{}, "/brevalo/Sign", "https://bank.example.ne", false},
        {{}, "/brevalo/Sign", kBank + "," + kEvil, false},
        {{}, "/tessaroma/Sign", "https://192.0.2.10", true}, // listed with a trailing slash
        // A module's own answer replaces its table row; the first library that loads decides.
        {{"own"}, "/brevalo/Sign", kBank, false},
        {{"variant"}, "/brevalo/Sign", "https://variant.example.com", true}, // its Qt 6 build's export
        {{"plain", "own"}, "/tessaroma/Sign", "https://tessaroma.example.org", false},
        // Files that do not verify or load, and exports that throw, count as absent.
        {{"unsigned"}, "/quintara/Sign", kIntruder, false},
        {{"unsigned"}, "/quintara/Sign", "https://quintara.example.com", true},
        {{"tampered"}, "/brevalo/Sign", kIntruder, false},
        {{"tampered", "own"}, "/brevalo/Sign", kOwn, true},
        {{"throwing"}, "/brevalo/Sign", kBank, true},
        {{"broken"}, "/quintara/Sign", "https://quintara.example.org", true},
        {{}, "/brevalo/alive", kEvil, false}, // the exemption is case-sensitive
        {{"own"}, "/brevalo/Sign", kEvil, true, false},
        // Hostile origins: within the request limits they reach the policy; only visible ASCII is echoed.
        {{}, "/hash/Digest", "https://" + QByteArray(232, 'a') + ".example", true},
        {{}, "/hash/Digest", "https://a.example\rSet-Cookie: x=1", false},
        {{}, "/SERVER_VERSION", QByteArray("https://a.example") + '\0' + "x", false},
        {{}, "/hash/Digest", "https://a.example evil", false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.directories.join(',').toStdString() + c.path.toStdString() + ' ' +
                     c.origin.value_or("-").left(40).toStdString());
        EXPECT_EQ(allowOrigin(policyOver(c.directories, c.enableCORS), c.path, c.origin),
                  c.echoed ? c.origin.value_or("") : QByteArray("null"));
    }
}

TEST(CORSSettingsTest, Preflight_LibraryHeldElsewhere_StaysLoaded)
{
    const QString tessaroma = moduleDir(QStringLiteral("own/tessaroma.so"));
    QLibrary holder(tessaroma);
    ASSERT_TRUE(holder.load());
    allowOrigin(policyOver({"own"}), "/tessaroma/Sign", kEvil);
    EXPECT_TRUE(isMapped(tessaroma));
    EXPECT_NE(holder.resolve("Which"), nullptr);
    holder.unload();
    EXPECT_FALSE(isMapped(tessaroma));
}

// Each preflight loads the module library for itself and unloads it again.
TEST(CORSSettingsTest, ConcurrentPreflights_SameModule_EveryAnswerRightAndLibraryUnloaded)
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

// The usual path forms are asserted over the wire by the origin and request path tests.
TEST(RequestTarget, PathForms_ModuleAndCommandAsTheControllerReadsThem)
{
    const char *const cases[][4] = {
        // path, cmd parameter, module, command
        {"/", "OPEN_SESSION", "", "OPEN_SESSION"},
        {"/mod/CMD/more/segments", "", "mod", "CMD"},
        {"/mod/CMD", "OTHER", "mod", "CMD"},
        {"/../etc/CMD", "", RequestTarget::kClimbingModuleReplacement, "etc"},
        {"/a..b/CMD", "", RequestTarget::kClimbingModuleReplacement, "CMD"},
    };
    for (const auto &[path, cmd, module, command] : cases) {
        const RequestTarget target = RequestTarget::of(path, cmd);
        EXPECT_EQ(target.module + ' ' + target.command, QByteArray(module) + ' ' + command) << path;
    }
}
} // namespace
