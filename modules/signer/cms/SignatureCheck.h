#pragma once

#include "core/SigningKey.h"

#include <QByteArray>
#include <openssl/evp.h>

namespace cms {

// Whether `signature` is what SigningKey::signDigest promises over `digestValue` for this
// public key. A token that signs with another key than its certificate names, or answers
// with the wrong padding, is caught here rather than by whoever later verifies the document.
bool signatureMatches(EVP_PKEY *publicKey, SignatureAlgorithm signature, DigestAlgorithm digest,
                      const QByteArray &digestValue, const QByteArray &signatureValue);

} // namespace cms
