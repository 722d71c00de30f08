#include "KeyStores.h"

#include "core/SignerError.h"

std::unique_ptr<SigningKey> openKeyById(const KeyStoreList &stores, const QByteArray &id)
{
    // An id is only ever looked up among what the stores hold, never used to find a file.
    for (const std::unique_ptr<KeyStore> &store : stores) {
        if (std::unique_ptr<SigningKey> key = store->open(id))
            return key;
    }
    throw SignerError(SignerErrorCode::CertificateNotFound, QStringLiteral("No certificate has that id."));
}
