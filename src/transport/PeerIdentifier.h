#pragma once

#include "common/PeerIdentity.h"

#include <QtGlobal>
#include <optional>

class QAbstractSocket;

// Learns who holds the other end of a freshly accepted connection: the kernel's owner of
// the peer's socket. Where the kernel cannot be asked, the holder process found through
// the socket table and its account, asked of the dispatcher when we may not read it.
class PeerIdentifier
{
public:
    // On the connection's handler thread, before anything is read from the connection, when
    // the kernel could not name the peer; blocks at most for the dispatcher's deadline.
    static PeerIdentity identify(const QAbstractSocket &socket);
    // On the listener thread: the peer as the kernel names its socket's owner, classified;
    // nothing when the kernel cannot be asked. One kernel query, no other process asked, so
    // the listener may wait for it, and the handler need not ask again.
    static std::optional<PeerIdentity> identifyByKernel(qintptr socketDescriptor);
};
