#pragma once

#include "SigningKey.h"

#include <QSet>

namespace vyr::signer {

// The PKCS#12 files (*.p12, *.pfx) of one directory. The thread that runs the listing and
// signing commands.
class Pkcs12Store : public KeyStore
{
public:
    explicit Pkcs12Store(QString directory);
    QString label() const override { return m_directory; }
    QList<CertificateEntry> list() override;
    // Throws StoreError for an id listed before whose file cannot be read any more.
    std::unique_ptr<SigningKey> open(const QByteArray &id) override;

private:
    QStringList files() const;

    QString m_directory;
    QSet<QByteArray> m_listedIds; // what the last listings showed, to tell "broken" from "unknown"
};

} // namespace vyr::signer
