// The TEST command's machine snapshot.
#include "PlatformTestSupport.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/SystemInformationReport.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

const QString kPrefix = QStringLiteral("[VYR-server]:CSignController::ProcessTest: ");

TEST(SystemInformationReportTest, Report_ToolsAnswerOrHang_LogsSnapshotAndAnswersOk)
{
    const LogCapture log;
    FakePlatform fakes;
    fakes.runner->respond(QStringLiteral("ps -eww -o user,pid,ppid,etime,args"), FakeCommandRunner::timedOut());
    fakes.runner->respond(QStringLiteral("uname -a"), FakeCommandRunner::succeeded("Linux host 6.1.0\n"));
    ProcessUtilsLinuxImpl utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    EXPECT_EQ(runSystemInformationReport(utils), QByteArray("OK"));
    EXPECT_TRUE(log.contains(kPrefix + QStringLiteral("oProcessesList=Command finished with TIMEOUT")));
    EXPECT_TRUE(log.containsText(kPrefix + QStringLiteral("oSystemCriticalInfo=\nPRETTY_NAME=")));
    EXPECT_TRUE(log.containsText(kPrefix + QStringLiteral("oSystemDetailInfo=\n")));
    EXPECT_TRUE(log.contains(kPrefix + QStringLiteral("oConnectedDevicesInfo=<NOT IMPLEMENTED>")));
}

class ThrowingProcessUtils : public ProcessUtilsLinuxImpl
{
public:
    using ProcessUtilsLinuxImpl::ProcessUtilsLinuxImpl;
    QByteArray getSystemDetailInfo() override { throw EnumProcessesException(QStringLiteral("gone")); }
};

TEST(SystemInformationReportTest, Report_QueryThrows_LogsWarningAndAnswersFailureText)
{
    const LogCapture log;
    FakePlatform fakes;
    ThrowingProcessUtils utils(QStringLiteral("/proc"), QStringLiteral("/etc"), fakes.dependencies());
    EXPECT_EQ(runSystemInformationReport(utils), QByteArray(kSystemInformationFailureText));
    EXPECT_TRUE(log.contains(kPrefix + QStringLiteral("Problem occurred when trying to obtain system information")));
}

} // namespace
