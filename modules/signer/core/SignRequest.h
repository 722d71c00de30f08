#pragma once

#include "SigningKey.h"

#include <veltrane/VyrModuleInterface.h>

namespace vyr::signer {

// A SIGN request, checked: parameters id, algorithm (RSA-PKCS1, RSA-PSS, ECDSA),
// digestAlgorithm (SHA-256 when absent, SHA-384, SHA-512) and either data or digest (base64),
// each repeated for a batch.
struct SignRequest
{
    static constexpr qsizetype kMaxItems = 1000;
    static constexpr qsizetype kMaxTotalBytes = qsizetype(16) * 1024 * 1024;

    QByteArray id;
    SignatureAlgorithm algorithm = SignatureAlgorithm::RsaPkcs1v15;
    DigestAlgorithm digestAlgorithm = DigestAlgorithm::Sha256;
    bool itemsAreDigests = false;
    QList<QByteArray> items;   // decoded, in the page's order: what the dialog describes
    QList<QByteArray> digests; // one per item: what is signed
    bool batch = false;        // more than one item: answered as a list
};

// Throws BadInput (or AlgorithmUnsupported for an algorithm name we do not know) with a
// message that names the parameter.
SignRequest parseSignRequest(const tRequestMap &request);

// Every digest signed in order; throws what the key throws.
QList<QByteArray> signDigests(SigningKey &key, const SignRequest &request);

// {"signature","algorithm","certificate"} for one item, {"signatures":[...]} for a batch;
// binary values in base64.
QByteArray signAnswer(const SignRequest &request, const QList<QByteArray> &signatures,
                      const QByteArray &certificate);

} // namespace vyr::signer
