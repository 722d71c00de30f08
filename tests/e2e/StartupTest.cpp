#include "support/QtPrinters.h"
#include "support/ServerProcess.h"

#include <csignal>
#include <gtest/gtest.h>

namespace {

// The signal and the exit code it ends the server with (-1: dies of it).
using SignalCase = std::pair<int, int>;

class StartupSignalTest : public ::testing::TestWithParam<SignalCase>
{
};

// Standard error carries only the log file's name, unless the signal is fatal.
TEST_P(StartupSignalTest, Signal_RunningServer_CriticalLineThenExit)
{
    ServerProcess server;
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.waitForLogLine("MaxFileSize: "));
    EXPECT_EQ(server.stopWithSignal(GetParam().first), GetParam().second);
    const QString line =
        QStringLiteral("critical [VYR-server]:signalHandler: !!! APPLICATION TERMINATED !!! signal:%1\n")
            .arg(GetParam().first);
    EXPECT_TRUE(server.logText().contains(line));
    const QString standardError = QString::fromUtf8(server.standardError());
    if (GetParam().second == 0)
        EXPECT_EQ(standardError, "Log file: " + server.logFilePath() + "\n");
    else
        EXPECT_TRUE(standardError.contains(line));
}

INSTANTIATE_TEST_SUITE_P(TermIntAndSegv, StartupSignalTest,
                         ::testing::Values(SignalCase{SIGTERM, 0}, SignalCase{SIGINT, 0},
                                           SignalCase{SIGSEGV, -1}));

TEST(Startup, Start_WithoutIni_MessageOnStandardErrorAndExitZero)
{
    ServerProcess server;
    server.removeIni();
    ASSERT_TRUE(server.start());
    EXPECT_EQ(server.waitForExit(), 0);
    EXPECT_EQ(server.standardError(), "Exit(0): ini file not found\n");
}

} // namespace
