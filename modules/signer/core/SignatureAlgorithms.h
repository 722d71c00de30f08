#pragma once

#include "SigningKey.h"

#include <QByteArray>
#include <QString>
#include <openssl/evp.h>
#include <optional>

// The names a page uses for digests and signature algorithms, and the encodings both kinds
// of store share, so that a token and a file sign the very same bytes.
namespace vyr::signer {

QString digestName(DigestAlgorithm digest);          // "SHA-256"
QString signatureName(SignatureAlgorithm algorithm); // "RSA-PKCS1", "RSA-PSS", "ECDSA"
// Exactly as written above; anything else is no name of ours.
std::optional<DigestAlgorithm> digestFromName(const QByteArray &name);
std::optional<SignatureAlgorithm> signatureFromName(const QByteArray &name);

int digestLength(DigestAlgorithm digest);
const EVP_MD *digestMd(DigestAlgorithm digest);
QByteArray computeDigest(DigestAlgorithm digest, const QByteArray &data);

// The DER DigestInfo that PKCS#1 v1.5 signs: algorithm identifier, then the digest.
QByteArray digestInfo(DigestAlgorithm digest, const QByteArray &digestValue);
// A token's ECDSA answer is r||s, each half the length; pages and CMS expect DER.
QByteArray ecdsaRawToDer(const QByteArray &raw);

// Whether a public key can make this signature: RSA for PKCS#1 v1.5 and PSS (an RSA-PSS key
// for PSS too), an EC key on P-256 or P-384 for ECDSA.
bool keySupports(SignatureAlgorithm algorithm, EVP_PKEY *key);
// The algorithm to sign with: the requested one, or the key's usual one (PKCS#1 v1.5 for RSA,
// ECDSA for EC) when none was. Throws AlgorithmUnsupported unless the certificate's key can
// make it.
SignatureAlgorithm signatureAlgorithmFor(const QByteArray &certificateDer,
                                         std::optional<SignatureAlgorithm> requested);
// The same check for an algorithm already chosen, naming it in the message.
void requireKeySupports(SignatureAlgorithm algorithm, const QByteArray &certificateDer);
// Throws BadInput unless the digest has the length of its algorithm.
void requireDigestLength(DigestAlgorithm digest, const QByteArray &digestValue);

} // namespace vyr::signer
