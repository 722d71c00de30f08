#include "common/QueuedCallTypes.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpSessionStore.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/ModuleTestSupport.h"
#include "protocol/CTimeout.h"
#include "support/QtPrinters.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <thread>

inline void PrintTo(const ResultData &result, std::ostream *out)
{
    *out << result.statusCode << ' ' << result.statusText.toStdString() << " \"" << result.message.toStdString() << '"';
}

namespace {

constexpr int kDeadlineMs = 20000;

const ResultData kAccepted{202, "Accepted"};
const ResultData kNoResult{419, "No Result", "There is no result for given parameters."};
ResultData ok(const char *message) { return ResultData(200, "OK", message); }

// A launcher over a module manager of the test modules. Slow's Wait creates the file "started" names,
// then blocks until the one "release" names exists; Gui's window stays until "release" exists.
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
                     const QByteArray &commandId, const tRequestMap &parameters = {}, bool unprivileged = false)
    {
        return m_poLauncher->ProcessCommand({library, sessionId, commandId, command, parameters, {}, unprivileged});
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
    std::unique_ptr<CLauncher> m_poLauncher = std::make_unique<CLauncher>([this] { return m_poManager.get(); });
};

using LauncherTest = LauncherFixture;

int processThreadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

TEST_F(LauncherTest, Job_SlowCommand_AcceptedWhileRunningThenResultOnceThenNoResultAndNoThreadLeft)
{
    load("Slow", "S");
    const int baseline = processThreadCount();
    EXPECT_EQ(start("Slow", "Wait", "S", "1", {{"started", path("started")}, {"release", path("release")}}), kAccepted);
    ASSERT_TRUE(waitForFile(path("started")));
    EXPECT_EQ(result("S", "1"), kAccepted);
    EXPECT_EQ(m_poManager->getModule("Slow")->getCallsInProgress(), 1u);
    EXPECT_GT(processThreadCount(), baseline);

    touch(path("release"));
    EXPECT_EQ(collect("S", "1"), ok("released"));
    EXPECT_EQ(result("S", "1"), kNoResult);
    EXPECT_EQ(m_poManager->getModule("Slow")->getCallsInProgress(), 0u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return processThreadCount() == baseline; }, kDeadlineMs))
        << processThreadCount() << " threads, " << baseline << " before";
}

TEST_F(LauncherTest, ProcessCommand_ListedButNotExported_NotFoundAndNoJob)
{
    load("Mod1", "S");
    EXPECT_EQ(start("Mod1", "Missing", "S", "1"), ResultData(404, "Not Found", "The URL you requested was not found."));
    EXPECT_EQ(result("S", "1"), kNoResult);
    EXPECT_FALSE(m_oLog.contains("job added"));
}

// Throwing's own IsGuiFunction throws, so its commands count as GUI commands and run here on
// the main thread while collect() turns the event loop.
TEST_F(LauncherTest, CallFunction_ModuleThrows_FailureDeliveredAsResult)
{
    load("Throwing", "S");
    for (const auto &[command, body] : {std::pair{"ThrowStd", "500|standard failure"},
                                        std::pair{"ThrowCString", "500|c string failure"},
                                        std::pair{"ThrowBase", "500|not implemented here"},
                                        std::pair{"ThrowOther", "500|Unknown exception wast threw from dll module!"}}) {
        ASSERT_EQ(start("Throwing", command, "S", command), kAccepted);
        EXPECT_EQ(collect("S", command), ok(body));
    }
    EXPECT_EQ(m_poManager->getModule("Throwing")->getCallsInProgress(), 0u);
    EXPECT_FALSE(m_poLauncher->IsGuiBusy());
}

TEST_F(LauncherTest, GuiCommands_SecondWhileFirstRuns_BusyUntilFirstDelivers)
{
    load("Gui", "S1");
    load("Gui", "S2");
    load("Mod1", "S2");
    const QByteArray release = path("release");
    // A connection handler's thread, while this (the main) thread turns the event loop for the GUI job.
    std::atomic<bool> done{false};
    std::jthread client([&] {
        EXPECT_EQ(start("Gui", "ShowWindow", "S1", "g1", {{"release", release}}), kAccepted);
        EXPECT_TRUE(waitForLog(QStringLiteral("Calling function for sessionID <S1> and cmdID <g1>")));
        EXPECT_EQ(start("Gui", "ShowWindow", "S2", "g2"),
                  ResultData(503, "Service Unavailable",
                             "The VYR server is busy performing another gui request. Try again later."));
        EXPECT_EQ(start("Mod1", "Cmd1", "S2", "m1", {{"data", "meanwhile"}}), kAccepted);
        EXPECT_EQ(collect("S2", "m1"), ok("meanwhile"));
        EXPECT_EQ(result("S1", "g1"), kAccepted);
        EXPECT_TRUE(m_poLauncher->IsGuiBusy());

        touch(release);
        EXPECT_EQ(collect("S1", "g1"), ok("released"));
        EXPECT_FALSE(m_poLauncher->IsGuiBusy());
        EXPECT_EQ(start("Gui", "ShowWindow", "S2", "g3", {{"release", release}}), kAccepted);
        EXPECT_EQ(collect("S2", "g3"), ok("released"));
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, kDeadlineMs * 2));
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
    ASSERT_EQ(start("Slow", "Wait", "S", "run", {{"started", path("started")}, {"release", path("release")}}, true),
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

// Session timeouts over a real launcher, module manager and published session store.
class TimeoutTest : public LauncherFixture
{
protected:
    void SetUp() override { HttpSessionStore::publish(&m_oStore); }
    void TearDown() override
    {
        m_poTimeout.reset();
        HttpSessionStore::publish(nullptr);
        LauncherFixture::TearDown();
    }

    void startTimeouts(int intervalMs)
    {
        m_poTimeout = std::make_unique<CTimeout>(
            intervalMs, CTimeout::Services{[this] { return m_poLauncher.get(); }, [this] { return m_poManager.get(); },
                                           &HttpSessionStore::published});
    }
    // A session opened the way OPEN_SESSION opens one; its braced ID.
    QByteArray openSession()
    {
        HttpRequest request(HttpRequest::kDefaultMaxRequestSize, HttpRequest::kDefaultMaxMultiPartSize);
        QBuffer input, wire;
        input.setData("POST /m/c HTTP/1.1\r\n\r\n");
        input.open(QIODevice::ReadOnly);
        request.receive(input);
        HttpResponse response(&wire);
        return m_oStore.getSession(request, response, true).getId();
    }
    bool addTimer(const QByteArray &sessionId)
    {
        m_poTimeout->AddNewTimer(sessionId);
        return QTest::qWaitFor([&] { return m_poTimeout->HasTimer(sessionId); }, kDeadlineMs);
    }
    static QString timedOut(const QByteArray &id) { return "Timeout occured. sessionID=" + QString::fromUtf8(id); }
    static QString destroyed(const QByteArray &id) { return "session destroyed. sessionID=" + QString::fromUtf8(id); }

    QSettings m_oIni{m_oFiles.filePath(QStringLiteral("sessions.ini")), QSettings::IniFormat};
    HttpSessionStore m_oStore{&m_oIni};
    std::unique_ptr<CTimeout> m_poTimeout;
};

TEST_F(TimeoutTest, Timer_RestartedMoreOftenThanInterval_NeverFires)
{
    startTimeouts(500);
    ASSERT_TRUE(addTimer("S"));
    QTimer restarter;
    QObject::connect(&restarter, &QTimer::timeout, [this] { m_poTimeout->RestartTimer("S"); });
    restarter.start(50);
    // 750 ms of restarts.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_oLog.count(QStringLiteral("Timers remain time=")) >= 15; }, kDeadlineMs));
    EXPECT_FALSE(m_oLog.contains(timedOut("S")));
    EXPECT_TRUE(m_poTimeout->HasTimer("S"));
}

TEST_F(TimeoutTest, Timeout_SilentSession_ResultsSessionAndModulesTornDownOnce)
{
    startTimeouts(200);
    const QByteArray id = openSession();
    load("Mod1", id);
    ASSERT_EQ(start("Mod1", "Cmd1", id, "done", {{"data", "d"}}, true), kAccepted);
    ASSERT_TRUE(waitForLog("Result for sessionId <" + QString::fromUtf8(id) + "> and commandId <done> saved"));

    ASSERT_TRUE(addTimer(id));
    ASSERT_TRUE(waitForLog(destroyed(id)));
    ASSERT_TRUE(waitForLog(QStringLiteral("bAllModulesUnloaded=TRUE")));
    ASSERT_TRUE(waitForLog(QStringLiteral("Timer stopped and prepared for delete timer address=")));
    EXPECT_TRUE(m_oStore.getSession(id).isNull());
    EXPECT_EQ(m_poManager->getModule("Mod1"), nullptr);
    EXPECT_EQ(result(id, "done"), kNoResult);
    EXPECT_FALSE(m_poLauncher->IsUnprivilegedJob(id, "done"));
    EXPECT_FALSE(m_poTimeout->HasTimer(id));
    EXPECT_EQ(m_oLog.count(timedOut(id)), 1);
}

TEST_F(TimeoutTest, RemoveTimer_BeforeExpiry_NoTeardownAndRestartAfterExpiryNotExist)
{
    startTimeouts(200);
    ASSERT_TRUE(addTimer("closed"));
    m_poTimeout->RemoveTimer("closed");
    // A session timed out after the removal has outlived the removed timer's interval.
    ASSERT_TRUE(addTimer("witness"));
    ASSERT_TRUE(waitForLog(destroyed("witness")));
    EXPECT_FALSE(m_oLog.contains(timedOut("closed")));
    ASSERT_TRUE(waitForLog(QStringLiteral("Timer stopped and prepared for delete timer address=")));
    m_poTimeout->RestartTimer("witness");
    EXPECT_TRUE(m_oLog.contains("Timer for sessionID <witness> not exist!"));
}

TEST_F(TimeoutTest, Timeout_DuringGuiJob_WindowClosedAndFlagCleared)
{
    startTimeouts(300);
    load("Gui", "S");
    ASSERT_TRUE(addTimer("S"));
    ASSERT_EQ(start("Gui", "ShowWindow", "S", "g", {{"timeoutMs", "15000"}}), kAccepted);
    EXPECT_TRUE(m_poLauncher->IsGuiBusy());

    // The job's window keeps the main thread in its own event loop; the teardown runs there.
    ASSERT_TRUE(waitForLog(destroyed("S")));
    ASSERT_TRUE(waitForLog(QStringLiteral("Result: closed")));
    EXPECT_FALSE(m_poLauncher->IsGuiBusy());
    for (const QWidget *window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(result("S", "g"), kNoResult);
}

} // namespace

// GUI jobs run on the main thread of a QApplication, as in the server; windows go to the
// offscreen platform.
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
