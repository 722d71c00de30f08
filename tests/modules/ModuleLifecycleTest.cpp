#include "ModuleTestSupport.h"
#include "modules/DllManager.h"
#include "modules/DllModule.h"
#include "platform/ProcessUtilsFactory.h"
#include "platform/ProcessUtilsLinuxImpl.h"
#include "support/QtPrinters.h"

#include <QMutex>
#include <QTest>
#include <thread>
#include <vector>

namespace {

// The event log behind createProcessUtils(), kept in memory so no test needs syslog. Written
// by whichever thread loads a module, under the mutex; the tests read it once those threads are done.
QMutex g_oFakeMutex;
QStringList g_oEventLog; // "<source> <message>"

class FakeProcessUtils final : public ProcessUtilsLinuxImpl
{
public:
    void writeEventLog(const QString &source, const QString &message) override
    {
        const QMutexLocker locker(&g_oFakeMutex);
        g_oEventLog.append(source + QLatin1Char(' ') + message);
    }
};

} // namespace

std::unique_ptr<ProcessUtils> createProcessUtils()
{
    return std::make_unique<FakeProcessUtils>();
}

namespace {

QByteArray call(tpfun function)
{
    return function ? function(tRequestMap{{"data", "x"}}, {}) : QByteArray("<no export>");
}

// A fresh event log, directory and trace file of the echo modules' Init and DeInit per test.
class ModuleLifecycleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_oEventLog.clear();
        qputenv("VYR_TEST_MODULE_TRACE", path("trace.txt").toLocal8Bit());
    }
    void TearDown() override
    {
        m_poManager.reset();
        qunsetenv("VYR_TEST_MODULE_TRACE");
        runDeferredDeletes();
    }
    QString path(const QString &name) const { return m_oDirectory.filePath(name); }
    QStringList trace() const
    {
        return QString::fromUtf8(readWholeFile(path("trace.txt"))).split('\n', Qt::SkipEmptyParts);
    }
    // From another thread, as a handler thread ends a session; the unloading itself is
    // queued to the manager's thread, which the wait lets run.
    bool unloadAndWait(const QByteArray &sessionId)
    {
        std::thread([&] { m_poManager->unloadAllModulesForSession(sessionId); }).join();
        return QTest::qWaitFor([&] { return m_poManager->getModulesNames(sessionId).isEmpty(); }, 10000);
    }

    QTemporaryDir m_oDirectory;
    std::unique_ptr<DllManager> m_poManager = std::make_unique<DllManager>(QStringList{testModuleDir()});
};

// A command file maps command names to exports and lists their parameters; without one every
// export is a command. A path with a dot names its command file itself.
TEST_F(ModuleLifecycleTest, GetFunction_CommandFileOrNone_ValidityAndExport)
{
    ASSERT_TRUE(QFile::copy(testModulePath("Mod1.so"), path("Dotted.v2.so")));
    ASSERT_TRUE(QFile::copy(testModulePath("Mod1.xml"), path("Dotted.v2")));
    DllModule withFile("Mod1", false), withoutFile("NoXml", false), dotted("Dotted.v2", false);
    ASSERT_TRUE(withFile.load(testModulePath("Mod1")));
    ASSERT_TRUE(withoutFile.load(testModulePath("NoXml")));
    ASSERT_TRUE(dotted.load(path("Dotted.v2")));
    EXPECT_TRUE(g_oEventLog.isEmpty());
    // The module, a command, whether it is valid, what its export answers.
    const std::tuple<DllModule *, QString, bool, QByteArray> cases[] = {
        {&withFile, "Cmd1", true, "x"},
        {&withFile, "Echo", true, "echo:x"},
        {&withFile, "Missing", true, "<no export>"},
        {&withFile, "NoMethod", true, "<no export>"},
        {&withFile, "Hidden", false, "<no export>"},
        {&withFile, "EchoImpl", false, "<no export>"},
        {&withoutFile, "Hidden", true, "hidden"},
        {&withoutFile, "EchoImpl", true, "echo:x"},
        {&withoutFile, "Echo", true, "<no export>"},
        {&dotted, "Echo", true, "echo:x"},
    };
    for (const auto &[module, command, valid, result] : cases) {
        EXPECT_EQ(module->isCommandValid(command), valid) << command.toStdString();
        EXPECT_EQ(call(module->getFunction(command)), result) << command.toStdString();
    }
    EXPECT_EQ(withFile.getRequestParams(QStringLiteral("Echo")), (QStringList{"second", "first"}));
    EXPECT_TRUE(withoutFile.getRequestParams(QStringLiteral("Cmd1")).isEmpty());
}

// Missing query exports fall back to their defaults; so does one that throws. Without
// CanUseOnTerminalServices a module does not load in windowsServerMode.
TEST_F(ModuleLifecycleTest, QueryExports_PresentMissingOrThrowing_AnswerOrDefault)
{
    // The module, a command, and the answers: GUI, unprivileged, terminal services.
    const std::tuple<const char *, QString, bool, bool, bool> cases[] = {
        {"Mod1", "Cmd1", false, false, true},        {"NoQueries", "Cmd1", true, false, false},
        {"Unprivileged", "Open", false, true, true}, {"Unprivileged", "Closed", false, false, true},
        {"Throwing", "ThrowStd", true, false, true},
    };
    for (const auto &[name, command, gui, unprivileged, terminalServices] : cases) {
        SCOPED_TRACE(name);
        DllModule module(name, false);
        ASSERT_TRUE(module.load(testModulePath(name)));
        const tpfun function = module.getFunction(command);
        EXPECT_EQ(module.isGuiFunction(function), gui);
        EXPECT_EQ(module.canUnprivilegedRun(function), unprivileged);
        EXPECT_EQ(module.canUseOnTerminalServices(), terminalServices);
        EXPECT_EQ(DllModule(name, true).load(testModulePath(name)), terminalServices);
    }
}

// The signature itself is judged byte by byte in ModuleSignatureTest; here, that a refusal
// comes before any of the module's code runs and only an unsigned file reaches the event log.
TEST_F(ModuleLifecycleTest, Load_BadModule_RefusedBeforeAnyCodeRuns)
{
    for (const char *name : {"Unsigned", "BadXml", "Absent"})
        EXPECT_FALSE(DllModule(name, false).load(testModulePath(name))) << name;
    ASSERT_EQ(g_oEventLog.size(), 1);
    EXPECT_TRUE(g_oEventLog[0].startsWith(QCoreApplication::applicationName() + ' '));
    EXPECT_TRUE(g_oEventLog[0].contains(testModulePath("Unsigned") + ".so")) << g_oEventLog[0].toStdString();
    EXPECT_TRUE(trace().isEmpty());
}

TEST_F(ModuleLifecycleTest, Load_AdditionalLibraries_FoundThroughTheModulesRunPath)
{
    DllModule module("WithLibs", false);
    ASSERT_TRUE(module.load(testModulePath("WithLibs")));
    EXPECT_EQ(call(module.getFunction(QStringLiteral("Helper"))), "from the helper library");
}

TEST_F(ModuleLifecycleTest, HashModule_Hmac_KnownDigest)
{
    DllModule module("hash", false);
    ASSERT_TRUE(module.load(QStringLiteral(VYR_BUNDLED_MODULE_DIR "/hash")));
    // SHA256 is checked against the browser's own digest in the browser test.
    const tpfun hmac = module.getFunction(QStringLiteral("HMAC_SHA256"));
    ASSERT_TRUE(hmac);
    EXPECT_EQ(hmac({{"key", "key"}, {"data", "The quick brown fox jumps over the lazy dog"}}, {}),
              "f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8");
    EXPECT_EQ(module.getRequestParams(QStringLiteral("HMAC_SHA256")), (QStringList{"data", "key"}));
}

// A module stays while a session holds it or a call runs in it, and is found again then; its
// DeInit runs once, on the main thread, whichever thread ended the session.
TEST_F(ModuleLifecycleTest, Manager_TwoSessionsOrACall_UnloadedWhenTheLastLetsGo)
{
    DllManager &dlls = *m_poManager;
    for (const char *session : {"s1", "s1", "s2"})
        ASSERT_TRUE(dlls.loadModuleForSession("Mod1", session));
    DllModule *module = dlls.getModule("Mod1");
    EXPECT_EQ(module->getSessions(), (QList<QByteArray>{"s1", "s2"}));
    ASSERT_TRUE(unloadAndWait("s1"));
    EXPECT_EQ(dlls.getModule("Mod1"), module);
    {
        DllModule::CallScope call(*module);
        ASSERT_TRUE(unloadAndWait("s2"));
        EXPECT_EQ(dlls.getModule("Mod1"), module);
    }
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s3"));
    EXPECT_EQ(dlls.getModule("Mod1"), module);
    ASSERT_TRUE(unloadAndWait("s3"));
    EXPECT_EQ(dlls.getModule("Mod1"), nullptr);
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init main", "Mod1 DeInit main"}));
}

TEST_F(ModuleLifecycleTest, Manager_ConcurrentSessions_OneModuleObjectInitialisedOnceDeInitAtEnd)
{
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([this, i] {
            for (int round = 0; round < 10; ++round)
                m_poManager->loadModuleForSession("Mod1", "s" + QByteArray::number(i));
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(m_poManager->getModule("Mod1")->getSessions().size(), 4);
    m_poManager.reset(); // its end lets every module still held go through DeInit
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init other", "Mod1 DeInit main"}));
}

} // namespace
