#pragma once

#include "keyprotection/ServerKeyFiles.h"

#include <QByteArray>
#include <QMutex>
#include <optional>

// The certificate and key files, shared by all handlers: read by the first connection
// that needs them (or at start-up), and again by the first one after the files change.
class TlsMaterialCache
{
public:
    static TlsMaterialCache &instance();

    // True when both files have content; a set that cannot serve is logged once per change.
    bool load();
    QByteArray certificate() const;
    QByteArray key() const;

private:
    mutable QMutex m_oMutex;
    std::optional<ServerKeyFiles> m_oFiles; // guarded by m_oMutex; made on first load
};
