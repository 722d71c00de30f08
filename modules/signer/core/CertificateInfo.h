#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

// What the listing and the dialogs show of a certificate, read from its DER.
namespace vyr::signer {

struct CertificateInfo
{
    QString subject; // one line, RFC 2253 order
    QString issuer;
    QString serial; // hexadecimal, upper case
    QDateTime notBefore;
    QDateTime notAfter;
    QStringList keyUsage; // "digitalSignature", "nonRepudiation", ...; empty when unrestricted
    QString keyType;      // "RSA" or "EC"
    int keySize = 0;      // bits
    bool isAuthority = false;

    // nullopt when the bytes are no certificate.
    static std::optional<CertificateInfo> fromDer(const QByteArray &der);
    bool validAt(const QDateTime &when) const { return notBefore <= when && when <= notAfter; }
};

} // namespace vyr::signer
