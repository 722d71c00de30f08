#pragma once

#include "SigningKey.h"

#include <QSet>

namespace vyr::signer {

class Pkcs11Library;
struct TokenCertificate;

// The tokens of one PKCS#11 library (the system's proxy, or a path from the settings).
// The thread that runs the listing and signing commands.
class Pkcs11Store : public KeyStore
{
public:
    explicit Pkcs11Store(QString libraryPath, QByteArray configuration = {});
    QString label() const override { return m_libraryPath; }
    QList<CertificateEntry> list() override;
    // Throws TokenAbsent for an id listed before whose token is gone now.
    std::unique_ptr<SigningKey> open(const QByteArray &id) override;

private:
    QList<TokenCertificate> scan(const std::shared_ptr<Pkcs11Library> &library) const;

    QString m_libraryPath;
    QByteArray m_configuration;
    QSet<QByteArray> m_listedIds; // what the last listings showed, to tell "removed" from "unknown"
};

} // namespace vyr::signer
