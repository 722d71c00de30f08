#include "FakeProcessUtils.h"
#include "ModuleTestSupport.h"
#include "common/BaseException.h"
#include "modules/DllModule.h"
#include "support/QtPrinters.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <thread>

namespace {

// Each test starts with an empty event log and PATH, and a fresh trace file for Init and
// DeInit of the echo modules.
class DllModuleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeProcessUtils::reset();
        qputenv("VYR_TEST_MODULE_TRACE", tracePath().toLocal8Bit());
    }
    void TearDown() override
    {
        qunsetenv("VYR_TEST_MODULE_TRACE");
        runDeferredDeletes();
    }
    QString tracePath() const { return m_oDirectory.filePath(QStringLiteral("trace.txt")); }
    QStringList trace() const
    {
        return QString::fromUtf8(readWholeFile(tracePath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    static QByteArray call(tpfun function, const QByteArray &data = "x")
    {
        return function(tRequestMap{{"data", data}}, tSessionParamsMap());
    }

    QTemporaryDir m_oDirectory;
    LogCapture m_oLog;
};

TEST_F(DllModuleTest, Load_GoodModule_VerifiedInitialisedAndUnloaded)
{
    DllModule module("Mod1", false);
    ASSERT_TRUE(module.load(testModulePath(QStringLiteral("Mod1"))));
    EXPECT_TRUE(module.isLoaded());
    EXPECT_TRUE(m_oLog.contains("Module Mod1 verified."));
    EXPECT_TRUE(m_oLog.contains("Xml file for module Mod1 loaded."));
    EXPECT_TRUE(m_oLog.contains("Module lib doesn't have any additional libs"));
    EXPECT_EQ(trace(), QStringList{"Mod1 Init main"});
    EXPECT_TRUE(FakeProcessUtils::record().eventLog.isEmpty());

    EXPECT_TRUE(module.unload());
    EXPECT_FALSE(module.isLoaded());
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init main", "Mod1 DeInit main"}));
    EXPECT_TRUE(m_oLog.contains("Module Mod1 unloaded"));
    EXPECT_FALSE(module.unload());
    EXPECT_TRUE(m_oLog.contains("Module Mod1 not loaded!"));
}

struct Resolution
{
    const char *module;
    const char *command;
    bool valid;
    std::optional<QByteArray> result; // nothing: the command cannot be resolved
};

class DllModuleResolutionTest : public DllModuleTest, public ::testing::WithParamInterface<Resolution>
{
};

TEST_P(DllModuleResolutionTest, GetFunction_CommandFileOrNone_ValidityAndExport)
{
    DllModule module(GetParam().module, false);
    ASSERT_TRUE(module.load(testModulePath(QString::fromLatin1(GetParam().module))));
    EXPECT_EQ(module.isCommandValid(QString::fromLatin1(GetParam().command)), GetParam().valid);
    const tpfun function = module.getFunction(QString::fromLatin1(GetParam().command));
    EXPECT_EQ(function != nullptr, GetParam().result.has_value());
    if (function && GetParam().result) {
        EXPECT_EQ(call(function), *GetParam().result);
    }
    if (!function) {
        EXPECT_TRUE(m_oLog.contains("Problem with resolving function"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DllModuleResolutionTest,
    ::testing::Values(Resolution{"Mod1", "Cmd1", true, "x"}, Resolution{"Mod1", "Echo", true, "echo:x"},
                      Resolution{"Mod1", "Which", true, "Mod1"}, Resolution{"Mod1", "Missing", true, std::nullopt},
                      Resolution{"Mod1", "NoMethod", true, std::nullopt},
                      Resolution{"Mod1", "Hidden", false, std::nullopt},
                      Resolution{"Mod1", "EchoImpl", false, std::nullopt},
                      Resolution{"Mod1", "cmd1", false, std::nullopt}, Resolution{"NoXml", "Cmd1", true, "x"},
                      Resolution{"NoXml", "Hidden", true, "hidden"}, Resolution{"NoXml", "EchoImpl", true, "echo:x"},
                      Resolution{"NoXml", "Echo", true, std::nullopt}, Resolution{"NoXml", "Which", true, "NoXml"}),
    [](const auto &info) { return std::string(info.param.module) + "_" + info.param.command; });

TEST_F(DllModuleTest, GetRequestParams_CommandFileOrNone_NewestFirstOrEmpty)
{
    DllModule withFile("Mod1", false);
    ASSERT_TRUE(withFile.load(testModulePath(QStringLiteral("Mod1"))));
    EXPECT_EQ(withFile.getRequestParams(QStringLiteral("Echo")), (QStringList{"second", "first"}));
    EXPECT_EQ(withFile.getRequestParams(QStringLiteral("Cmd1")), QStringList{"data"});
    EXPECT_TRUE(withFile.getRequestParams(QStringLiteral("Which")).isEmpty());
    EXPECT_FALSE(withFile.isCommandValid(QStringLiteral("Hidden")));
    EXPECT_TRUE(m_oLog.contains(R"(Command "Hidden" in module "Mod1" not found.)"));

    DllModule withoutFile("NoXml", false);
    ASSERT_TRUE(withoutFile.load(testModulePath(QStringLiteral("NoXml"))));
    EXPECT_TRUE(withoutFile.getRequestParams(QStringLiteral("Cmd1")).isEmpty());
    EXPECT_TRUE(m_oLog.contains("Module NoXml loaded without Xml file."));
}

struct Queries
{
    const char *module;
    const char *command;
    bool gui;
    bool unprivileged;
    bool terminalServices;
};

class DllModuleQueryTest : public DllModuleTest, public ::testing::WithParamInterface<Queries>
{
};

TEST_P(DllModuleQueryTest, QueryExports_PresentMissingOrThrowing_AnswerOrDefault)
{
    DllModule module(GetParam().module, false);
    ASSERT_TRUE(module.load(testModulePath(QString::fromLatin1(GetParam().module))));
    const tpfun function = module.getFunction(QString::fromLatin1(GetParam().command));
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(module.isGuiFunction(function), GetParam().gui);
    EXPECT_EQ(module.canUnprivilegedRun(function), GetParam().unprivileged);
    EXPECT_EQ(module.canUseOnTerminalServices(), GetParam().terminalServices);
    EXPECT_EQ(module.getCallsInProgress(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, DllModuleQueryTest,
                         ::testing::Values(Queries{"Mod1", "Cmd1", false, false, true},
                                           Queries{"NoQueries", "Cmd1", true, false, false},
                                           Queries{"Unprivileged", "Open", false, true, true},
                                           Queries{"Unprivileged", "Closed", false, false, true},
                                           Queries{"Throwing", "ThrowStd", true, false, true},
                                           Queries{"Gui", "ShowWindow", true, false, true}),
                         [](const auto &info) { return std::string(info.param.module) + "_" + info.param.command; });

TEST_F(DllModuleTest, Load_WindowsServerMode_OnlyModulesForTerminalServices)
{
    DllModule refused("NoQueries", true);
    EXPECT_FALSE(refused.load(testModulePath(QStringLiteral("NoQueries"))));
    // Refused after loading: the library stays until the object goes.
    EXPECT_TRUE(refused.isLoaded());

    DllModule accepted("Mod1", true);
    EXPECT_TRUE(accepted.load(testModulePath(QStringLiteral("Mod1"))));
}

struct Refusal
{
    const char *module;
    const char *logged;
    bool eventLogged;
};

class DllModuleRefusalTest : public DllModuleTest, public ::testing::WithParamInterface<Refusal>
{
};

TEST_P(DllModuleRefusalTest, Load_BadModule_RefusedWithoutLibrary)
{
    DllModule module(GetParam().module, false);
    const QString path = testModulePath(QString::fromLatin1(GetParam().module));
    EXPECT_FALSE(module.load(path));
    EXPECT_FALSE(module.isLoaded());
    QString logged = QString::fromLatin1(GetParam().logged);
    logged.replace(QStringLiteral("%1"), path + ".so");
    EXPECT_TRUE(m_oLog.contains(logged))
        << m_oLog.lines().join('\n').toStdString();
    const auto eventLog = FakeProcessUtils::record().eventLog;
    if (GetParam().eventLogged) {
        ASSERT_EQ(eventLog.size(), 1);
        EXPECT_EQ(eventLog.first().first, QCoreApplication::applicationName());
        EXPECT_EQ(eventLog.first().second, "File " + path + ".so is not verified module file!!!");
        EXPECT_TRUE(m_oLog.contains("DllModule::isLibrarySigned: Verification error"));
    } else {
        EXPECT_TRUE(eventLog.isEmpty());
    }
    EXPECT_TRUE(trace().isEmpty()) << "no code of a refused module may run";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DllModuleRefusalTest,
    ::testing::Values(Refusal{"Unsigned", "File %1 is not verified module file!!!", true},
                      Refusal{"Tampered", "File %1 is not verified module file!!!", true},
                      Refusal{"BadXml", "Error when parsing xml file for module BadXml", false},
                      Refusal{"Absent", "File %1 not found!", false}),
    [](const auto &info) { return std::string(info.param.module); });

TEST_F(DllModuleTest, Load_SignedButNotALibrary_LoadingFailsCleanly)
{
    const QString path = m_oDirectory.filePath(QStringLiteral("Garbage"));
    ASSERT_TRUE(writeWholeFile(path + ".so", "this is no shared object"));
    QProcess tool;
    tool.start(QStringLiteral(VYR_SIGN_MODULE_TOOL), {"--key", QStringLiteral(VYR_BUILD_PRIVATE_KEY), path + ".so"});
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    DllModule module("Garbage", false);
    EXPECT_FALSE(module.load(path));
    EXPECT_TRUE(m_oLog.contains("Module Garbage verified."));
    EXPECT_TRUE(m_oLog.contains("Module library loading by QLibrary failed! Error description: "));
    EXPECT_FALSE(module.isLoaded());
}

TEST_F(DllModuleTest, Load_UpdaterMissing_ModuleUpgraderUsed)
{
    DllModule module("updater", false);
    ASSERT_TRUE(module.load(testModulePath(QStringLiteral("updater"))));
    EXPECT_EQ(module.getModuleName(), "moduleupgrader");
    EXPECT_TRUE(m_oLog.contains("Using other module name for compatibility"));
    EXPECT_TRUE(m_oLog.contains("modulePath: " + testModulePath(QStringLiteral("moduleupgrader.so"))));
    EXPECT_EQ(call(module.getFunction(QStringLiteral("Which"))), "Upgrader");
}

TEST_F(DllModuleTest, Load_PathWithDot_CommandFileIsThePathItself)
{
    const QString path = m_oDirectory.filePath(QStringLiteral("Dotted.v2"));
    ASSERT_TRUE(QFile::copy(testModulePath(QStringLiteral("Mod1.so")), path + ".so"));
    ASSERT_TRUE(QFile::copy(testModulePath(QStringLiteral("Mod1.xml")), path));
    DllModule module("Dotted.v2", false);
    ASSERT_TRUE(module.load(path));
    EXPECT_FALSE(module.isCommandValid(QStringLiteral("Hidden")));
    EXPECT_EQ(call(module.getFunction(QStringLiteral("Echo"))), "echo:x");
}

TEST_F(DllModuleTest, Sessions_AddedTwiceAndRemoved_UnloadOnlyWhenNoneLeft)
{
    DllModule module("Mod1", false);
    ASSERT_TRUE(module.load(testModulePath(QStringLiteral("Mod1"))));
    module.addSession("s1");
    module.addSession("s1");
    module.addSession("s2");
    EXPECT_EQ(module.getSessions(), (QList<QByteArray>{"s1", "s2"}));
    EXPECT_TRUE(m_oLog.contains("Module Mod1 already in session s1"));

    module.removeSession("s1");
    module.removeSession("unknown");
    EXPECT_TRUE(m_oLog.contains("Module Mod1 not used in session unknown"));
    EXPECT_FALSE(module.unload());
    EXPECT_TRUE(m_oLog.contains("Module Mod1 can't be unloaded. Module in use!"));
    EXPECT_TRUE(module.isLoaded());
    EXPECT_EQ(call(module.getFunction(QStringLiteral("Cmd1"))), "x");

    module.clearSessions();
    EXPECT_TRUE(module.unload());
}

TEST_F(DllModuleTest, Unload_CallInProgress_RefusedUntilTheCallReturns)
{
    DllModule module("Slow", false);
    ASSERT_TRUE(module.load(testModulePath(QStringLiteral("Slow"))));
    const tpfun wait = module.getFunction(QStringLiteral("Wait"));
    ASSERT_NE(wait, nullptr);
    const QString started = m_oDirectory.filePath(QStringLiteral("started"));
    const QString release = m_oDirectory.filePath(QStringLiteral("release"));
    QByteArray answer;
    std::thread worker([&] {
        DllModule::CallScope scope(module);
        answer = wait({{"started", started.toUtf8()}, {"release", release.toUtf8()}}, {});
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(started); }, 10000));
    EXPECT_EQ(module.getCallsInProgress(), 1u);
    EXPECT_FALSE(module.unload());
    EXPECT_TRUE(m_oLog.contains("Module Slow can't be unloaded. Module in use!"));

    ASSERT_TRUE(writeWholeFile(release, "go"));
    worker.join();
    EXPECT_EQ(answer, "released");
    EXPECT_EQ(module.getCallsInProgress(), 0u);
    EXPECT_TRUE(module.unload());
}

TEST_F(DllModuleTest, Load_AdditionalLibraries_DirectoryOnPathOnceAndLibraryFound)
{
    FakeProcessUtils::reset("/usr/bin");
    const QString libraries = testModulePath(QStringLiteral("WithLibs"));
    {
        DllModule module("WithLibs", false);
        ASSERT_TRUE(module.load(libraries));
        EXPECT_EQ(call(module.getFunction(QStringLiteral("Helper"))), "from the helper library");
    }
    EXPECT_EQ(FakeProcessUtils::record().path, "/usr/bin:" + libraries.toUtf8());
    EXPECT_TRUE(m_oLog.contains("Adding library path to support additional module libs: " + libraries));

    DllModule again("WithLibs", false);
    ASSERT_TRUE(again.load(libraries));
    EXPECT_EQ(FakeProcessUtils::record().path, "/usr/bin:" + libraries.toUtf8());
    EXPECT_TRUE(m_oLog.contains("Module has additional libraries and path to them has been already added: "));
}

TEST_F(DllModuleTest, CommandFunctions_Throwing_ExceptionsCrossTheModuleBoundary)
{
    DllModule module("Throwing", false);
    ASSERT_TRUE(module.load(testModulePath(QStringLiteral("Throwing"))));
    try {
        call(module.getFunction(QStringLiteral("ThrowBase")));
        ADD_FAILURE() << "nothing thrown";
    } catch (const BaseException &e) {
        EXPECT_EQ(e.getMessage(), "not implemented here");
    }
    EXPECT_THROW(call(module.getFunction(QStringLiteral("ThrowStd"))), std::runtime_error);
    EXPECT_THROW(call(module.getFunction(QStringLiteral("ThrowCString"))), const char *);
    EXPECT_THROW(call(module.getFunction(QStringLiteral("ThrowOther"))), int);
}

TEST_F(DllModuleTest, HashModule_Commands_DigestsOfTheParameters)
{
    DllModule module("hash", false);
    ASSERT_TRUE(module.load(QStringLiteral(VYR_BUNDLED_MODULE_DIR "/hash")));
    const tpfun sha256 = module.getFunction(QStringLiteral("SHA256"));
    const tpfun hmac = module.getFunction(QStringLiteral("HMAC_SHA256"));
    ASSERT_TRUE(sha256 && hmac);
    EXPECT_EQ(sha256({{"data", "abc"}}, {}), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hmac({{"key", "key"}, {"data", "The quick brown fox jumps over the lazy dog"}}, {}),
              "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8");
    EXPECT_EQ(module.getRequestParams(QStringLiteral("HMAC_SHA256")), (QStringList{"data", "key"}));
    EXPECT_FALSE(module.isGuiFunction(sha256));
    EXPECT_FALSE(module.canUnprivilegedRun(hmac));
    EXPECT_TRUE(module.canUseOnTerminalServices());
}

} // namespace
