#include "modules/DllModule.h"

#include "ModuleFixture.h"

#include <QTest>
#include <thread>

namespace {

using DllModuleTest = ModuleTest;

QByteArray call(tpfun function, const QByteArray &data = "x")
{
    return function ? function(tRequestMap{{"data", data}}, {}) : QByteArray("<no export>");
}

TEST_F(DllModuleTest, Load_GoodModule_VerifiedInitialisedAndUnloadedOnce)
{
    DllModule module("Mod1", false);
    ASSERT_TRUE(module.load(testModulePath("Mod1")));
    EXPECT_EQ(trace(), QStringList{"Mod1 Init main"});
    EXPECT_TRUE(fakeProcessRecord().eventLog.isEmpty());
    EXPECT_TRUE(module.unload());
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init main", "Mod1 DeInit main"}));
    EXPECT_FALSE(module.unload());
}

TEST_F(DllModuleTest, GetFunction_CommandFileOrNone_ValidityAndExport)
{
    DllModule withFile("Mod1", false), withoutFile("NoXml", false);
    ASSERT_TRUE(withFile.load(testModulePath("Mod1")));
    ASSERT_TRUE(withoutFile.load(testModulePath("NoXml")));
    const struct
    {
        DllModule *module;
        const char *command;
        bool valid;
        QByteArray result;
    } cases[] = {
        {&withFile, "Cmd1", true, "x"},
        {&withFile, "Echo", true, "echo:x"},
        {&withFile, "Missing", true, "<no export>"},
        {&withFile, "NoMethod", true, "<no export>"},
        {&withFile, "Hidden", false, "<no export>"},
        {&withFile, "EchoImpl", false, "<no export>"},
        {&withoutFile, "Hidden", true, "hidden"},
        {&withoutFile, "EchoImpl", true, "echo:x"},
        {&withoutFile, "Echo", true, "<no export>"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.module->getModuleName().toStdString() + " " + c.command);
        EXPECT_EQ(c.module->isCommandValid(QString::fromLatin1(c.command)), c.valid);
        EXPECT_EQ(call(c.module->getFunction(QString::fromLatin1(c.command))), c.result);
    }
    EXPECT_EQ(withFile.getRequestParams(QStringLiteral("Echo")), (QStringList{"second", "first"}));
    EXPECT_TRUE(withoutFile.getRequestParams(QStringLiteral("Cmd1")).isEmpty());
}

// Missing query exports fall back to their defaults; so does one that throws. Without
// CanUseOnTerminalServices a module does not load in windowsServerMode.
TEST_F(DllModuleTest, QueryExports_PresentMissingOrThrowing_AnswerOrDefault)
{
    const struct
    {
        const char *module, *command;
        bool gui, unprivileged, terminalServices;
    } cases[] = {
        {"Mod1", "Cmd1", false, false, true},        {"NoQueries", "Cmd1", true, false, false},
        {"Unprivileged", "Open", false, true, true}, {"Unprivileged", "Closed", false, false, true},
        {"Throwing", "ThrowStd", true, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.module) + " " + c.command);
        DllModule module(c.module, false);
        ASSERT_TRUE(module.load(testModulePath(c.module)));
        const tpfun function = module.getFunction(QString::fromLatin1(c.command));
        EXPECT_EQ(module.isGuiFunction(function), c.gui);
        EXPECT_EQ(module.canUnprivilegedRun(function), c.unprivileged);
        EXPECT_EQ(module.canUseOnTerminalServices(), c.terminalServices);
        EXPECT_EQ(DllModule(c.module, true).load(testModulePath(c.module)), c.terminalServices);
    }
}

TEST_F(DllModuleTest, Load_BadModule_RefusedBeforeAnyCodeRuns)
{
    const struct
    {
        const char *module;
        bool eventLogged;
    } cases[] = {{"Unsigned", true}, {"Tampered", true}, {"BadXml", false}, {"Absent", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.module);
        resetFakeProcess();
        const QString modulePath = testModulePath(c.module);
        DllModule module(c.module, false);
        EXPECT_FALSE(module.load(modulePath));
        const auto eventLog = fakeProcessRecord().eventLog;
        ASSERT_EQ(eventLog.size(), c.eventLogged ? 1 : 0);
        if (c.eventLogged) {
            EXPECT_EQ(eventLog.first().first, QCoreApplication::applicationName());
            EXPECT_EQ(eventLog.first().second, "File " + modulePath + ".so is not verified module file!!!");
        }
    }
    EXPECT_TRUE(trace().isEmpty());
}

TEST_F(DllModuleTest, Load_PathWithDot_CommandFileIsThePathItself)
{
    ASSERT_TRUE(QFile::copy(testModulePath("Mod1.so"), path("Dotted.v2.so")));
    ASSERT_TRUE(QFile::copy(testModulePath("Mod1.xml"), path("Dotted.v2")));
    DllModule module("Dotted.v2", false);
    ASSERT_TRUE(module.load(path("Dotted.v2")));
    EXPECT_EQ(call(module.getFunction(QStringLiteral("Echo"))), "echo:x");
}

TEST_F(DllModuleTest, Unload_SessionOrCallInProgress_RefusedUntilBothEnd)
{
    DllModule module("Slow", false);
    ASSERT_TRUE(module.load(testModulePath("Slow")));
    module.addSession("s1");
    EXPECT_FALSE(module.unload());
    module.removeSession("s1");

    const tpfun wait = module.getFunction(QStringLiteral("Wait"));
    QByteArray answer;
    std::thread worker([&] {
        DllModule::CallScope scope(module);
        answer = wait({{"started", path("started").toUtf8()}, {"release", path("release").toUtf8()}}, {});
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(path("started")); }, 10000));
    EXPECT_FALSE(module.unload());
    EXPECT_TRUE(module.isLoaded());
    ASSERT_TRUE(writeWholeFile(path("release"), "go"));
    worker.join();
    EXPECT_EQ(answer, "released");
    EXPECT_TRUE(module.unload());
}

TEST_F(DllModuleTest, Load_AdditionalLibraries_DirectoryOnPathOnceAndLibraryFound)
{
    resetFakeProcess("/usr/bin");
    const QString libraries = testModulePath("WithLibs");
    DllModule module("WithLibs", false), again("WithLibs", false);
    ASSERT_TRUE(module.load(libraries));
    EXPECT_EQ(call(module.getFunction(QStringLiteral("Helper"))), "from the helper library");
    ASSERT_TRUE(again.load(libraries));
    EXPECT_EQ(fakeProcessRecord().path, "/usr/bin:" + libraries.toUtf8());
}

TEST_F(DllModuleTest, HashModule_Commands_KnownDigests)
{
    DllModule module("hash", false);
    ASSERT_TRUE(module.load(QStringLiteral(VYR_BUNDLED_MODULE_DIR "/hash")));
    const tpfun sha256 = module.getFunction(QStringLiteral("SHA256"));
    const tpfun hmac = module.getFunction(QStringLiteral("HMAC_SHA256"));
    ASSERT_TRUE(sha256 && hmac);
    EXPECT_EQ(sha256({{"data", "abc"}}, {}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hmac({{"key", "key"}, {"data", "The quick brown fox jumps over the lazy dog"}}, {}),
              "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8");
    EXPECT_EQ(module.getRequestParams(QStringLiteral("HMAC_SHA256")), (QStringList{"data", "key"}));
}

} // namespace
