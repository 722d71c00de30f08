#pragma once

#include <QByteArray>
#include <QMutex>

// The certificate and key files, read once per process by the first connection that
// needs them and shared by all handlers.
class TlsMaterialCache
{
public:
    static TlsMaterialCache &instance();

    // Reads both files when either cache is still empty; true when both are filled.
    bool load();
    QByteArray certificate() const;
    QByteArray key() const;

private:
    mutable QMutex m_oMutex;
    QByteArray m_oCertificate; // guarded by m_oMutex
    QByteArray m_oKey;         // guarded by m_oMutex
};
