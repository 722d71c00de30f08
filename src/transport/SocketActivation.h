#pragma once

#include <QString>
#include <QtGlobal>

// A listening socket handed over by the service manager, which holds the dispatcher's
// port from boot so that no other account can take it first. The protocol is two
// environment variables: LISTEN_PID (the process meant) and LISTEN_FDS (how many
// descriptors, from 3 on).
class SocketActivation
{
public:
    // At entry, before any other thread runs: the variables are read and cleared (so no
    // child inherits them) where nobody else reads the environment, and the descriptor
    // is kept from children.
    static void claimFromEnvironment();
    // The claimed descriptor when this is the dispatcher and it listens for TCP on
    // 127.0.0.1:port, else -1 after a warning naming why it was ignored (the descriptor is
    // closed then). Once only; -1 without a word when nothing was passed.
    static qintptr takeListeningSocket(quint16 port, bool dispatcher);
    // True while a claimed descriptor listens on 127.0.0.1:port, not yet taken.
    static bool isHolding(quint16 port);
    // Why fd is not a TCP socket listening on 127.0.0.1:port; empty when it is.
    static QString mismatch(int fd, quint16 port);
};
