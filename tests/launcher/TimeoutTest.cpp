#include "LauncherTestSupport.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpSessionStore.h"
#include "protocol/CTimeout.h"

#include <QApplication>
#include <QBuffer>
#include <QSettings>
#include <QTimer>
#include <QWidget>

namespace {

// Session timeouts over a real launcher, module manager and published session store.
class TimeoutTest : public LauncherFixture
{
protected:
    void SetUp() override
    {
        LauncherFixture::SetUp();
        m_poIni = std::make_unique<QSettings>(m_oFiles.filePath(QStringLiteral("sessions.ini")),
                                              QSettings::IniFormat);
        m_poIni->beginGroup(QStringLiteral("sessions"));
        m_poStore = std::make_unique<HttpSessionStore>(m_poIni.get());
        HttpSessionStore::publish(m_poStore.get());
    }
    void TearDown() override
    {
        m_poTimeout.reset();
        HttpSessionStore::publish(nullptr);
        LauncherFixture::TearDown();
        m_poStore.reset();
    }

    CTimeout &timeouts(int intervalMs)
    {
        m_poTimeout =
            std::make_unique<CTimeout>(intervalMs, CTimeout::Services{[this] { return m_poLauncher.get(); },
                                                                      [this] { return m_poManager.get(); },
                                                                      &HttpSessionStore::published});
        return *m_poTimeout;
    }
    // A session opened the way OPEN_SESSION opens one; its braced ID.
    QByteArray openSession()
    {
        HttpRequest request(HttpRequest::kDefaultMaxRequestSize, HttpRequest::kDefaultMaxMultiPartSize);
        QBuffer input;
        input.setData("POST /m/c HTTP/1.1\r\n\r\n");
        input.open(QIODevice::ReadOnly);
        request.receive(input);
        QBuffer wire;
        wire.open(QIODevice::WriteOnly);
        HttpResponse response(&wire);
        return m_poStore->getSession(request, response, true).getId();
    }
    bool addTimer(const QByteArray &sessionId)
    {
        m_poTimeout->AddNewTimer(sessionId);
        return QTest::qWaitFor([&] { return m_poTimeout->HasTimer(sessionId); }, kDeadlineMs);
    }
    static QString timeoutLine(const QByteArray &sessionId)
    {
        return QStringLiteral("Timeout occured. sessionID=") + QString::fromUtf8(sessionId);
    }
    static QString destroyedLine(const QByteArray &sessionId)
    {
        return QStringLiteral("session destroyed. sessionID=") + QString::fromUtf8(sessionId);
    }

    std::unique_ptr<QSettings> m_poIni;
    std::unique_ptr<HttpSessionStore> m_poStore;
    std::unique_ptr<CTimeout> m_poTimeout;
};

TEST_F(TimeoutTest, Timer_RestartedMoreOftenThanInterval_FiresOnceOnlyAfterSilence)
{
    timeouts(500);
    ASSERT_TRUE(addTimer("S"));
    QTimer restarter;
    QObject::connect(&restarter, &QTimer::timeout, [this] { m_poTimeout->RestartTimer("S"); });
    restarter.start(50);
    ASSERT_TRUE(waitForLog(QStringLiteral("Timers remain time="), 15)); // 750 ms of restarts
    restarter.stop();
    EXPECT_FALSE(m_oLog.contains(timeoutLine("S")));
    EXPECT_TRUE(m_oLog.contains("Timer restarted. sessionID=S"));

    ASSERT_TRUE(waitForLog(destroyedLine("S")));
    ASSERT_TRUE(waitForLog(QStringLiteral("Timer stopped and prepared for delete timer address=")));
    EXPECT_FALSE(m_poTimeout->HasTimer("S"));
    m_poTimeout->RestartTimer("S");
    EXPECT_TRUE(m_oLog.contains("Timer for sessionID <S> not exist!"));
    EXPECT_EQ(m_oLog.count(timeoutLine("S")), 1);
}

TEST_F(TimeoutTest, Timeout_SilentSession_JobsResultsSessionAndModulesTornDownOnce)
{
    timeouts(200);
    const QByteArray id = openSession();
    load("Slow", id);
    load("Mod1", id);
    const QByteArray started = path("started"), release = path("release");
    ASSERT_EQ(start("Slow", "Wait", id, "run", {{"started", started}, {"release", release}}), kAccepted);
    ASSERT_EQ(start("Mod1", "Cmd1", id, "done", {{"data", "d"}}, true), kAccepted);
    ASSERT_TRUE(waitForLog(QStringLiteral("Result for sessionId <") + QString::fromUtf8(id) +
                           QStringLiteral("> and commandId <done> saved")));
    ASSERT_TRUE(waitForFile(started));
    std::jthread releaser([&] {
        if (QTest::qWaitFor([&] { return m_oLog.contains("Job ended. sessionid=" + id + ", cmdId=run"); },
                            kDeadlineMs))
            touch(release);
    });

    ASSERT_TRUE(addTimer(id));
    const bool tornDown = waitForLog(destroyedLine(id)) &&
                          waitForLog(QStringLiteral("bAllModulesUnloaded=TRUE")) &&
                          waitForLog(QStringLiteral("Timer stopped and prepared for delete timer address="));
    releaser.join();
    ASSERT_TRUE(tornDown);

    EXPECT_TRUE(m_oLog.contains("Operation cancelled: TRUE"));
    EXPECT_FALSE(m_oLog.contains("Session is null!"));
    EXPECT_TRUE(m_poStore->getSession(id).isNull());
    EXPECT_EQ(m_poManager->getModule("Slow"), nullptr);
    EXPECT_EQ(m_poManager->getModule("Mod1"), nullptr);
    EXPECT_EQ(m_poLauncher->GetResult(resultFields(id, "run")), kNoResult);
    EXPECT_EQ(m_poLauncher->GetResult(resultFields(id, "done")), kNoResult);
    EXPECT_FALSE(m_poLauncher->IsUnprivilegedJob(id, "done"));
    EXPECT_FALSE(m_poTimeout->HasTimer(id));
    EXPECT_EQ(m_oLog.count(timeoutLine(id)), 1);
}

TEST_F(TimeoutTest, RemoveTimer_BeforeExpiry_NoTeardown)
{
    timeouts(200);
    ASSERT_TRUE(addTimer("closed"));
    m_poTimeout->RemoveTimer("closed");
    EXPECT_TRUE(m_oLog.contains("Timer removed. sessionID=closed"));
    // A session timed out after the removal has outlived the removed timer's interval.
    ASSERT_TRUE(addTimer("witness"));
    ASSERT_TRUE(waitForLog(destroyedLine("witness")));
    EXPECT_FALSE(m_oLog.contains(timeoutLine("closed")));
    EXPECT_TRUE(m_oLog.contains("Session is null!")); // the witness never had an HTTP session
    m_poTimeout->RemoveTimer("closed");
    EXPECT_TRUE(m_oLog.contains("Timer for sessionID <closed> not exist!"));
}

TEST_F(TimeoutTest, Timeout_DuringGuiJob_WindowClosedAndFlagCleared)
{
    timeouts(300);
    load("Gui", "S");
    ASSERT_TRUE(addTimer("S"));
    ASSERT_EQ(start("Gui", "ShowWindow", "S", "g", {{"timeoutMs", "15000"}}), kAccepted);
    EXPECT_TRUE(m_poLauncher->IsGuiBusy());

    // The job's window keeps the main thread in its own event loop; the teardown runs there.
    ASSERT_TRUE(waitForLog(destroyedLine("S")));
    ASSERT_TRUE(waitForLog(QStringLiteral("Result: closed")));
    EXPECT_FALSE(m_poLauncher->IsGuiBusy());
    EXPECT_TRUE(m_oLog.contains("Cancel all operations on worker <"));
    EXPECT_TRUE(m_oLog.contains("Finished GUI function. Flag bGuisBusy removed"));
    for (const QWidget *window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(m_poLauncher->GetResult(resultFields("S", "g")), kNoResult);
}

} // namespace
