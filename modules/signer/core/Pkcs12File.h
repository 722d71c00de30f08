#pragma once

#include "SignerOpenSsl.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace vyr::signer {

// What a PKCS#12 file shows without its password: the certificate of its key and the others.
struct Pkcs12Listing
{
    QByteArray certificate;
    QList<QByteArray> otherCertificates;
};

// The parsed file, or nullptr when it is unreadable, too large or no PKCS#12 (why: in reason).
Pkcs12Ptr loadPkcs12(const QString &path, QString &reason);

// nullopt, with the reason, when the file cannot be read, holds no key, or its certificate is
// encrypted and no "<name>.crt", ".pem" or ".cer" lies beside it.
std::optional<Pkcs12Listing> readPkcs12Listing(const QString &path, QString &reason);

} // namespace vyr::signer
