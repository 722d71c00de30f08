// The owner of a connection's other end, asked of the kernel for exactly that connection.
#include "PlatformTestSupport.h"
#include "platform/PeerSocketQuery_linux.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/stat.h>

namespace {

struct LoopbackCase
{
    const char *name;
    QHostAddress listenOn;
    QHostAddress connectTo;
    QHostAddress bindTo;   // null: the kernel picks the client's end
    bool bindToServerPort; // the client's end borrows the server's port number
};

class PeerSocketLiveTest : public ::testing::TestWithParam<LoopbackCase>
{
};

quint64 inodeOf(qintptr descriptor)
{
    struct stat status = {};
    return ::fstat(int(descriptor), &status) == 0 ? quint64(status.st_ino) : 0;
}

TEST_P(PeerSocketLiveTest, GetPeerSocketOwner_RealConnection_ClientSocketItselfThenNoneOnceClosed)
{
    const LoopbackCase &c = GetParam();
    QTcpServer server;
    if (!server.listen(c.listenOn, 0)) {
        GTEST_SKIP() << "no " << c.listenOn.toString().toStdString() << " here";
    }
    QTcpSocket client;
    if (!c.bindTo.isNull()) {
        ASSERT_TRUE(client.bind(c.bindTo, c.bindToServerPort ? server.serverPort() : 0));
    }
    client.connectToHost(c.connectTo, server.serverPort());
    ASSERT_TRUE(client.waitForConnected(5000));
    ASSERT_TRUE(server.waitForNewConnection(5000));
    const std::unique_ptr<QTcpSocket> accepted(server.nextPendingConnection());
    auto utils = Fakes().utils();

    const auto owner = utils.getPeerSocketOwner(accepted->socketDescriptor());
    ASSERT_TRUE(owner.has_value());
    EXPECT_EQ(owner->uid, ::geteuid());
    EXPECT_EQ(owner->inode, inodeOf(client.socketDescriptor()));
    EXPECT_EQ(owner->account, utils.getDomainAndUsernameForPid(getpid()));
    const bool inIpv4Table = c.connectTo.protocol() == QAbstractSocket::IPv4Protocol;
    EXPECT_EQ(utils.getPidOfConnectionPeer(accepted->socketDescriptor()), inIpv4Table ? getpid() : 0);
    client.abort();
    EXPECT_FALSE(utils.getPeerSocketOwner(accepted->socketDescriptor()).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PeerSocketLiveTest,
    ::testing::Values(
        LoopbackCase{"ipv4", QHostAddress::LocalHost, QHostAddress::LocalHost, {}, false},
        LoopbackCase{"ipv6", QHostAddress::LocalHostIPv6, QHostAddress::LocalHostIPv6, {}, false},
        LoopbackCase{"dualStackListenerIpv4Client", QHostAddress::Any, QHostAddress::LocalHost, {}, false},
        LoopbackCase{"secondLoopbackWithServerPort", QHostAddress::LocalHost, QHostAddress::LocalHost,
                     QHostAddress(QStringLiteral("127.0.0.2")), true}),
    [](const ::testing::TestParamInfo<LoopbackCase> &info) { return std::string(info.param.name); });

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

QByteArray record(quint8 state = 1, quint16 peerPort = 40000, quint32 inode = 99, quint8 family = AF_INET)
{
    inet_diag_msg record{};
    record.idiag_family = family;
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
    const struct
    {
        const char *name;
        QByteArray reply;
        int error;     // 0: parsed
        quint64 inode; // 0: no owner
    } cases[] = {
        {"owner", message(SOCK_DIAG_BY_FAMILY, record()), 0, 99},
        {"noSuchSocket", error(-ENOENT), 0, 0},
        {"refused", error(-EACCES), EACCES, 0},
        {"acknowledgementOnly", error(0), EBADMSG, 0},
        {"listenerInstead", message(SOCK_DIAG_BY_FAMILY, record(kListen)), 0, 0},
        {"heldByNoProcess", message(SOCK_DIAG_BY_FAMILY, record(1, 40000, 0)), 0, 0},
        {"otherPeerPort", message(SOCK_DIAG_BY_FAMILY, record(1, 8631)), 0, 0},
        {"otherFamily", message(SOCK_DIAG_BY_FAMILY, record(1, 40000, 99, AF_INET6)), EBADMSG, 0},
        {"otherSequence", message(SOCK_DIAG_BY_FAMILY, record(), 7), EBADMSG, 0},
        {"otherType", message(NLMSG_DONE, record()), EBADMSG, 0},
        {"recordCut", message(SOCK_DIAG_BY_FAMILY, record().left(20)), EBADMSG, 0},
    };
    for (const auto &c : cases) {
        const auto result = PeerSocketQuery::parseReply(c.reply, kAsked, 1);
        EXPECT_EQ(result.error, c.error) << c.name;
        EXPECT_EQ(result.value ? result.value->inode : 0, c.inode) << c.name;
    }
    // Every cut of a whole reply, its header's length then claiming bytes that are not there.
    const QByteArray whole = message(SOCK_DIAG_BY_FAMILY, record());
    for (qsizetype size = 0; size < whole.size(); ++size)
        EXPECT_EQ(PeerSocketQuery::parseReply(QByteArrayView(whole).first(size), kAsked, 1).error, EBADMSG)
            << size;
}

} // namespace
