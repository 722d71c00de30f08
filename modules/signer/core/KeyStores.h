#pragma once

#include "SignerSettings.h"
#include "SigningKey.h"

#include <vector>

namespace vyr::signer {

// Every store the settings name, asked together: the proxy's tokens, the extra PKCS#11
// libraries, the PKCS#12 directory, then the browser's certificate database. The thread that runs the listing
// and signing commands; keep one for the module's life so that a key listed earlier and gone now is told
// apart from an id never listed.
class KeyStores
{
public:
    explicit KeyStores(const SignerSettings &settings);
    explicit KeyStores(std::vector<std::unique_ptr<KeyStore>> stores);

    // One entry per id: a token reachable through two libraries is listed once.
    QList<CertificateEntry> list();
    // Throws CertificateNotFound for an id no store has, and what the store throws.
    std::unique_ptr<SigningKey> open(const QByteArray &id);

private:
    std::vector<std::unique_ptr<KeyStore>> m_stores;
};

} // namespace vyr::signer
