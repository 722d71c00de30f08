#include "ConnectionSocket.h"

PeerIdentity ConnectionSocket::peerOf(const QTcpSocket *socket)
{
    const auto *connection = qobject_cast<const ConnectionSocket *>(socket);
    return connection ? connection->peer() : PeerIdentity();
}
