#pragma once

#include "SignerOpenSsl.h"
#include "SigningKey.h"

namespace vyr::signer {

// The key of a PKCS#12 file, decrypted in memory by login() with the password the user typed.
// The thread that runs the signing command.
class Pkcs12Key : public SigningKey
{
public:
    Pkcs12Key(QString path, QByteArray certificate, QList<QByteArray> otherCertificates);

    QByteArray certificate() const override { return m_certificate; }
    QList<QByteArray> chain() const override;
    SecretKind secretKind() const override { return SecretKind::Password; }
    LoginResult login(const QByteArray &secret) override;
    QByteArray signDigest(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                          const QByteArray &digestValue) override;

private:
    EVP_PKEY_CTX *contextFor(SignatureAlgorithm algorithm, DigestAlgorithm digest);

    QString m_path;
    QByteArray m_certificate;
    QList<QByteArray> m_otherCertificates;
    EvpPkeyPtr m_key; // set by a successful login
    // Set up once per algorithm and digest: a batch then costs only the signatures.
    EvpPkeyCtxPtr m_context;
    std::optional<std::pair<SignatureAlgorithm, DigestAlgorithm>> m_contextFor;
};

} // namespace vyr::signer
