#pragma once

#include "SysResult.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <array>
#include <optional>

// Both ends of a TCP connection as our socket sees them: addresses in network byte order
// (the first 4 bytes for IPv4), ports in host order.
struct TcpConnectionEnds
{
    int family = 0; // AF_INET or AF_INET6
    std::array<quint8, 16> localAddress{};
    quint16 localPort = 0;
    std::array<quint8, 16> peerAddress{};
    quint16 peerPort = 0;
};

// The kernel's record of who created a socket.
struct SocketOwner
{
    quint32 uid = 0;
    quint64 inode = 0;
};

// Who holds the other end of a loopback connection, asked of the kernel (NETLINK_SOCK_DIAG)
// for exactly that connection: the socket whose source is the peer's end and whose
// destination is ours. No table is walked, and a socket that merely shares a port number
// with ours is never taken for it.
class PeerSocketQuery
{
public:
    // ENOTCONN when the peer has already gone.
    static SysResult<TcpConnectionEnds> endsOf(int socketDescriptor);
    // None when no process holds the peer's end any more (closed, in TIME_WAIT, or gone).
    static SysResult<std::optional<SocketOwner>> peerOwner(const TcpConnectionEnds &ends);

    static QByteArray request(const TcpConnectionEnds &ends, quint32 sequence);
    // One reply datagram, read with every length checked against the bytes really there:
    // the owner, none, the kernel's errno, or EBADMSG for anything malformed.
    static SysResult<std::optional<SocketOwner>> parseReply(QByteArrayView reply,
                                                            const TcpConnectionEnds &ends, quint32 sequence);
};
