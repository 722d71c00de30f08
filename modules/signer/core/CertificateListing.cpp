#include "CertificateListing.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace vyr::signer {

QJsonObject certificateJson(const CertificateEntry &entry, const CertificateInfo &info)
{
    return QJsonObject{
        {QStringLiteral("id"), QString::fromLatin1(entry.id)},
        {QStringLiteral("subject"), info.subject},
        {QStringLiteral("issuer"), info.issuer},
        {QStringLiteral("serial"), info.serial},
        {QStringLiteral("notBefore"), info.notBefore.toString(Qt::ISODate)},
        {QStringLiteral("notAfter"), info.notAfter.toString(Qt::ISODate)},
        {QStringLiteral("keyUsage"), QJsonArray::fromStringList(info.keyUsage)},
        {QStringLiteral("keyType"), info.keyType},
        {QStringLiteral("keySize"), info.keySize},
        {QStringLiteral("store"), entry.storeLabel},
        {QStringLiteral("certificate"), QString::fromLatin1(entry.certificate.toBase64())},
    };
}

QByteArray certificateListJson(const QList<CertificateEntry> &entries, const CertificateFilter &filter,
                               const QDateTime &now)
{
    QJsonArray list;
    for (const CertificateEntry &entry : entries) {
        const std::optional<CertificateInfo> info = CertificateInfo::fromDer(entry.certificate);
        if (info && filter.matches(*info, now))
            list.append(certificateJson(entry, *info));
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

} // namespace vyr::signer
