#pragma once

#include "common/OpenSslHandles.h"

#include <QByteArray>

// PEM text of keys and certificates. Throws CertGenException on malformed input or when
// OpenSSL refuses.
class PemCodec
{
public:
    static QByteArray certificateToPem(X509 *certificate);
    static vyr::openssl::X509Ptr certificateFromPem(const QByteArray &pem);

    // PKCS#8, unencrypted: the caller protects the file by its permissions and wipes the text.
    static QByteArray privateKeyToPem(EVP_PKEY *key);
    // PKCS#8 encrypted with AES-256-CBC under the pass phrase.
    static QByteArray encryptedPrivateKeyToPem(EVP_PKEY *key, const QByteArray &passPhrase);
    // An encrypted key needs its pass phrase; a wrong or missing one throws. Never prompts.
    static vyr::openssl::EvpPkeyPtr privateKeyFromPem(const QByteArray &pem,
                                                      const QByteArray &passPhrase = {});

private:
    static vyr::openssl::BioPtr newMemoryBio();
    static QByteArray bioContents(BIO *bio);
};
