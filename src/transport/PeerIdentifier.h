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
    // On the connection's handler thread, before anything is read from the connection;
    // blocks at most for the dispatcher's deadline.
    static PeerIdentity identify(const QAbstractSocket &socket);
    // The account of the peer's socket when the kernel names one other than the server's;
    // nothing when it names the server's or cannot tell. One kernel query, no other process
    // asked, so the listener thread may wait for it.
    static std::optional<QString> kernelNamedOtherAccount(qintptr socketDescriptor);
};
