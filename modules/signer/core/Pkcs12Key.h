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
    // A large batch is split over the cores, a range of items per thread.
    QList<QByteArray> signDigests(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                                  const QList<QByteArray> &digestValues) override;

private:
    EvpPkeyCtxPtr newContext(SignatureAlgorithm algorithm, DigestAlgorithm digest) const;
    EVP_PKEY_CTX *contextFor(SignatureAlgorithm algorithm, DigestAlgorithm digest);

    QString m_path;
    QByteArray m_certificate;
    QList<QByteArray> m_otherCertificates;
    // Set by a successful login on the command's thread. While signDigests runs, its signing
    // threads read it too: OpenSSL 3 lets threads sign with one key as long as none changes it.
    EvpPkeyPtr m_key;
    // Set up once per algorithm and digest: a batch then costs only the signatures.
    EvpPkeyCtxPtr m_context;
    std::optional<std::pair<SignatureAlgorithm, DigestAlgorithm>> m_contextFor;
};

} // namespace vyr::signer
