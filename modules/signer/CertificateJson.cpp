#include "CertificateJson.h"

#include "core/SignerError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslKey>

namespace {
QString keyTypeName(QSsl::KeyAlgorithm algorithm)
{
    switch (algorithm) {
    case QSsl::Rsa:
        return QStringLiteral("RSA");
    case QSsl::Ec:
        return QStringLiteral("EC");
    default:
        return QStringLiteral("other");
    }
}

QJsonObject entryJson(const CertificateEntry &entry)
{
    const QSslCertificate certificate(entry.certificate, QSsl::Der);
    const QSslKey key = certificate.publicKey();
    return {{QStringLiteral("id"), QString::fromLatin1(entry.id)},
            {QStringLiteral("subject"), certificate.subjectDisplayName()},
            {QStringLiteral("issuer"), certificate.issuerDisplayName()},
            {QStringLiteral("serial"), QString::fromLatin1(certificate.serialNumber())},
            {QStringLiteral("notBefore"), certificate.effectiveDate().toString(Qt::ISODate)},
            {QStringLiteral("notAfter"), certificate.expiryDate().toString(Qt::ISODate)},
            {QStringLiteral("keyType"), keyTypeName(key.algorithm())},
            {QStringLiteral("keySize"), key.length()},
            {QStringLiteral("storeLabel"), entry.storeLabel},
            {QStringLiteral("certificate"), QString::fromLatin1(entry.certificate.toBase64())}};
}
} // namespace

QByteArray certificateListJson(const QList<CertificateEntry> &entries)
{
    QJsonArray array;
    for (const CertificateEntry &entry : entries)
        array.append(entryJson(entry));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

SignatureAlgorithm algorithmForCertificate(const QByteArray &certificateDer,
                                           std::optional<SignatureAlgorithm> requested)
{
    const QSsl::KeyAlgorithm keyType = QSslCertificate(certificateDer, QSsl::Der).publicKey().algorithm();
    if (keyType == QSsl::Rsa && requested != SignatureAlgorithm::Ecdsa)
        return requested.value_or(SignatureAlgorithm::RsaPkcs1v15);
    if (keyType == QSsl::Ec && requested.value_or(SignatureAlgorithm::Ecdsa) == SignatureAlgorithm::Ecdsa)
        return SignatureAlgorithm::Ecdsa;
    throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                      QStringLiteral("This certificate's key cannot sign with that algorithm."));
}
