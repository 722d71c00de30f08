#pragma once

#include <QString>

#include <optional>

// Who holds the other end of a connection, learnt once when the connection is accepted
// and kept for its life. Unknown (the default) counts as another account.
struct PeerIdentity
{
    // Account text ("host/user"), or "<UNKNOWN>".
    QString account = QStringLiteral("<UNKNOWN>");
    // Owner of the peer's socket as the kernel reported it; unset when another route told.
    std::optional<quint32> uid;
    bool onServerAccount = false;
    bool onSystemAccount = false;
};
