#pragma once

#include "keyprotection/ServerKeyFiles.h"

#include <QMutex>
#include <QSslConfiguration>
#include <memory>
#include <optional>

// The server's TLS set-up (certificate, decrypted key, ciphers, protocol), shared by all
// handlers. The files are checked on every connection, but the pass phrase is derived and
// the key decrypted only at start-up and after the files change: a connection copies the
// current snapshot instead of building its own.
class TlsMaterialCache
{
public:
    // Immutable once published; a change publishes a new one, so a handler that still holds
    // the old one finishes its handshake with it.
    struct Snapshot
    {
        QSslConfiguration configuration;
        bool hasMaterial = false; // both files have content (whether or not they serve)
        bool serves = false;      // the key opens and belongs to the certificate
    };

    static TlsMaterialCache &instance();

    // The snapshot for the files as they are now; a set that cannot serve is logged once per
    // change. Called from the listener and every handler thread.
    std::shared_ptr<const Snapshot> current();
    // How many snapshots were built: a guard against decrypting the key per connection.
    quint64 builds() const;

private:
    static std::shared_ptr<const Snapshot> build(const ServerKeyFiles &files, bool hasMaterial);

    mutable QMutex m_oMutex;
    std::optional<ServerKeyFiles> m_oFiles;      // guarded by m_oMutex; made on first call
    std::shared_ptr<const Snapshot> m_poCurrent; // guarded by m_oMutex; swapped on a change
    quint64 m_iBuiltGeneration = 0;              // guarded by m_oMutex
    quint64 m_iBuilds = 0;                       // guarded by m_oMutex
};
