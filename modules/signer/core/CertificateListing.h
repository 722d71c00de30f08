#pragma once

#include "CertificateFilter.h"
#include "SigningKey.h"

#include <QJsonObject>

namespace vyr::signer {

// One listed certificate as the page sees it: id, subject, issuer, serial, notBefore,
// notAfter (ISO 8601, UTC), keyUsage, keyType, keySize, store and certificate (base64 DER).
QJsonObject certificateJson(const CertificateEntry &entry, const CertificateInfo &info);

// The LIST_CERTIFICATES answer: a JSON array of the entries the filter lets through.
QByteArray certificateListJson(const QList<CertificateEntry> &entries, const CertificateFilter &filter,
                               const QDateTime &now = QDateTime::currentDateTimeUtc());

} // namespace vyr::signer
