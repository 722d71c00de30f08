#pragma once

#include "common/PeerIdentity.h"

#include <QSslSocket>

// The TLS socket of one accepted connection, carrying who holds its other end for as long
// as the connection lasts, so that every request on it is judged by the same answer.
// Lives on its connection handler's thread; the identity is written and read there only.
class ConnectionSocket : public QSslSocket
{
    Q_OBJECT
public:
    using QSslSocket::QSslSocket;

    const PeerIdentity &peer() const { return m_oPeer; }
    void setPeer(PeerIdentity peer) { m_oPeer = std::move(peer); }

    // The identity behind a request's socket; unknown for any socket that is not a connection's.
    static PeerIdentity peerOf(const QTcpSocket *socket);

private:
    PeerIdentity m_oPeer;
};
