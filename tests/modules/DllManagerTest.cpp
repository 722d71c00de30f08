#include "FakeProcessUtils.h"
#include "ModuleTestSupport.h"
#include "modules/DllManager.h"
#include "support/QtPrinters.h"

#include <QTemporaryDir>
#include <QTest>

#include <thread>
#include <vector>

namespace {

constexpr int kTimeoutMs = 10000;

class DllManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FakeProcessUtils::reset();
        qputenv("VYR_TEST_MODULE_TRACE", tracePath().toLocal8Bit());
    }
    void TearDown() override
    {
        m_poManager.reset();
        qunsetenv("VYR_TEST_MODULE_TRACE");
        runDeferredDeletes();
    }
    DllManager &manager(const QStringList &directories = {testModuleDir()}, bool windowsServerMode = false)
    {
        m_poManager = std::make_unique<DllManager>(directories, windowsServerMode);
        return *m_poManager;
    }
    QString tracePath() const { return m_oDirectory.filePath(QStringLiteral("trace.txt")); }
    QStringList trace() const
    {
        return QString::fromUtf8(readWholeFile(tracePath())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // Unloading is queued to the manager's thread; let the event loop run it.
    bool unloadAndWait(DllManager &dllManager, const QByteArray &sessionId)
    {
        const int before = m_oLog.count("bAllModulesUnloaded=");
        dllManager.unloadAllModulesForSession(sessionId);
        return QTest::qWaitFor([&] { return m_oLog.count("bAllModulesUnloaded=") > before; }, kTimeoutMs);
    }
    static QByteArray which(DllModule *module)
    {
        const tpfun function = module ? module->getFunction(QStringLiteral("Which")) : nullptr;
        return function ? function({}, {}) : QByteArray();
    }

    QTemporaryDir m_oDirectory;
    LogCapture m_oLog;
    std::unique_ptr<DllManager> m_poManager;
};

TEST_F(DllManagerTest, TwoSessions_OneModule_UnloadedWhenTheLastLetsGo)
{
    DllManager &dlls = manager();
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
    DllModule *module = dlls.getModule("Mod1");
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s2"));
    EXPECT_EQ(dlls.getModule("Mod1"), module);
    EXPECT_EQ(module->getSessions(), (QList<QByteArray>{"s1", "s2"}));
    EXPECT_TRUE(m_oLog.contains("Module Mod1 already loaded"));

    ASSERT_TRUE(unloadAndWait(dlls, "s1"));
    EXPECT_EQ(dlls.getModule("Mod1"), module);
    EXPECT_TRUE(m_oLog.contains("Module Mod1 can't be unloaded. Module in use!"));
    EXPECT_TRUE(m_oLog.contains("bAllModulesUnloaded=FALSE"));
    EXPECT_TRUE(dlls.getModulesNames("s1").isEmpty());

    ASSERT_TRUE(unloadAndWait(dlls, "s2"));
    EXPECT_EQ(dlls.getModule("Mod1"), nullptr);
    EXPECT_TRUE(m_oLog.contains("bAllModulesUnloaded=TRUE"));
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init main", "Mod1 DeInit main"}));
}

TEST_F(DllManagerTest, SameSessionTwice_OnePairAndOneSessionEntry)
{
    DllManager &dlls = manager();
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
    EXPECT_EQ(dlls.getModulesNames("s1"), QList<QByteArray>{"Mod1"});
    EXPECT_EQ(dlls.getModule("Mod1")->getSessions(), QList<QByteArray>{"s1"});
    ASSERT_TRUE(unloadAndWait(dlls, "s1"));
    EXPECT_EQ(dlls.getModule("Mod1"), nullptr);
}

TEST_F(DllManagerTest, UnloadSessionWithoutModules_NothingChanges)
{
    DllManager &dlls = manager();
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
    ASSERT_TRUE(unloadAndWait(dlls, "other"));
    EXPECT_TRUE(m_oLog.contains("bAllModulesUnloaded=TRUE"));
    EXPECT_NE(dlls.getModule("Mod1"), nullptr);
}

TEST_F(DllManagerTest, UnloadFromAnotherThread_RunsOnTheMainThread)
{
    DllManager &dlls = manager();
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
    std::thread([&dlls] { dlls.unloadAllModulesForSession("s1"); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlls.getModule("Mod1") == nullptr; }, kTimeoutMs));
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init main", "Mod1 DeInit main"}));
}

TEST_F(DllManagerTest, CallInProgress_UnloadRefusedAndModuleFoundAgain)
{
    DllManager &dlls = manager();
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
    DllModule *module = dlls.getModule("Mod1");
    {
        DllModule::CallScope call(*module);
        ASSERT_TRUE(unloadAndWait(dlls, "s1"));
        EXPECT_EQ(dlls.getModule("Mod1"), module);
        EXPECT_TRUE(dlls.getModulesNames("s1").isEmpty());
    }
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s2"));
    EXPECT_EQ(dlls.getModule("Mod1"), module);
    ASSERT_TRUE(unloadAndWait(dlls, "s2"));
    EXPECT_EQ(dlls.getModule("Mod1"), nullptr);
}

TEST_F(DllManagerTest, Qt6Variant_BesidePlainBuild_Preferred)
{
    DllManager &dlls = manager();
    EXPECT_EQ(DllManager::getModuleFilepath(testModuleDir(), "Variant"), testModuleDir() + "/qt6/Variant");
    EXPECT_TRUE(m_oLog.contains("Using qt6 variant"));
    EXPECT_EQ(DllManager::getModuleFilepath(testModuleDir(), "Mod1"), testModuleDir() + "/Mod1");
    EXPECT_TRUE(m_oLog.contains("No variant for qt6"));

    ASSERT_TRUE(dlls.loadModuleForSession("Variant", "s1"));
    EXPECT_EQ(which(dlls.getModule("Variant")), "VariantQt6");
}

TEST_F(DllManagerTest, TwoDirectories_ModuleOnlyInSecond_LoadedFromThere)
{
    QTemporaryDir empty;
    DllManager &dlls = manager({empty.path(), testModuleDir()});
    EXPECT_TRUE(m_oLog.contains("Dlls directories = [" + empty.path() + ", " + testModuleDir() + "]"));
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
    EXPECT_TRUE(m_oLog.contains("File " + empty.path() + "/Mod1.so not found!"));
    EXPECT_TRUE(m_oLog.contains("bLoaded=FALSE"));
    EXPECT_EQ(which(dlls.getModule("Mod1")), "Mod1");

    EXPECT_FALSE(dlls.loadModuleForSession("Nowhere", "s1"));
    EXPECT_TRUE(m_oLog.contains("Module Nowhere not found"));
    EXPECT_EQ(dlls.getModulesNames("s1"), QList<QByteArray>{"Mod1"});
}

TEST_F(DllManagerTest, Updater_KnownUnderRequestedName_ModuleUpgraderLoaded)
{
    DllManager &dlls = manager();
    ASSERT_TRUE(dlls.loadModuleForSession("updater", "s1"));
    DllModule *module = dlls.getModule("updater");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->getModuleName(), "moduleupgrader");
    EXPECT_EQ(which(module), "Upgrader");
    ASSERT_TRUE(unloadAndWait(dlls, "s1"));
    EXPECT_EQ(dlls.getModule("updater"), nullptr);
}

TEST_F(DllManagerTest, UnverifiedModule_NotLoadedAndEventLogged)
{
    DllManager &dlls = manager();
    EXPECT_FALSE(dlls.loadModuleForSession("Unsigned", "s1"));
    EXPECT_EQ(dlls.getModule("Unsigned"), nullptr);
    EXPECT_TRUE(dlls.getModulesNames("s1").isEmpty());
    ASSERT_EQ(FakeProcessUtils::record().eventLog.size(), 1);
    EXPECT_EQ(FakeProcessUtils::record().eventLog.first().second,
              "File " + testModulePath(QStringLiteral("Unsigned.so")) + " is not verified module file!!!");
}

TEST_F(DllManagerTest, WindowsServerMode_ModuleWithoutTerminalServicesRefused)
{
    DllManager &dlls = manager({testModuleDir()}, true);
    EXPECT_FALSE(dlls.loadModuleForSession("NoQueries", "s1"));
    EXPECT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
}

TEST_F(DllManagerTest, NoSettings_NothingLoadsAndTeardownDoesNothing)
{
    DllManager dlls(static_cast<const CSettings *>(nullptr));
    EXPECT_TRUE(m_oLog.contains("Problem with Settings module."));
    EXPECT_TRUE(dlls.getModuleDirectories().isEmpty());
    EXPECT_FALSE(dlls.loadModuleForSession("Mod1", "s1"));
    dlls.unloadAllModulesForSession("s1");
    QCoreApplication::processEvents();
    EXPECT_FALSE(m_oLog.contains("bAllModulesUnloaded="));
}

TEST_F(DllManagerTest, ConcurrentSessions_OneModuleObjectForAll)
{
    DllManager &dlls = manager();
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&dlls, i] {
            const QByteArray session = "s" + QByteArray::number(i);
            for (int round = 0; round < 10; ++round)
                dlls.loadModuleForSession("Mod1", session);
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(dlls.getModule("Mod1")->getSessions().size(), 4);
    EXPECT_EQ(trace(), QStringList{"Mod1 Init other"});
    for (const QByteArray session : {"s0", "s1", "s2", "s3"})
        ASSERT_TRUE(unloadAndWait(dlls, session));
    EXPECT_EQ(dlls.getModule("Mod1"), nullptr);
}

TEST_F(DllManagerTest, Destruction_ModulesStillLoaded_UnloadedWithDeInit)
{
    manager().loadModuleForSession("Mod1", "s1");
    m_poManager.reset();
    EXPECT_TRUE(m_oLog.contains("DllLoader destroyed"));
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init main", "Mod1 DeInit main"}));
}

} // namespace
