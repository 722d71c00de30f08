#include "support/QtPrinters.h"
#include "support/ServerProcess.h"

#include <csignal>
#include <gtest/gtest.h>

namespace {

class StartupSignalTest : public ::testing::TestWithParam<int>
{
};

TEST_P(StartupSignalTest, Signal_RunningServer_CriticalLineAndExitZero)
{
    ServerProcess server;
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.waitForLogLine("MaxFileSize: "));
    EXPECT_EQ(server.stopWithSignal(GetParam()), 0);
    QString level;
    QString criticalMessage;
    for (const QString &line : server.logLines()) {
        QString lineLevel;
        const QString message = logMessageOf(line, &lineLevel);
        if (lineLevel == "critical")
            criticalMessage = message;
    }
    EXPECT_EQ(criticalMessage,
              QStringLiteral("[VYR-server]:signalHandler: !!! APPLICATION TERMINATED !!! signal:%1")
                  .arg(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, StartupSignalTest, ::testing::Values(SIGTERM, SIGINT));

TEST(Startup, FatalSignal_RunningServer_LineInLogAndOnStandardErrorThenDiesOfIt)
{
    ServerProcess server;
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.waitForLogLine("MaxFileSize: "));
    EXPECT_EQ(server.stopWithSignal(SIGSEGV), -1);
    const QString line =
        QStringLiteral("critical [VYR-server]:signalHandler: !!! APPLICATION TERMINATED !!! signal:%1")
            .arg(SIGSEGV);
    EXPECT_TRUE(server.logText().contains(line));
    EXPECT_TRUE(QString::fromUtf8(server.standardError()).contains(line));
}

TEST(Startup, Start_WithoutIni_MessageOnStandardErrorAndExitZero)
{
    ServerProcess server;
    server.removeIni();
    ASSERT_TRUE(server.start());
    EXPECT_EQ(server.waitForExit(), 0);
    EXPECT_EQ(server.standardError(), "Exit(0): ini file not found\n");
}

TEST(Startup, Console_WithAndWithoutDebug_LogReachesStandardErrorOnlyWithDebug)
{
    ServerProcess quiet;
    ASSERT_TRUE(quiet.start({"-console"}));
    ASSERT_TRUE(quiet.waitForLogLine("MaxFileSize: "));
    EXPECT_EQ(quiet.stopWithSignal(SIGTERM), 0);
    EXPECT_EQ(quiet.standardError(), ("Log file: " + quiet.logFilePath() + "\n").toUtf8());

    ServerProcess verbose;
    ASSERT_TRUE(verbose.start({"-console", "-debug"}));
    ASSERT_TRUE(verbose.waitForLogLine("MaxFileSize: "));
    EXPECT_EQ(verbose.stopWithSignal(SIGTERM), 0);
    EXPECT_TRUE(verbose.standardError().contains("WindowsServerMode: false"));
}

} // namespace
