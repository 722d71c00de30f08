#pragma once

#include "core/SigningKey.h"

#include <QByteArray>
#include <openssl/evp.h>

// Object identifiers and AlgorithmIdentifier encodings of the algorithms a signer may choose,
// and the digests computed with them: one table, so the identifier written into a
// signature and the digest actually computed cannot disagree.
namespace cms {

namespace oid {
inline constexpr const char *data = "1.2.840.113549.1.7.1";
inline constexpr const char *signedData = "1.2.840.113549.1.7.2";
inline constexpr const char *contentType = "1.2.840.113549.1.9.3";
inline constexpr const char *messageDigest = "1.2.840.113549.1.9.4";
inline constexpr const char *signingTime = "1.2.840.113549.1.9.5";
inline constexpr const char *signingCertificateV2 = "1.2.840.113549.1.9.16.2.47";
} // namespace oid

const EVP_MD *evpDigest(DigestAlgorithm algorithm);
qsizetype digestLength(DigestAlgorithm algorithm);
QByteArray digest(DigestAlgorithm algorithm, const QByteArray &bytes);
// Parameters absent, as the SHA-2 identifiers are written in CMS.
QByteArray digestAlgorithmIdentifier(DigestAlgorithm algorithm);
// PSS carries its hash, mask generation and salt length, matching what SigningKey promises:
// MGF1 with the same digest and a salt as long as the digest.
QByteArray signatureAlgorithmIdentifier(SignatureAlgorithm signature, DigestAlgorithm digest);

} // namespace cms
