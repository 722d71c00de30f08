// The owner of a connection's other end, read from the kernel's crafted replies.
#include "PlatformTestSupport.h"
#include "platform/PeerSocketQuery_linux.h"

#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>

namespace {

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
