#pragma once

#include <QByteArray>
#include <QDateTime>
#include <optional>

class SignerCertificate;

namespace cms {

// The signed attributes of a CAdES-BES signature, encoded as the DER SET OF that the key
// signs: content type (data), message digest, signing time when given, and
// signing-certificate-v2 naming the signer's certificate. PDF signatures leave the time out,
// because there the signature dictionary carries it.
QByteArray signedAttributes(const QByteArray &contentDigest, const SignerCertificate &signer,
                            const std::optional<QDateTime> &signingTime);

} // namespace cms
