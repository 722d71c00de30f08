#include "PeerSocketQuery_linux.h"

#include "common/UniqueFd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

using OwnerResult = SysResult<std::optional<SocketOwner>>;

constexpr quint32 kSequence = 1;
constexpr quint8 kTcpListen = 10;
// One exact answer is a header and a socket record with a few attributes; anything larger
// is not the answer to our question.
constexpr size_t kReplyBufferSize = 8192;
// The kernel answers within our send; the bound only guards against one that does not.
constexpr timeval kReceiveTimeout{1, 0};

struct DiagRequest
{
    nlmsghdr header;
    inet_diag_req_v2 body;
};

bool readEnd(const sockaddr_storage &address, int &family, std::array<quint8, 16> &bytes, quint16 &port)
{
    if (address.ss_family == AF_INET) {
        sockaddr_in in{};
        std::memcpy(&in, &address, sizeof in);
        family = AF_INET;
        std::memcpy(bytes.data(), &in.sin_addr, 4);
        port = ntohs(in.sin_port);
        return true;
    }
    if (address.ss_family != AF_INET6)
        return false;
    sockaddr_in6 in6{};
    std::memcpy(&in6, &address, sizeof in6);
    port = ntohs(in6.sin6_port);
    // The IPv4 peer of a dual-stack socket is an IPv4 socket in the kernel's tables.
    if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
        family = AF_INET;
        std::memcpy(bytes.data(), in6.sin6_addr.s6_addr + 12, 4);
    } else {
        family = AF_INET6;
        std::memcpy(bytes.data(), &in6.sin6_addr, 16);
    }
    return true;
}

bool sameAddress(const __be32 (&reported)[4], const std::array<quint8, 16> &expected, int family)
{
    return std::memcmp(reported, expected.data(), family == AF_INET ? 4 : 16) == 0;
}

// The kernel falls back to a listening socket when the exact one is gone; only the
// connection's own peer socket, still held by a process, names an owner.
std::optional<SocketOwner> ownerIn(const inet_diag_msg &record, const TcpConnectionEnds &ends)
{
    const inet_diag_sockid &id = record.id;
    if (record.idiag_state == kTcpListen || record.idiag_inode == 0 ||
        ntohs(id.idiag_sport) != ends.peerPort || ntohs(id.idiag_dport) != ends.localPort ||
        !sameAddress(id.idiag_src, ends.peerAddress, ends.family) ||
        !sameAddress(id.idiag_dst, ends.localAddress, ends.family))
        return std::nullopt;
    return SocketOwner{record.idiag_uid, record.idiag_inode};
}

OwnerResult errorIn(QByteArrayView message)
{
    nlmsgerr error{};
    if (size_t(message.size()) < NLMSG_HDRLEN + sizeof error)
        return OwnerResult::failure(EBADMSG);
    std::memcpy(&error, message.data() + NLMSG_HDRLEN, sizeof error);
    if (error.error == -ENOENT)
        return OwnerResult::success(std::nullopt);
    // An acknowledgement (0) was not asked for, and a negated errno lies in -4095..-1; anything
    // else is malformed, and INT_MIN could not even be negated.
    constexpr int kMaxErrno = 4095;
    const bool isErrno = error.error < 0 && error.error >= -kMaxErrno;
    return OwnerResult::failure(isErrno ? -error.error : EBADMSG);
}

} // namespace

SysResult<TcpConnectionEnds> PeerSocketQuery::endsOf(int socketDescriptor)
{
    using Result = SysResult<TcpConnectionEnds>;
    sockaddr_storage local{}, peer{};
    socklen_t localLength = sizeof local, peerLength = sizeof peer;
    if (::getsockname(socketDescriptor, reinterpret_cast<sockaddr *>(&local), &localLength) != 0 ||
        ::getpeername(socketDescriptor, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
        return Result::failure(errno);
    TcpConnectionEnds ends;
    int peerFamily = 0;
    if (!readEnd(local, ends.family, ends.localAddress, ends.localPort) ||
        !readEnd(peer, peerFamily, ends.peerAddress, ends.peerPort) || peerFamily != ends.family)
        return Result::failure(EAFNOSUPPORT);
    return Result::success(ends);
}

QByteArray PeerSocketQuery::request(const TcpConnectionEnds &ends, quint32 sequence)
{
    DiagRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = sequence;
    request.body.sdiag_family = quint8(ends.family);
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0U;
    inet_diag_sockid &id = request.body.id;
    id.idiag_sport = htons(ends.peerPort);
    id.idiag_dport = htons(ends.localPort);
    std::memcpy(id.idiag_src, ends.peerAddress.data(), sizeof id.idiag_src);
    std::memcpy(id.idiag_dst, ends.localAddress.data(), sizeof id.idiag_dst);
    id.idiag_cookie[0] = id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return QByteArray(reinterpret_cast<const char *>(&request), sizeof request);
}

SysResult<std::optional<SocketOwner>>
PeerSocketQuery::parseReply(QByteArrayView reply, const TcpConnectionEnds &ends, quint32 sequence)
{
    nlmsghdr header{};
    if (size_t(reply.size()) < sizeof header)
        return OwnerResult::failure(EBADMSG);
    std::memcpy(&header, reply.data(), sizeof header);
    if (header.nlmsg_len < sizeof header || header.nlmsg_len > size_t(reply.size()) ||
        header.nlmsg_seq != sequence)
        return OwnerResult::failure(EBADMSG);
    const QByteArrayView message = reply.first(header.nlmsg_len);
    if (header.nlmsg_type == NLMSG_ERROR)
        return errorIn(message);
    inet_diag_msg record{};
    if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY || size_t(message.size()) < NLMSG_HDRLEN + sizeof record)
        return OwnerResult::failure(EBADMSG);
    std::memcpy(&record, message.data() + NLMSG_HDRLEN, sizeof record);
    if (record.idiag_family != ends.family)
        return OwnerResult::failure(EBADMSG);
    return OwnerResult::success(ownerIn(record, ends));
}

SysResult<std::optional<SocketOwner>> PeerSocketQuery::peerOwner(const TcpConnectionEnds &ends)
{
    const UniqueFd netlink(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!netlink.isValid() ||
        ::setsockopt(netlink.get(), SOL_SOCKET, SO_RCVTIMEO, &kReceiveTimeout, sizeof kReceiveTimeout) != 0)
        return OwnerResult::failure(errno);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const QByteArray question = request(ends, kSequence);
    if (::sendto(netlink.get(), question.constData(), size_t(question.size()), 0,
                 reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel) != question.size())
        return OwnerResult::failure(errno);
    alignas(nlmsghdr) char reply[kReplyBufferSize];
    sockaddr_nl sender{};
    socklen_t senderLength = sizeof sender;
    ssize_t received = -1;
    do {
        received = ::recvfrom(netlink.get(), reply, sizeof reply, MSG_TRUNC,
                              reinterpret_cast<sockaddr *>(&sender), &senderLength);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return OwnerResult::failure(errno);
    // Only the kernel speaks for the kernel.
    if (size_t(received) > sizeof reply || sender.nl_pid != 0)
        return OwnerResult::failure(EBADMSG);
    return parseReply(QByteArrayView(reply, received), ends, kSequence);
}
