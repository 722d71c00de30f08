// Sockets, process names and owners read from a crafted /proc, and the owner of a connection's
// other end from the kernel's crafted replies.
#include "PlatformTestSupport.h"
#include "platform/PeerSocketQuery_linux.h"
#include "platform/ProcessUtilsExceptions.h"
#include "support/Files.h"

#include <QDir>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

const QByteArray kTcpHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

QByteArray tcpRow(const char *local, const char *remote, const char *state, uint uid, quint64 inode)
{
    return QStringLiteral("   0: %1 %2 %3 00000000:00000000 00:00000000 00000000 %4 0 %5 1 0000000000000000 "
                          "100 0 0 10 0\n")
        .arg(QLatin1String(local), QLatin1String(remote), QLatin1String(state))
        .arg(uid)
        .arg(inode)
        .toLatin1();
}

struct FakeProc
{
    QTemporaryDir dir;
    void write(const QString &path, const QByteArray &content) const
    {
        ASSERT_TRUE(writeWholeFile(dir.filePath(path), content));
    }
    void link(const QString &path, const QString &target) const
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(dir.filePath(path)).path()));
        ASSERT_TRUE(QFile::link(target, dir.filePath(path)));
    }
    ProcessUtilsLinuxImpl utils() const { return Fakes().utils(dir.path()); }
};

// Two servers: pid 100 listens on 8630 and holds one accepted connection, pid 300 listens on 8000 and 8631.
// Pid 200 holds the client, a socket the table gives to another uid, whose processes are not searched;
// 5555 has no visible owner; 6000 is in TIME_WAIT; pid 400 holds no socket. Malformed lines (bad hex,
// short fields) sit between the rows.
TEST(SocketTableTest, SocketLookups_CraftedTcpTableAndFds_OwnerPidOrListeningPort)
{
    const uint me = getuid();
    const FakeProc proc;
    proc.write("net/tcp",
               kTcpHeader + tcpRow("0100007F:21B6", "00000000:0000", "0A", me, 1001) +
                   tcpRow("0100007F:21B6", "0100007F:9C40", "01", me, 1002) +
                   tcpRow("0100007F:9C40", "0100007F:21B6", "01", 4242, 1003) +
                   "   7: ZZZZ:1F40 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 77 1\n"
                   "0: 0100007F:1E61 00000000:0000 0A 0:0 0:0 0 x 0 1001 1\n" // 7777, held by pid 100
                   "0: 100007F:1E61 00000000:0000 0A 0:0 0:0 0 0 0 1001 1\n0: 0100007F:1E61 0A\n" +
                   tcpRow("0100007F:1F40", "00000000:0000", "0A", me, 1004) +
                   tcpRow("0100007F:21B7", "00000000:0000", "0A", me, 1005) +
                   tcpRow("00000000:15B3", "00000000:0000", "0A", me, 1006) +
                   tcpRow("0100007F:1770", "0100007F:21B6", "06", 0, 0));
    // pid, descriptor, socket inode
    const int sockets[][3] = {{100, 3, 1001}, {100, 7, 1002}, {200, 4, 1003}, {300, 5, 1004}, {300, 6, 1005}};
    for (const auto &[pid, fd, inode] : sockets)
        proc.link(QStringLiteral("%1/fd/%2").arg(pid).arg(fd), QStringLiteral("socket:[%1]").arg(inode));
    proc.link("400/fd/0", "/dev/null");
    for (const char *pid : {"100", "300"})
        proc.link(QStringLiteral("%1/exe").arg(pid), "/usr/bin/VeltraneCryptoServer");
    auto utils = proc.utils();
    // A port and the pid owning it (0: none).
    const std::pair<quint16, qint64> owners[] = {{8630, 100}, {40000, 0}, {8000, 300},
                                                 {5555, 0},   {6000, 0},  {7777, 0}};
    for (const auto &[port, pid] : owners)
        EXPECT_EQ(utils.getPidOfProcessAtPort(port), pid) << "port " << port;
    // A pid, the least port asked for, and the port it listens on (0: none).
    const std::tuple<qint64, quint16, quint16> listeners[] = {
        {300, 8630, 8631}, {300, 0, 8000}, {300, 8632, 0}, {100, 0, 8630}, {200, 0, 0}, {400, 0, 0}};
    for (const auto &[pid, minPort, port] : listeners)
        EXPECT_EQ(utils.getPortOfProcessWithPID(pid, minPort), port) << "pid " << pid << " min " << minPort;
    // The first server of the uid, by name in any case, with a port high enough.
    EXPECT_EQ(utils.getPortOfUserProcess(me, "veltranecryptoserver", 0), 8630);
    EXPECT_EQ(utils.getPortOfUserProcess(me, "VeltraneCryptoServer", 8631), 8631);
    EXPECT_EQ(utils.getPortOfUserProcess(me + 1, "VeltraneCryptoServer", 0), 0);
}

TEST(ProcessNameTest, GetProcessNameForPid_ExeThenCmdlineThenUnknown_BaseNameStatParsedAndMissingTablesThrow)
{
    // The pid, its exe link (null: none), its command line, the name read from them.
    const std::tuple<qint64, const char *, QByteArray, const char *> cases[] = {
        {10, "/usr/bin/VeltraneCryptoServer", QByteArray("ignored\0", 8), "VeltraneCryptoServer"},
        {11, "/usr/bin/server (deleted)", {}, "server"}, // replaced binary
        {12, nullptr, QByteArray("/usr/lib/x/worker.bin\0--flag\0", 29), "worker"},
        {13, nullptr, QByteArray("/usr/bin/helper --type=renderer\0", 32), "helper"}, // rewritten argv
        {14, nullptr, {}, "<unknown>"},                                               // kernel thread
    };
    FakeProc proc;
    for (const auto &[pid, exe, cmdline, name] : cases) {
        proc.write(QStringLiteral("%1/cmdline").arg(pid), cmdline);
        if (exe)
            proc.link(QStringLiteral("%1/exe").arg(pid), exe);
    }
    auto utils = proc.utils();
    for (const auto &[pid, exe, cmdline, name] : cases)
        EXPECT_EQ(utils.getProcessNameForPid(pid), QString::fromLatin1(name)) << "pid " << pid;
    EXPECT_EQ(utils.getProcessNameForPid(12345), QStringLiteral("<unknown>"));
    const auto stat =
        ProcFs::parseStat("7 (a) (b c) R 1 7 7 0 -1 4194560 1 2 3 4 5 6 7 8 20 0 1 0 777 100 200");
    EXPECT_EQ(stat ? stat->comm : QByteArray(), QByteArray("a) (b c")); // fields after the last parenthesis
    EXPECT_THROW(utils.getPidOfProcessAtPort(8630), GetExtendedTcpTableException); // no net/tcp
    EXPECT_THROW(utils.getPortOfProcessWithPID(1, 0), GetExtendedTcpTableException);
    EXPECT_THROW(utils.getDomainAndUsernameForPid(999), OpenProcessException);
}

// Replies as the kernel would send them for the connection 127.0.0.2:40000 -> 127.0.0.1:8631.
const TcpConnectionEnds kAsked{AF_INET, {127, 0, 0, 1}, 8631, {127, 0, 0, 2}, 40000};

QByteArray message(quint16 type, const QByteArray &payload, quint32 sequence = 1)
{
    nlmsghdr header{};
    header.nlmsg_len = quint32(NLMSG_HDRLEN + payload.size());
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    return QByteArray(reinterpret_cast<const char *>(&header), sizeof header) + payload;
}

QByteArray record(quint8 state = 1, quint16 peerPort = 40000, quint32 inode = 99)
{
    inet_diag_msg record{};
    record.idiag_family = AF_INET;
    record.idiag_state = state;
    record.id.idiag_sport = htons(peerPort);
    record.id.idiag_dport = htons(8631);
    std::memcpy(record.id.idiag_src, "\x7f\x00\x00\x02", 4);
    std::memcpy(record.id.idiag_dst, "\x7f\x00\x00\x01", 4);
    record.idiag_uid = 1234;
    record.idiag_inode = inode;
    return QByteArray(reinterpret_cast<const char *>(&record), sizeof record);
}

QByteArray error(int code)
{
    nlmsgerr error{};
    error.error = code;
    return message(NLMSG_ERROR, QByteArray(reinterpret_cast<const char *>(&error), sizeof error));
}

TEST(PeerSocketReplyTest, ParseReply_CraftedReplies_OwnerNoneOrError)
{
    constexpr quint8 kListen = 10;
    // The reply, then the error (0: parsed) and the owner's inode (0: none).
    const std::tuple<QByteArray, int, quint64> cases[] = {
        {message(SOCK_DIAG_BY_FAMILY, record()), 0, 99},
        {error(-ENOENT), 0, 0}, // no such socket
        {error(-EACCES), EACCES, 0},
        {message(SOCK_DIAG_BY_FAMILY, record(kListen)), 0, 0},         // a listener instead
        {message(SOCK_DIAG_BY_FAMILY, record(1, 40000, 0)), 0, 0},     // held by no process
        {message(SOCK_DIAG_BY_FAMILY, record(1, 8631)), 0, 0},         // another peer port
        {message(SOCK_DIAG_BY_FAMILY, record().left(20)), EBADMSG, 0}, // record cut
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto &[reply, error, inode] = cases[i];
        const auto result = PeerSocketQuery::parseReply(reply, kAsked, 1);
        EXPECT_EQ(result.error, error);
        EXPECT_EQ(result.value ? result.value->inode : 0, inode);
    }
    // Every cut of a whole reply, its header's length then claiming bytes that are not there.
    const QByteArray whole = message(SOCK_DIAG_BY_FAMILY, record());
    for (qsizetype size = 0; size < whole.size(); ++size)
        EXPECT_EQ(PeerSocketQuery::parseReply(QByteArrayView(whole).first(size), kAsked, 1).error, EBADMSG)
            << size;
}

} // namespace
