#include "common/QueuedCallTypes.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/ModuleTestSupport.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <thread>

inline void PrintTo(const ResultData &result, std::ostream *out)
{
    *out << result.statusCode << ' ' << result.statusText.toStdString() << " \""
         << result.message.toStdString() << '"';
}

namespace {

constexpr int kDeadlineMs = 20000;

const ResultData kAccepted{202, "Accepted"};
const ResultData kNoResult{419, "No Result", "There is no result for given parameters."};
ResultData ok(const char *message)
{
    return ResultData(200, "OK", message);
}

// A launcher over a module manager of the test modules. Slow's Wait creates the file "started" names,
// then blocks until the one "release" names exists.
class LauncherFixture : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_poLauncher.reset();
        m_poManager.reset();
        runDeferredDeletes();
    }

    void load(const QByteArray &module, const QByteArray &sessionId)
    {
        ASSERT_TRUE(m_poManager->loadModuleForSession(module, sessionId)) << module.constData();
    }
    QByteArray path(const char *name) const { return m_oFiles.filePath(QLatin1String(name)).toUtf8(); }
    static void touch(const QByteArray &file) { writeWholeFile(QString::fromUtf8(file), "x"); }
    static bool waitForFile(const QByteArray &file)
    {
        return QTest::qWaitFor([&] { return QFile::exists(QString::fromUtf8(file)); }, kDeadlineMs);
    }
    bool waitForLog(const QString &text) const
    {
        return QTest::qWaitFor([&] { return m_oLog.contains(text); }, kDeadlineMs);
    }
    ResultData start(const QByteArray &library, const QByteArray &command, const QByteArray &sessionId,
                     const QByteArray &commandId, const tRequestMap &parameters = {},
                     bool unprivileged = false)
    {
        return m_poLauncher->ProcessCommand(
            {library, sessionId, commandId, command, parameters, {}, unprivileged});
    }
    ResultData result(const QByteArray &sessionId, const QByteArray &commandId)
    {
        return m_poLauncher->GetResult({{}, sessionId, commandId, "GET_RESULT", {}, {}, false});
    }
    // Polls until the job no longer answers 202; a job still running at the deadline shows as 202.
    ResultData collect(const QByteArray &sessionId, const QByteArray &commandId)
    {
        ResultData answer;
        static_cast<void>(QTest::qWaitFor(
            [&] { return (answer = result(sessionId, commandId)).statusCode != 202; }, kDeadlineMs));
        return answer;
    }

    LogCapture m_oLog;
    QTemporaryDir m_oFiles;
    std::unique_ptr<DllManager> m_poManager = std::make_unique<DllManager>(QStringList{testModuleDir()});
    std::unique_ptr<CLauncher> m_poLauncher =
        std::make_unique<CLauncher>([this] { return m_poManager.get(); });
};

using LauncherTest = LauncherFixture;

// Without a command file any name reaches the lookup: only the module's own command
// functions may answer it, never a library the module links nor the module interface.
TEST_F(LauncherTest, ProcessCommand_NoFunctionOfTheModuleItself_NotFoundAndNoJob)
{
    load("Mod1", "S");
    load("NoXml", "S");
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"Mod1", "Missing"},
        {"NoXml", "abort"},
        {"NoXml", "exit"},
        {"NoXml", "malloc"},
        {"NoXml", "qVersion"},
        {"NoXml", "IsGuiFunction"},
        {"NoXml", ""},
        {"NoXml", QByteArray("Cmd1\0x", 6)},
        {"NoXml", QByteArray(300, 'C')},
    };
    for (const auto &[module, command] : cases) {
        EXPECT_EQ(start(module, command, "S", "1"),
                  ResultData(404, "Not Found", "The URL you requested was not found."))
            << module.constData() << '/' << command.left(20).constData();
    }
    EXPECT_EQ(result("S", "1"), kNoResult);
    EXPECT_FALSE(m_oLog.contains("job added"));
}

// NoQueries' commands run on this thread, so the job cannot start before the session's
// unloading has run: the module must outlive its session for the job, then go by itself.
TEST_F(LauncherTest, SessionUnloadedBeforeJobStarts_JobRunsThenItsResultLetsTheModuleGo)
{
    load("NoQueries", "S");
    ASSERT_EQ(start("NoQueries", "Cmd1", "S", "1", {{"data", "x"}}), kAccepted);
    m_poManager->unloadAllModulesForSession("S");
    QCoreApplication::sendPostedEvents(m_poManager.get(), QEvent::MetaCall);
    EXPECT_NE(m_poManager->getModule("NoQueries"), nullptr);
    EXPECT_EQ(collect("S", "1"), ok("x"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_poManager->getModule("NoQueries") == nullptr; }, kDeadlineMs));
}

TEST_F(LauncherTest, UnprivilegedJobs_TwoInOneSession_BothRecognisedUntilCollected)
{
    load("Unprivileged", "S");
    ASSERT_EQ(start("Unprivileged", "Open", "S", "1", {}, true), kAccepted);
    ASSERT_EQ(start("Unprivileged", "Open", "S", "2", {}, true), kAccepted);
    ASSERT_EQ(start("Unprivileged", "Closed", "S", "3"), kAccepted);
    EXPECT_TRUE(m_poLauncher->IsUnprivilegedJob("S", "1"));
    EXPECT_TRUE(m_poLauncher->IsUnprivilegedJob("S", "2"));
    EXPECT_FALSE(m_poLauncher->IsUnprivilegedJob("S", "3"));
    EXPECT_FALSE(m_poLauncher->IsUnprivilegedJob("T", "1"));

    EXPECT_EQ(collect("S", "1"), ok("open"));
    EXPECT_FALSE(m_poLauncher->IsUnprivilegedJob("S", "1"));
    EXPECT_TRUE(m_poLauncher->IsUnprivilegedJob("S", "2"));
}

TEST_F(LauncherTest, RemoveAllForSession_RunningJobAndResults_EndedAfterFunctionReturnedOtherSessionKept)
{
    load("Slow", "S");
    load("Mod1", "S");
    load("Mod1", "T");
    ASSERT_EQ(
        start("Slow", "Wait", "S", "run", {{"started", path("started")}, {"release", path("release")}}, true),
        kAccepted);
    ASSERT_EQ(start("Mod1", "Cmd1", "S", "done", {{"data", "s"}}, true), kAccepted);
    ASSERT_EQ(start("Mod1", "Cmd1", "T", "keep", {{"data", "t"}}), kAccepted);
    ASSERT_TRUE(waitForLog(QStringLiteral("Result for sessionId <S> and commandId <done> saved")));
    ASSERT_TRUE(waitForLog(QStringLiteral("Result for sessionId <T> and commandId <keep> saved")));
    ASSERT_TRUE(waitForFile(path("started")));

    // Released only once the teardown has ended the job, so returning early would show.
    std::jthread releaser([&] {
        if (waitForLog(QStringLiteral("Job ended. sessionid=S, cmdId=run")))
            touch(path("release"));
    });
    EXPECT_TRUE(m_poLauncher->RemoveAllForSession("S"));
    EXPECT_EQ(m_poManager->getModule("Slow")->getCallsInProgress(), 0u);
    releaser.join();
    for (const QByteArray id : {"run", "done"}) {
        EXPECT_EQ(result("S", id), kNoResult) << id.constData();
        EXPECT_FALSE(m_poLauncher->IsUnprivilegedJob("S", id)) << id.constData();
    }
    EXPECT_EQ(result("T", "keep"), ok("t"));
}

} // namespace

// A QApplication as in the server, since a session's teardown closes its windows; the
// offscreen platform needs no display.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    registerQueuedCallTypes();
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setApplicationName(QStringLiteral("VeltraneCryptoProvider"));
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrane"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
