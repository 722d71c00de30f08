#pragma once

#include "core/SigningKey.h"

#include <QByteArray>
#include <QList>
#include <optional>

// The algorithm to sign with: the requested one when the certificate's key can do it (RSA:
// PKCS#1 v1.5 or PSS; EC: ECDSA), else ALGORITHM_UNSUPPORTED; the key's usual one when none
// was requested.
SignatureAlgorithm algorithmForCertificate(const QByteArray &certificateDer,
                                           std::optional<SignatureAlgorithm> requested);
