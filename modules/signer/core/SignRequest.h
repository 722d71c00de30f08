#pragma once

#include "SigningKey.h"

#include <QByteArray>
#include <QList>
#include <optional>
#include <veltrane/VyrModuleInterface.h>

namespace vyr::signer {

// A signing request as the page sent it, decoded and bounded: id, one or more "data" (or, for
// SIGN, "digest") items in base64, digestAlgorithm (SHA-256 when absent, SHA-384, SHA-512),
// algorithm (RSA-PKCS1, RSA-PSS, ECDSA; the key's usual one when absent), detached (SIGN_CMS)
// and description.
struct SignRequest
{
    // One confirmation covers the whole batch; a page has no business asking for more at once.
    static constexpr qsizetype kMaxItems = 1000;
    static constexpr qsizetype kMaxTotalBytes = qsizetype{16} * 1024 * 1024;
    static constexpr qsizetype kMaxIdLength = 256;

    enum class Form
    {
        Raw, // SIGN: "data" or "digest"
        Cms, // SIGN_CMS: "data" only
    };

    QByteArray id;
    QList<QByteArray> items; // the data, or the digests when itemsAreDigests; in the page's order
    bool itemsAreDigests = false;
    DigestAlgorithm digest = DigestAlgorithm::Sha256;
    std::optional<SignatureAlgorithm> algorithm;
    bool detached = true;
    QByteArray description; // raw: only the dialog shows it, through its plain-text filter
};

// Throws BAD_INPUT, or ALGORITHM_UNSUPPORTED for a name we do not know, with a sentence that
// names the parameter, never its value.
SignRequest parseSignRequest(const tRequestMap &request, SignRequest::Form form);

// Every item signed in order with the algorithm the key's certificate allows (see
// signatureAlgorithmFor); throws what the key throws.
QList<QByteArray> signDigests(SigningKey &key, const SignRequest &request);

} // namespace vyr::signer
