#pragma once

#include "core/SigningKey.h"

#include <QByteArray>

// Object identifiers and AlgorithmIdentifier encodings of the algorithms a signer may choose.
// The digests themselves are computed by the key stores' own functions
// (core/SignatureAlgorithms.h), so a raw signature and a CMS one hash alike.
namespace cms {

namespace oid {
inline constexpr const char *data = "1.2.840.113549.1.7.1";
inline constexpr const char *signedData = "1.2.840.113549.1.7.2";
inline constexpr const char *contentType = "1.2.840.113549.1.9.3";
inline constexpr const char *messageDigest = "1.2.840.113549.1.9.4";
inline constexpr const char *signingTime = "1.2.840.113549.1.9.5";
inline constexpr const char *signingCertificateV2 = "1.2.840.113549.1.9.16.2.47";
} // namespace oid

// Parameters absent, as the SHA-2 identifiers are written in CMS.
QByteArray digestAlgorithmIdentifier(DigestAlgorithm algorithm);
// PSS carries its hash, mask generation and salt length, matching what SigningKey promises:
// MGF1 with the same digest and a salt as long as the digest.
QByteArray signatureAlgorithmIdentifier(SignatureAlgorithm signature, DigestAlgorithm digest);

} // namespace cms
