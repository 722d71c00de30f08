#pragma once

#include "core/SigningKey.h"

#include <QByteArray>
#include <QList>
#include <optional>
#include <veltrane/VyrModuleInterface.h>

// A signing request as the page sent it, decoded and bounded. Every fault throws BAD_INPUT or
// ALGORITHM_UNSUPPORTED with a sentence that names the parameter, never its value.
struct SigningInput
{
    QByteArray id;
    QList<QByteArray> items; // the data, or the digests when itemsAreDigests; in the page's order
    bool itemsAreDigests = false;
    DigestAlgorithm digest = DigestAlgorithm::Sha256;
    std::optional<SignatureAlgorithm> algorithm; // none: the key's usual one
    bool detached = true;
    QByteArray description; // raw: shown only through plainPageText

    enum class Form
    {
        Raw, // SIGN: "data" or "digest"
        Cms, // SIGN_CMS: "data" and "detached"
    };
    static SigningInput read(const tRequestMap &request, Form form);
};

// The length in bytes of a digest of that algorithm.
qsizetype digestLength(DigestAlgorithm algorithm);
QByteArray digestOf(DigestAlgorithm algorithm, const QByteArray &data);
// The name the page writes and reads back ("RSA-PKCS1", "RSA-PSS", "ECDSA").
QByteArray algorithmName(SignatureAlgorithm algorithm);
