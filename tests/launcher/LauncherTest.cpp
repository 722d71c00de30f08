#include "LauncherTestSupport.h"

#include <string>

namespace {

using LauncherTest = LauncherFixture;

TEST_F(LauncherTest, Job_SlowCommand_AcceptedWhileRunningThenResultOnceThenNoResult)
{
    load("Slow", "S");
    const QByteArray started = path("started"), release = path("release");

    EXPECT_EQ(start("Slow", "Wait", "S", "1", {{"started", started}, {"release", release}}), kAccepted);
    ASSERT_TRUE(waitForFile(started));
    EXPECT_EQ(m_poLauncher->GetResult(resultFields("S", "1")), kAccepted);
    EXPECT_EQ(m_poManager->getModule("Slow")->getCallsInProgress(), 1u);

    touch(release);
    EXPECT_EQ(collect("S", "1"), ResultData(200, "OK", "released"));
    EXPECT_EQ(m_poLauncher->GetResult(resultFields("S", "1")), kNoResult);
    EXPECT_EQ(m_poManager->getModule("Slow")->getCallsInProgress(), 0u);
    EXPECT_TRUE(m_oLog.contains("Calling function for sessionID <S> and cmdID <1>"));
    EXPECT_TRUE(m_oLog.contains("job added for sessionId <S> and commandId <1>"));
    EXPECT_TRUE(m_oLog.contains("Result for sessionId <S> and commandId <1> saved"));
    EXPECT_TRUE(m_oLog.contains("Job ended. sessionid=S, cmdId=1"));
    EXPECT_TRUE(m_oLog.contains("Result for sessionId <S> and commandId <1> removed"));
}

TEST_F(LauncherTest, WorkerThreads_JobsDone_NoneLeftBehind)
{
    load("Slow", "S");
    const int baseline = processThreadCount();
    const QByteArray release = path("release");
    const QList<QByteArray> ids{"1", "2", "3", "4"};
    for (const QByteArray &id : ids)
        ASSERT_EQ(start("Slow", "Wait", "S", id, {{"started", path("started") + id}, {"release", release}}),
                  kAccepted);
    for (const QByteArray &id : ids)
        ASSERT_TRUE(waitForFile(path("started") + id));
    EXPECT_GE(processThreadCount(), baseline + ids.size());

    touch(release);
    for (const QByteArray &id : ids)
        EXPECT_EQ(collect("S", id), ResultData(200, "OK", "released"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return processThreadCount() == baseline; }, kDeadlineMs))
        << processThreadCount() << " threads, " << baseline << " before";
}

struct UnresolvableCase
{
    const char *module;
    const char *command;
};

void PrintTo(const UnresolvableCase &unresolvable, std::ostream *out)
{
    *out << unresolvable.module << '/' << unresolvable.command;
}

class LauncherNotFoundTest : public LauncherFixture, public ::testing::WithParamInterface<UnresolvableCase>
{
};

TEST_P(LauncherNotFoundTest, ProcessCommand_Unresolvable_NotFoundAndNoJob)
{
    load("Mod1", "S");
    EXPECT_EQ(start(GetParam().module, GetParam().command, "S", "1"),
              ResultData(404, "Not Found", "The URL you requested was not found."));
    EXPECT_TRUE(m_oLog.contains("Problem with DllManager or DllModule"));
    EXPECT_EQ(m_poLauncher->GetResult(resultFields("S", "1")), kNoResult);
    EXPECT_FALSE(m_oLog.contains("job added"));
}

INSTANTIATE_TEST_SUITE_P(Commands, LauncherNotFoundTest,
                         ::testing::Values(UnresolvableCase{"Mod1", "Missing"}, // listed, not exported
                                           UnresolvableCase{"Mod1", "Unlisted"},
                                           UnresolvableCase{"NotLoaded", "Cmd1"}),
                         [](const auto &info) {
                             return std::string(info.param.module) + "_" + info.param.command;
                         });

struct ThrowCase
{
    const char *command;
    const char *body;
    const char *logLine;
};

void PrintTo(const ThrowCase &throwCase, std::ostream *out)
{
    *out << throwCase.command;
}

class LauncherThrowTest : public LauncherFixture, public ::testing::WithParamInterface<ThrowCase>
{
};

// Throwing's own IsGuiFunction throws, so its commands count as GUI commands and run here
// on the main thread while collect() turns the event loop.
TEST_P(LauncherThrowTest, CallFunction_ModuleThrows_FailureDeliveredAsResult)
{
    load("Throwing", "S");
    ASSERT_EQ(start("Throwing", GetParam().command, "S", "1"), kAccepted);
    EXPECT_EQ(collect("S", "1"), ResultData(200, "OK", GetParam().body));
    EXPECT_TRUE(m_oLog.contains(QString::fromUtf8(GetParam().logLine)))
        << m_oLog.lines().join('\n').toStdString();
    EXPECT_EQ(m_poManager->getModule("Throwing")->getCallsInProgress(), 0u);
    EXPECT_FALSE(m_poLauncher->IsGuiBusy());
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, LauncherThrowTest,
    ::testing::Values(
        ThrowCase{"ThrowStd", "500|standard failure",
                  "Dll function call failed. Result: 500|standard failure Exception: standard failure"},
        ThrowCase{"ThrowCString", "500|c string failure",
                  "Dll function call failed. Result: 500|c string failure Exception: c string failure"},
        ThrowCase{
            "ThrowBase", "500|not implemented here",
            "Dll function call failed. Result: 500|not implemented here Exception: not implemented here"},
        ThrowCase{"ThrowOther", "500|Unknown exception wast threw from dll module!",
                  "Dll function call failed. Result: 500|Unknown exception wast threw from dll module!"}),
    [](const auto &info) { return std::string(info.param.command); });

TEST_F(LauncherTest, GuiCommands_SecondWhileFirstRuns_BusyUntilFirstDelivers)
{
    load("Gui", "S1");
    load("Gui", "S2");
    load("Mod1", "S2");
    const QByteArray release = path("release");
    const bool finished = runOnClientThread([&] {
        EXPECT_EQ(start("Gui", "ShowWindow", "S1", "g1", {{"release", release}}), kAccepted);
        EXPECT_TRUE(waitForLog(QStringLiteral("Calling function for sessionID <S1> and cmdID <g1>")));
        EXPECT_EQ(start("Gui", "ShowWindow", "S2", "g2"),
                  ResultData(503, "Service Unavailable",
                             "The VYR server is busy performing another gui request. Try again later."));
        EXPECT_EQ(start("Mod1", "Cmd1", "S2", "m1", {{"data", "meanwhile"}}), kAccepted);
        EXPECT_EQ(collect("S2", "m1"), ResultData(200, "OK", "meanwhile"));
        EXPECT_EQ(m_poLauncher->GetResult(resultFields("S1", "g1")), kAccepted);
        EXPECT_TRUE(m_poLauncher->IsGuiBusy());

        touch(release);
        EXPECT_EQ(collect("S1", "g1"), ResultData(200, "OK", "released"));
        EXPECT_FALSE(m_poLauncher->IsGuiBusy());
        EXPECT_EQ(start("Gui", "ShowWindow", "S2", "g3", {{"release", release}}), kAccepted);
        EXPECT_EQ(collect("S2", "g3"), ResultData(200, "OK", "released"));
    });
    EXPECT_TRUE(finished);
    EXPECT_TRUE(m_oLog.contains("Started GUI function. Flag bGuisBusy set"));
    EXPECT_EQ(m_oLog.count("Finished GUI function. Flag bGuisBusy removed"), 2);
    EXPECT_EQ(m_oLog.count("job added for sessionId <S2> and commandId <g2>"), 0);
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
    EXPECT_TRUE(m_oLog.contains("sessionId <S> with commandId <2> added to unprivileged jobs"));

    EXPECT_EQ(collect("S", "1"), ResultData(200, "OK", "open"));
    EXPECT_FALSE(m_poLauncher->IsUnprivilegedJob("S", "1"));
    EXPECT_TRUE(m_poLauncher->IsUnprivilegedJob("S", "2"));
    EXPECT_TRUE(m_oLog.contains("sessionId <S> with commandId <1> removed from unprivileged jobs"));
}

TEST_F(LauncherTest, RemoveAllForSession_RunningJobAndResults_EndedAfterFunctionReturnedOtherSessionKept)
{
    load("Slow", "S");
    load("Mod1", "S");
    load("Mod1", "T");
    const QByteArray started = path("started"), release = path("release");
    ASSERT_EQ(start("Slow", "Wait", "S", "run", {{"started", started}, {"release", release}}, true),
              kAccepted);
    ASSERT_EQ(start("Mod1", "Cmd1", "S", "done", {{"data", "s"}}, true), kAccepted);
    ASSERT_EQ(start("Mod1", "Cmd1", "T", "keep", {{"data", "t"}}), kAccepted);
    ASSERT_TRUE(waitForLog(QStringLiteral("Result for sessionId <S> and commandId <done> saved")));
    ASSERT_TRUE(waitForLog(QStringLiteral("Result for sessionId <T> and commandId <keep> saved")));
    ASSERT_TRUE(waitForFile(started));

    // Released only once the teardown has ended the job, so returning early would show.
    std::jthread releaser([&] {
        if (QTest::qWaitFor([&] { return m_oLog.contains("Job ended. sessionid=S, cmdId=run"); },
                            kDeadlineMs))
            touch(release);
    });
    const bool bRes = m_poLauncher->RemoveAllForSession("S");
    const quint64 callsAfter = m_poManager->getModule("Slow")->getCallsInProgress();
    releaser.join();

    EXPECT_TRUE(bRes);
    EXPECT_EQ(callsAfter, 0u);
    for (const QByteArray id : {"run", "done"}) {
        EXPECT_EQ(m_poLauncher->GetResult(resultFields("S", id)), kNoResult) << id.constData();
        EXPECT_FALSE(m_poLauncher->IsUnprivilegedJob("S", id)) << id.constData();
    }
    EXPECT_EQ(m_poLauncher->GetResult(resultFields("T", "keep")), ResultData(200, "OK", "t"));
    for (const char *line :
         {"Clear all jobs for sessionId <S> bRes=TRUE", "Clear all results for sessionId <S> bRes=TRUE",
          "Clear unprivileged jobs for sessionId <S> bRes=TRUE"})
        EXPECT_TRUE(m_oLog.contains(QString::fromUtf8(line))) << line;
}

TEST_F(LauncherTest, SetResult_SecondResultForUncollectedPair_FirstKept)
{
    load("Mod1", "S");
    ASSERT_EQ(start("Mod1", "Cmd1", "S", "1", {{"data", "first"}}), kAccepted);
    ASSERT_TRUE(waitForLog(QStringLiteral("Result for sessionId <S> and commandId <1> saved")));
    ASSERT_EQ(start("Mod1", "Cmd1", "S", "1", {{"data", "second"}}), kAccepted);
    ASSERT_TRUE(waitForLog(QStringLiteral("Job ended. sessionid=S, cmdId=1"), 2));

    EXPECT_TRUE(m_oLog.contains(
        "Result for session S and cmdId 1 already set\nPrevious value: first\nNew value: second"));
    EXPECT_EQ(m_poLauncher->GetResult(resultFields("S", "1")), ResultData(200, "OK", "first"));
    EXPECT_EQ(m_poLauncher->GetResult(resultFields("S", "1")), kNoResult);
}

} // namespace
