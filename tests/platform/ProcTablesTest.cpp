// Sockets, process names, owners and lifetimes read from a crafted /proc.
#include "PlatformTestSupport.h"
#include "platform/ProcFs_linux.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/TcpTable_linux.h"
#include "platform/UserDatabase_linux.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

constexpr uint kOtherUid = 4242;

// pid 100: a server listening on 8630 with one accepted connection;
// pid 200: its client (the row carries another uid, so the search must widen);
// pid 300: listens on 8000 and 8631; port 5555 has no visible owner; 6000 is in TIME_WAIT.
class SocketTableTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const uint me = getuid();
        m_oProc.setTcpTable(tcpTableText({
            tcpRow(0, "0100007F:21B6", "00000000:0000", "0A", me, 1001),
            "garbage line without fields",
            tcpRow(1, "0100007F:21B6", "0100007F:9C40", "01", me, 1002),
            tcpRow(2, "0100007F:9C40", "0100007F:21B6", "01", kOtherUid, 1003),
            "   7: ZZZZ:1F40 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 77 1",
            tcpRow(3, "0100007F:1F40", "00000000:0000", "0A", me, 1004),
            tcpRow(4, "0100007F:21B7", "00000000:0000", "0A", me, 1005),
            tcpRow(5, "00000000:15B3", "00000000:0000", "0A", me, 1006),
            tcpRow(6, "0100007F:1770", "0100007F:21B6", "06", 0, 0),
        }));
        m_oProc.addSocket(100, 3, 1001);
        m_oProc.addSocket(100, 7, 1002);
        m_oProc.addSocket(200, 4, 1003);
        m_oProc.addSocket(300, 5, 1004);
        m_oProc.addSocket(300, 6, 1005);
        m_oProc.setExecutable(300, QStringLiteral("/opt/veltrane/VeltraneCryptoServer"));
        m_oProc.addProcess(400);
    }

    FakeProcTree m_oProc;
    FakePlatform m_oFakes;
    ProcessUtilsLinuxImpl m_oUtils{m_oProc.root(), QStringLiteral("/etc"), m_oFakes.dependencies()};
};

struct PortCase
{
    quint16 port;
    qint64 pid;
};

void PrintTo(const PortCase &c, std::ostream *out)
{
    *out << "port" << c.port;
}

class SocketTablePortTest : public SocketTableTest, public ::testing::WithParamInterface<PortCase>
{
};

TEST_P(SocketTablePortTest, GetPidOfProcessAtPort_CraftedTable_FindsOwner)
{
    EXPECT_EQ(m_oUtils.getPidOfProcessAtPort(GetParam().port), GetParam().pid);
}

INSTANTIATE_TEST_SUITE_P(Rows, SocketTablePortTest,
                         ::testing::Values(PortCase{8630, 100},  // listening row sorts before the connection
                                           PortCase{40000, 200}, // the client's own socket, another uid
                                           PortCase{8000, 300}, PortCase{5555, 0}, // no process holds it
                                           PortCase{6000, 0},                     // TIME_WAIT has no socket
                                           PortCase{7777, 0}));                   // no row at all

struct ListenCase
{
    qint64 pid;
    quint16 minPort;
    quint16 port;
};

void PrintTo(const ListenCase &c, std::ostream *out)
{
    *out << "pid" << c.pid << "_min" << c.minPort;
}

class SocketTableListenTest : public SocketTableTest, public ::testing::WithParamInterface<ListenCase>
{
};

TEST_P(SocketTableListenTest, GetPortOfProcessWithPID_ListeningSockets_FirstAtOrAboveMinimum)
{
    EXPECT_EQ(m_oUtils.getPortOfProcessWithPID(GetParam().pid, GetParam().minPort), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Rows, SocketTableListenTest,
                         ::testing::Values(ListenCase{300, 8630, 8631}, ListenCase{300, 0, 8000},
                                           ListenCase{300, 8632, 0}, ListenCase{100, 0, 8630},
                                           ListenCase{200, 0, 0},  // connected only
                                           ListenCase{400, 0, 0})); // no sockets

TEST_F(SocketTableTest, GetPortOfUserProcess_NameAndAccountMatch_ReturnsListeningPort)
{
    const QString me = UserDatabase::accountText(UserDatabase::userName(getuid()).value);
    EXPECT_EQ(m_oUtils.getPortOfUserProcess(me.toUpper(), QStringLiteral("veltranecryptoserver"), 8630), 8631);
    EXPECT_EQ(m_oUtils.getPortOfUserProcess(me, QStringLiteral("VeltraneCryptoServer"), 9000), 0);
    EXPECT_EQ(m_oUtils.getPortOfUserProcess(QStringLiteral("elsewhere/nobody"), QStringLiteral("VeltraneCryptoServer"), 0), 0);
}

TEST(SocketTableFailureTest, GetPidOfProcessAtPort_NoTable_ThrowsWithErrno)
{
    const LogCapture log;
    FakeProcTree proc;
    ProcessUtilsLinuxImpl utils(proc.root(), QStringLiteral("/etc"), FakePlatform().dependencies());
    try {
        utils.getPidOfProcessAtPort(8630);
        FAIL() << "no exception";
    } catch (const GetExtendedTcpTableException &exception) {
        EXPECT_EQ(exception.getMessage(), QStringLiteral("ProcessUtilsWinImpl::getPidOfProcessAtPort GetExtendedTcpTable Error: 2"));
        EXPECT_EQ(exception.getUserMessage(), ProcessUtilsImplException::defaultUserMessage());
    }
    EXPECT_TRUE(log.contains(QStringLiteral("[processUtils]:ProcessUtilsLinuxImpl::getPidOfProcessAtPort: Exception: "
                                            "ProcessUtilsWinImpl::getPidOfProcessAtPort GetExtendedTcpTable Error: 2")));
    EXPECT_THROW(utils.getPortOfProcessWithPID(1, 0), GetExtendedTcpTableException);
}

TEST(TcpTableTest, Parse_KernelRow_DecodesEndpointsStateUidInode)
{
    const QList<TcpRow> rows = TcpTable::parse(tcpTableText({tcpRow(0, "0100007F:21B6", "0201A8C0:D431", "01", 1000, 98765)}));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].localAddress, 0x7F000001u);
    EXPECT_EQ(rows[0].localPort, 8630);
    EXPECT_EQ(rows[0].remoteAddress, 0xC0A80102u);
    EXPECT_EQ(rows[0].remotePort, 54321);
    EXPECT_EQ(rows[0].state, 1);
    EXPECT_EQ(rows[0].uid, 1000u);
    EXPECT_EQ(rows[0].inode, 98765u);
}

TEST(TcpTableTest, Parse_MalformedLines_Skipped)
{
    const QByteArray text = tcpTableText({"", "0: 0100007F 00000000:0000 0A", "0: 0100007F:21B6 00000000:0000 0A x y z uid 0 inode",
                                          "0: 0100007F:XYZW 00000000:0000 0A 0:0 0:0 0 0 0 5 1",
                                          "0: 100007F:21B6 00000000:0000 0A 0:0 0:0 0 0 0 5 1"});
    EXPECT_TRUE(TcpTable::parse(text).isEmpty());
}

struct StatCase
{
    const char *label;
    const char *text;
    bool valid;
    const char *comm;
    char state;
    quint64 startTicks;
};

void PrintTo(const StatCase &c, std::ostream *out)
{
    printLabel(c.label, out);
}

class ProcStatParseTest : public ::testing::TestWithParam<StatCase>
{
};

TEST_P(ProcStatParseTest, ParseStat_Line_FieldsAfterLastParenthesis)
{
    const auto stat = ProcFs::parseStat(GetParam().text);
    ASSERT_EQ(stat.has_value(), GetParam().valid);
    if (!stat)
        return;
    EXPECT_EQ(stat->comm, QByteArray(GetParam().comm));
    EXPECT_EQ(stat->state, GetParam().state);
    EXPECT_EQ(stat->startTicks, GetParam().startTicks);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProcStatParseTest,
    ::testing::Values(StatCase{"plain", "42 (bash) S 1 42 42 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 12345 100 200\n", true, "bash", 'S', 12345},
                      StatCase{"parenthesised name", "42 (a) (b c) R 1 42 42 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 777 100 200", true, "a) (b c", 'R', 777},
                      StatCase{"too few fields", "42 (x) Z 1 2 3", false, "", '?', 0},
                      StatCase{"no parentheses", "42 bash S 1 42 42 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 777", false, "", '?', 0},
                      StatCase{"bad start time", "42 (x) S 1 42 42 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 notanumber", false, "", '?', 0}));

struct NameCase
{
    const char *label;
    const char *exe;        // nullptr: no exe link
    QByteArray cmdline;     // empty: no cmdline file
    const char *expected;
};

void PrintTo(const NameCase &c, std::ostream *out)
{
    printLabel(c.label, out);
}

class ProcessNameTest : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(ProcessNameTest, GetProcessNameForPid_CraftedProcess_CompleteBaseName)
{
    FakeProcTree proc;
    proc.addProcess(10);
    if (GetParam().exe)
        proc.setExecutable(10, QString::fromLatin1(GetParam().exe));
    if (!GetParam().cmdline.isEmpty())
        proc.writeEntry(10, QStringLiteral("cmdline"), GetParam().cmdline);
    ProcessUtilsLinuxImpl utils(proc.root(), QStringLiteral("/etc"), FakePlatform().dependencies());
    EXPECT_EQ(utils.getProcessNameForPid(10), QString::fromLatin1(GetParam().expected)) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ProcessNameTest,
    ::testing::Values(NameCase{"exe", "/usr/bin/VeltraneCryptoServer", QByteArray("ignored\0", 8), "VeltraneCryptoServer"},
                      NameCase{"long name beyond comm", "/usr/lib/a-very-long-executable-name.bin", {}, "a-very-long-executable-name"},
                      NameCase{"replaced binary", "/usr/bin/server (deleted)", {}, "server"},
                      NameCase{"cmdline fallback", nullptr, QByteArray("/usr/lib/x/worker.bin\0--flag\0", 29), "worker"},
                      NameCase{"rewritten cmdline", nullptr, QByteArray("/usr/bin/helper --type=renderer\0", 32), "helper"},
                      NameCase{"kernel thread", nullptr, {}, "<unknown>"}));

TEST(ProcessNameTest, GetProcessNameForPid_NoSuchProcess_Unknown)
{
    FakeProcTree proc;
    ProcessUtilsLinuxImpl utils(proc.root(), QStringLiteral("/etc"), FakePlatform().dependencies());
    EXPECT_EQ(utils.getProcessNameForPid(12345), QStringLiteral("<unknown>"));
    EXPECT_EQ(utils.getProcessNameForPid(0), QStringLiteral("<unknown>"));
}

TEST(ProcessOwnerTest, OwnerQueries_NoSuchProcess_ThrowOpenProcessException)
{
    const LogCapture log;
    FakeProcTree proc;
    ProcessUtilsLinuxImpl utils(proc.root(), QStringLiteral("/etc"), FakePlatform().dependencies());
    const QString expected = QStringLiteral("OpenProcess with pid: 999 Error: 2");
    const std::function<void()> calls[] = {
        [&] { utils.getDomainAndUsernameForPid(999); }, [&] { utils.getUsernameForPid(999); },
        [&] { utils.isSystemProcess(999); },            [&] { utils.isProcessElevated(999); },
        [&] { utils.getLifetimeForPids(999); },
    };
    for (const auto &call : calls) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const OpenProcessException &exception) {
            EXPECT_EQ(exception.getMessage(), expected);
        }
    }
    EXPECT_TRUE(log.containsText(QStringLiteral("Exception: ") + expected));
}

TEST(ProcessOwnerTest, IsProcessElevated_StatusUidLine_UsesEffectiveUid)
{
    FakeProcTree proc;
    proc.writeEntry(20, QStringLiteral("status"), "Name:\tsudo\nUid:\t1000\t0\t0\t0\nGid:\t0\t0\t0\t0\n");
    proc.writeEntry(21, QStringLiteral("status"), "Name:\tdropped\nUid:\t0\t1000\t1000\t1000\n");
    proc.writeEntry(22, QStringLiteral("status"), "Name:\tbroken\n");
    ProcessUtilsLinuxImpl utils(proc.root(), QStringLiteral("/etc"), FakePlatform().dependencies());
    EXPECT_TRUE(utils.isProcessElevated(20));
    EXPECT_FALSE(utils.isProcessElevated(21));
    EXPECT_THROW(utils.isProcessElevated(22), GetTokenInformationException);
}

TEST(ProcessLifetimeTest, GetLifetimeForPids_StartTicksAndUptime_Milliseconds)
{
    const long ticks = sysconf(_SC_CLK_TCK);
    FakeProcTree proc;
    proc.writeFile(QStringLiteral("uptime"), "1000.50 3000.00\n");
    proc.writeEntry(30, QStringLiteral("stat"),
                    QStringLiteral("30 (my (odd) name) S 1 30 30 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 %1 100 200\n")
                        .arg(ticks * 400)
                        .toLatin1());
    proc.writeEntry(31, QStringLiteral("stat"), "31 (cut");
    ProcessUtilsLinuxImpl utils(proc.root(), QStringLiteral("/etc"), FakePlatform().dependencies());
    EXPECT_EQ(utils.getLifetimeForPids(30), 600500);
    EXPECT_THROW(utils.getLifetimeForPids(31), GetProcessTimesException);
}

TEST(ProcessListTest, GetPIDsOfAllProcesses_NumericEntries_Ascending)
{
    FakeProcTree proc;
    for (const qint64 pid : {20, 3, 1, 100})
        proc.addProcess(pid);
    proc.writeFile(QStringLiteral("self/status"), "");
    proc.writeFile(QStringLiteral("net/tcp"), "");
    proc.writeFile(QStringLiteral("0012/stat"), "");
    ProcessUtilsLinuxImpl utils(proc.root(), QStringLiteral("/etc"), FakePlatform().dependencies());
    EXPECT_EQ(utils.getPIDsOfAllProcesses(), (QList<qint64>{1, 3, 20, 100}));
}

TEST(ProcessListTest, GetPIDsOfAllProcesses_NoRoot_ThrowsEnumProcessesException)
{
    ProcessUtilsLinuxImpl utils(QStringLiteral("/nonexistent-proc"), QStringLiteral("/etc"), FakePlatform().dependencies());
    EXPECT_THROW(utils.getPIDsOfAllProcesses(), EnumProcessesException);
    EXPECT_THROW(utils.getPortOfUserProcess(QStringLiteral("a/b"), QStringLiteral("x"), 0), EnumProcessesException);
}

} // namespace
