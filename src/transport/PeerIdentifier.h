#pragma once

#include "common/PeerIdentity.h"

class QAbstractSocket;

// Learns who holds the other end of a freshly accepted connection: the kernel's owner of
// the peer's socket. Where the kernel cannot be asked, the holder process found through
// the socket table and its account, asked of the dispatcher when we may not read it.
class PeerIdentifier
{
public:
    // On the connection's handler thread, before anything is read from the connection;
    // blocks at most for the dispatcher's deadline.
    static PeerIdentity identify(const QAbstractSocket &socket);
};
