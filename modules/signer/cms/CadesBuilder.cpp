#include "CadesBuilder.h"

#include "CmsAlgorithms.h"
#include "DerWriter.h"
#include "SignatureCheck.h"
#include "SignedAttributes.h"
#include "core/SignatureAlgorithms.h"
#include "core/SignerError.h"

namespace {

QList<QByteArray> certificatesOf(SigningKey &key, const QByteArray &signer)
{
    QList<QByteArray> certificates{signer};
    for (const QByteArray &issuer : key.chain()) {
        SignerCertificate::checkIsCertificate(issuer);
        if (!certificates.contains(issuer))
            certificates.append(issuer);
    }
    return certificates;
}

} // namespace

CadesBuilder::CadesBuilder(SigningKey &key, const CadesOptions &options)
    : m_key(key), m_options(options), m_signer(key.certificate()),
      m_certificates(certificatesOf(key, m_signer.der()))
{
    if (!vyr::signer::keySupports(options.signature, m_signer.publicKey()))
        throw SignerError(
            SignerErrorCode::AlgorithmUnsupported,
            QStringLiteral("This certificate's key cannot make the requested kind of signature."));
}

QByteArray CadesBuilder::sign(const QByteArray &content)
{
    const QByteArray contentDigest = vyr::signer::computeDigest(m_options.digest, content);
    return signedData(contentDigest, m_options.detached ? nullptr : &content);
}

QByteArray CadesBuilder::signContentDigest(const QByteArray &contentDigest)
{
    if (contentDigest.size() != vyr::signer::digestLength(m_options.digest))
        throw SignerError(SignerErrorCode::BadInput,
                          QStringLiteral("The digest's length does not match its algorithm."));
    return signedData(contentDigest, nullptr);
}

QList<QByteArray> CadesBuilder::signEach(const QList<QByteArray> &contents)
{
    QList<QByteArray> signatures;
    signatures.reserve(contents.size());
    for (const QByteArray &content : contents)
        signatures.append(sign(content));
    return signatures;
}

qsizetype CadesBuilder::detachedSizeBound() const
{
    // Everything but the certificates and the signature value is a few hundred bytes of
    // identifiers, digests and the signer's name twice; 1 kB over that is ample.
    constexpr qsizetype kStructure = 1024;
    qsizetype certificates = 0;
    for (const QByteArray &certificate : m_certificates)
        certificates += certificate.size();
    return kStructure + certificates + 2 * m_signer.issuerAndSerialNumber().size() +
           EVP_PKEY_get_size(m_signer.publicKey());
}

QByteArray CadesBuilder::signedData(const QByteArray &contentDigest, const QByteArray *envelopedContent)
{
    QList<QByteArray> encapsulated{der::objectIdentifier(cms::oid::data)};
    if (envelopedContent)
        encapsulated.append(der::explicitTag(0, der::octetString(*envelopedContent)));
    const QByteArray body = der::sequence({
        der::integer(1),
        der::setOf({cms::digestAlgorithmIdentifier(m_options.digest)}),
        der::sequence(encapsulated),
        der::implicitSetOf(0, m_certificates),
        der::setOf({signerInfo(contentDigest)}),
    });
    return der::sequence({der::objectIdentifier(cms::oid::signedData), der::explicitTag(0, body)});
}

QByteArray CadesBuilder::signerInfo(const QByteArray &contentDigest)
{
    const std::optional<QDateTime> signingTime =
        m_options.signingTime ? std::optional(QDateTime::currentDateTimeUtc()) : std::nullopt;
    const QByteArray attributes = cms::signedAttributes(contentDigest, m_signer, signingTime);
    const QByteArray signature = signatureOver(attributes);
    QByteArray implicitAttributes = attributes;
    implicitAttributes[0] = static_cast<char>(0xA0); // [0] IMPLICIT in place of the SET tag
    return der::sequence({
        der::integer(1),
        m_signer.issuerAndSerialNumber(),
        cms::digestAlgorithmIdentifier(m_options.digest),
        implicitAttributes,
        cms::signatureAlgorithmIdentifier(m_options.signature, m_options.digest),
        der::octetString(signature),
    });
}

QByteArray CadesBuilder::signatureOver(const QByteArray &attributes)
{
    const QByteArray attributesDigest = vyr::signer::computeDigest(m_options.digest, attributes);
    QByteArray signature = m_key.signDigest(m_options.signature, m_options.digest, attributesDigest);
    if (!cms::signatureMatches(m_signer.publicKey(), m_options.signature, m_options.digest, attributesDigest,
                               signature))
        throw SignerError(
            SignerErrorCode::StoreError,
            QStringLiteral("The key store returned a signature that its certificate does not verify."));
    return signature;
}
