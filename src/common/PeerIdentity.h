#pragma once

#include <QString>
#include <optional>

// Who holds the other end of a connection, learnt once when the connection is accepted
// and kept for its life. Unknown (the default) counts as another account.
struct PeerIdentity
{
    // Matches no account.
    static QString unknownAccount() { return QStringLiteral("<UNKNOWN>"); }

    // Account text ("host/user"), or unknownAccount().
    QString account = unknownAccount();
    // Owner of the peer's socket as the kernel reported it, or of the peer's process when
    // the kernel could not be asked; unset when only the dispatcher could name the account.
    std::optional<quint32> uid;
    bool onServerAccount = false;
    bool onSystemAccount = false;
};
