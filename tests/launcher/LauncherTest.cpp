#include "common/QueuedCallTypes.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/ModuleTestSupport.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

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

// A launcher over a module manager of the test modules.
class LauncherTest : public ::testing::Test
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
    std::unique_ptr<DllManager> m_poManager = std::make_unique<DllManager>(QStringList{testModuleDir()});
    std::unique_ptr<CLauncher> m_poLauncher =
        std::make_unique<CLauncher>([this] { return m_poManager.get(); });
};

// Without a command file any name reaches the lookup: only the module's own command
// functions may answer it, never a library the module links nor the module interface.
// (The load test asks for more of the linked libraries' names over the wire.)
TEST_F(LauncherTest, ProcessCommand_NoFunctionOfTheModuleItself_NotFoundAndNoJob)
{
    load("Mod1", "S");
    load("NoXml", "S");
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"Mod1", "Missing"},
        {"NoXml", "abort"},
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
