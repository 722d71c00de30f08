#pragma once

#include "common/OpenSslHandles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The machine's local authority: its key stays in a directory only the owner can enter,
// outside every application directory, and is reused so that the dispatcher and the user
// servers of one machine are trusted through one imported certificate.
class CertificateAuthority
{
public:
    static constexpr const char *kCertificateFileName = "VYR-ca.pem";
    static constexpr const char *kKeyFileName = "VYR-ca-key.pem";

    enum class Origin
    {
        Loaded,
        Created,
        Replaced // one made before authorities were limited to loopback names
    };

    // Loads the authority kept in directory, or creates one there, or replaces one that
    // may sign for any name. Throws CertGenException when only half of it is there, the
    // key does not match, or it expired.
    static CertificateAuthority loadOrCreate(const QString &directory);
    // True when the directory holds an authority that loadOrCreate would replace.
    static bool isOutdated(const QString &directory);

    Origin origin() const { return m_eOrigin; }
    bool wasCreated() const { return m_eOrigin != Origin::Loaded; }
    // The certificate of the replaced authority; empty unless Replaced.
    QByteArray replacedCertificatePem() const { return m_oReplacedPem; }
    X509 *certificate() const { return m_oCertificate.get(); }
    EVP_PKEY *key() const { return m_oKey.get(); }
    QByteArray certificatePem() const;
    QString certificatePath() const;

private:
    CertificateAuthority(QString directory, vyr::openssl::EvpPkeyPtr key, vyr::openssl::X509Ptr certificate,
                         Origin origin);
    static CertificateAuthority load(const QString &directory);
    static CertificateAuthority create(const QString &directory, Origin origin);
    static QByteArray readFile(const QString &path);
    // The key first: it names the set's commit mark.
    static QStringList files(const QString &directory);

    QString m_oDirectory;
    vyr::openssl::EvpPkeyPtr m_oKey;
    vyr::openssl::X509Ptr m_oCertificate;
    Origin m_eOrigin;
    QByteArray m_oReplacedPem;
};
