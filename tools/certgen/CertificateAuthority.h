#pragma once

#include "OpenSslHandles.h"

#include <QByteArray>
#include <QString>

// The machine's local authority: its key stays in a directory only the owner can enter,
// outside every application directory, and is reused so that the dispatcher and the user
// servers of one machine are trusted through one imported certificate.
class CertificateAuthority
{
public:
    static constexpr const char *kCertificateFileName = "VYR-ca.pem";
    static constexpr const char *kKeyFileName = "VYR-ca-key.pem";

    // Loads the authority kept in directory, or creates one there. Throws
    // CertGenException when only half of it is there, the key does not match, or it expired.
    static CertificateAuthority loadOrCreate(const QString &directory);

    bool wasCreated() const { return m_bCreated; }
    X509 *certificate() const { return m_oCertificate.get(); }
    EVP_PKEY *key() const { return m_oKey.get(); }
    QByteArray certificatePem() const;
    QString certificatePath() const;

private:
    CertificateAuthority(QString directory, EvpPkeyPtr key, X509Ptr certificate, bool created);
    static CertificateAuthority load(const QString &directory);
    static CertificateAuthority create(const QString &directory);
    static QByteArray readFile(const QString &path);

    QString m_oDirectory;
    EvpPkeyPtr m_oKey;
    X509Ptr m_oCertificate;
    bool m_bCreated;
};
