#include "modules/DllManager.h"

#include "ModuleFixture.h"

#include <QTest>
#include <thread>
#include <vector>

namespace {

class DllManagerTest : public ModuleTest
{
protected:
    void TearDown() override
    {
        m_poManager.reset();
        ModuleTest::TearDown();
    }
    DllManager &manager(const QStringList &directories = {testModuleDir()})
    {
        m_poManager = std::make_unique<DllManager>(directories);
        return *m_poManager;
    }
    // Unloading is queued to the manager's thread; let the event loop run it.
    bool unloadAndWait(const QByteArray &sessionId)
    {
        const int before = m_oLog.count("bAllModulesUnloaded=");
        m_poManager->unloadAllModulesForSession(sessionId);
        return QTest::qWaitFor([&] { return m_oLog.count("bAllModulesUnloaded=") > before; }, 10000);
    }
    QByteArray which(const QByteArray &name)
    {
        DllModule *module = m_poManager->getModule(name);
        const tpfun function = module ? module->getFunction(QStringLiteral("Which")) : nullptr;
        return function ? function({}, {}) : QByteArray();
    }

    std::unique_ptr<DllManager> m_poManager;
};

// A module stays while a session holds it or a call runs in it, and is found again then.
TEST_F(DllManagerTest, TwoSessionsOrACall_OneModule_UnloadedWhenTheLastLetsGo)
{
    DllManager &dlls = manager();
    for (const char *session : {"s1", "s1", "s2"})
        ASSERT_TRUE(dlls.loadModuleForSession("Mod1", session));
    DllModule *module = dlls.getModule("Mod1");
    EXPECT_EQ(module->getSessions(), (QList<QByteArray>{"s1", "s2"}));
    ASSERT_TRUE(unloadAndWait("s1"));
    EXPECT_EQ(dlls.getModule("Mod1"), module);
    EXPECT_TRUE(dlls.getModulesNames("s1").isEmpty());
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

TEST_F(DllManagerTest, ConcurrentSessions_OneModuleObjectInitialisedOnce)
{
    DllManager &dlls = manager();
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&dlls, i] {
            for (int round = 0; round < 10; ++round)
                dlls.loadModuleForSession("Mod1", "s" + QByteArray::number(i));
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(dlls.getModule("Mod1")->getSessions().size(), 4);
    EXPECT_EQ(trace(), QStringList{"Mod1 Init other"});
}

TEST_F(DllManagerTest, UnloadFromAnotherThread_RunsOnTheMainThread)
{
    DllManager &dlls = manager();
    ASSERT_TRUE(dlls.loadModuleForSession("Mod1", "s1"));
    std::thread([&dlls] { dlls.unloadAllModulesForSession("s1"); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlls.getModule("Mod1") == nullptr; }, 10000));
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init main", "Mod1 DeInit main"}));
}

TEST_F(DllManagerTest, ModuleLookup_VariantDirectoriesAndUpdater_ExpectedBuildLoaded)
{
    QTemporaryDir empty;
    DllManager &dlls = manager({empty.path(), testModuleDir()});
    EXPECT_EQ(DllManager::getModuleFilepath(testModuleDir(), "Variant"), testModuleDir() + "/qt6/Variant");
    EXPECT_EQ(DllManager::getModuleFilepath(testModuleDir(), "Mod1"), testModuleDir() + "/Mod1");
    for (const char *name : {"Variant", "Mod1", "updater"})
        ASSERT_TRUE(dlls.loadModuleForSession(name, "s1")) << name;
    EXPECT_EQ(which("Variant"), "VariantQt6");
    EXPECT_EQ(which("Mod1"), "Mod1");
    EXPECT_EQ(which("updater"), "Upgrader");
    EXPECT_EQ(dlls.getModule("updater")->getModuleName(), "moduleupgrader");
    EXPECT_FALSE(dlls.loadModuleForSession("Nowhere", "s1"));
    EXPECT_EQ(dlls.getModulesNames("s1").size(), 3);
    ASSERT_TRUE(unloadAndWait("s1"));
    EXPECT_EQ(dlls.getModule("updater"), nullptr);
}

TEST_F(DllManagerTest, Destruction_ModulesStillLoaded_UnloadedWithDeInit)
{
    manager().loadModuleForSession("Mod1", "s1");
    m_poManager.reset();
    EXPECT_EQ(trace(), (QStringList{"Mod1 Init main", "Mod1 DeInit main"}));
}

} // namespace
