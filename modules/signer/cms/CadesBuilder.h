#pragma once

#include "SignerCertificate.h"
#include "core/SigningKey.h"

#include <QByteArray>
#include <QList>

struct CadesOptions
{
    bool detached = true;    // false: the content travels inside the SignedData
    bool signingTime = true; // false for PDF, whose signature dictionary carries the time
    DigestAlgorithm digest = DigestAlgorithm::Sha256;
    SignatureAlgorithm signature = SignatureAlgorithm::RsaPkcs1v15;
};

// CAdES-BES signatures (a ContentInfo holding one CMS SignedData) made with any SigningKey.
// The private key stays in its store: only the digest of the signed attributes goes to
// SigningKey::signDigest, and what comes back is checked against the certificate before it
// is written. The key must already be logged in; every call may throw SignerError, the
// store's own errors passing through unchanged.
//
// Build one per confirmed request: it reads the certificate and chain once for a batch.
// Owned and used by one thread, the one that holds the key.
class CadesBuilder
{
public:
    // AlgorithmUnsupported when the key's type cannot make the chosen signature, before any
    // PIN is asked; StoreError when the store's certificates do not parse.
    CadesBuilder(SigningKey &key, const CadesOptions &options);

    // Over `content`, detached or enveloping as the options say. Empty content is signed
    // as such; whether a request may ask for it is the command's decision.
    QByteArray sign(const QByteArray &content);
    // Over content the caller hashed itself with the options' digest (the byte ranges of a
    // PDF); always detached. BadInput when the digest has the wrong length.
    QByteArray signContentDigest(const QByteArray &contentDigest);
    // One SignedData per item, in the items' order.
    QList<QByteArray> signEach(const QList<QByteArray> &contents);

    // An upper bound of the DER size of a detached signature from this builder, so that a
    // PDF can reserve its /Contents before the signature exists.
    qsizetype detachedSizeBound() const;

private:
    QByteArray signedData(const QByteArray &contentDigest, const QByteArray *envelopedContent);
    QByteArray signerInfo(const QByteArray &contentDigest);
    QByteArray signatureOver(const QByteArray &attributes);

    SigningKey &m_key;
    CadesOptions m_options;
    SignerCertificate m_signer;
    QList<QByteArray> m_certificates; // the signer's first, then the chain, each once
};
