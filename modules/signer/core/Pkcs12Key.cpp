#include "Pkcs12Key.h"

#include "CertificateChain.h"
#include "ParallelRanges.h"
#include "Pkcs12File.h"
#include "SignatureAlgorithms.h"
#include "SignerError.h"

#include <QThread>
#include <openssl/rsa.h>

namespace vyr::signer {
namespace {

[[noreturn]] void storeError(const QString &what)
{
    throw SignerError(SignerErrorCode::StoreError, what);
}

bool passwordOpens(PKCS12 *file, const QByteArray &password)
{
    if (PKCS12_mac_present(file) == 0)
        return true;
    // Files made with an empty password differ in whether they mean "" or none at all.
    return PKCS12_verify_mac(file, password.constData(), static_cast<int>(password.size())) == 1 ||
           (password.isEmpty() && PKCS12_verify_mac(file, nullptr, 0) == 1);
}

void setPadding(EVP_PKEY_CTX *context, SignatureAlgorithm algorithm, const EVP_MD *md)
{
    bool ok = EVP_PKEY_CTX_set_signature_md(context, md) == 1;
    if (algorithm == SignatureAlgorithm::RsaPkcs1v15)
        ok = ok && EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) == 1;
    if (algorithm == SignatureAlgorithm::RsaPss)
        ok = ok && EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PSS_PADDING) == 1 &&
             EVP_PKEY_CTX_set_rsa_pss_saltlen(context, RSA_PSS_SALTLEN_DIGEST) == 1 &&
             EVP_PKEY_CTX_set_rsa_mgf1_md(context, md) == 1;
    if (!ok)
        throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                          QStringLiteral("The key refuses this algorithm."));
}

// Below this many signatures per thread, starting a thread costs more than it saves.
constexpr qsizetype kMinimumPerThread = 16;

QByteArray signWith(EVP_PKEY_CTX *context, const QByteArray &digestValue)
{
    const auto *input = reinterpret_cast<const unsigned char *>(digestValue.constData());
    size_t length = 0;
    if (EVP_PKEY_sign(context, nullptr, &length, input, static_cast<size_t>(digestValue.size())) != 1)
        storeError(QStringLiteral("Signing failed."));
    QByteArray signature(static_cast<qsizetype>(length), Qt::Uninitialized);
    if (EVP_PKEY_sign(context, reinterpret_cast<unsigned char *>(signature.data()), &length, input,
                      static_cast<size_t>(digestValue.size())) != 1)
        storeError(QStringLiteral("Signing failed."));
    signature.truncate(static_cast<qsizetype>(length));
    return signature;
}

} // namespace

Pkcs12Key::Pkcs12Key(QString path, QByteArray certificate, QList<QByteArray> otherCertificates)
    : m_path(std::move(path)), m_certificate(std::move(certificate)),
      m_otherCertificates(std::move(otherCertificates))
{
}

QList<QByteArray> Pkcs12Key::chain() const
{
    return chainAbove(m_certificate, m_otherCertificates);
}

LoginResult Pkcs12Key::login(const QByteArray &secret)
{
    QString reason;
    const Pkcs12Ptr file = loadPkcs12(m_path, reason);
    if (!file)
        storeError(QStringLiteral("The certificate file can no longer be read: ") + reason);
    if (!passwordOpens(file.get(), secret))
        return {LoginResult::Outcome::Incorrect, std::nullopt};
    EVP_PKEY *key = nullptr;
    X509 *certificate = nullptr;
    const bool parsed = PKCS12_parse(file.get(), secret.constData(), &key, &certificate, nullptr) == 1;
    EvpPkeyPtr ownedKey(key);
    const X509Ptr ownedCertificate(certificate);
    const X509Ptr listed = parseCertificate(m_certificate);
    if (!parsed)
        storeError(QStringLiteral("The certificate file could not be decrypted."));
    if (!ownedKey)
        storeError(QStringLiteral("The certificate file holds no private key."));
    if (!listed || X509_check_private_key(listed.get(), ownedKey.get()) != 1)
        storeError(QStringLiteral("The key in the certificate file does not belong to its certificate."));
    m_key = std::move(ownedKey);
    return {};
}

EvpPkeyCtxPtr Pkcs12Key::newContext(SignatureAlgorithm algorithm, DigestAlgorithm digest) const
{
    if (!m_key)
        storeError(QStringLiteral("The certificate file is not unlocked."));
    EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, m_key.get(), nullptr));
    if (!context || EVP_PKEY_sign_init(context.get()) != 1)
        storeError(QStringLiteral("The key cannot sign."));
    setPadding(context.get(), algorithm, digestMd(digest));
    return context;
}

EVP_PKEY_CTX *Pkcs12Key::contextFor(SignatureAlgorithm algorithm, DigestAlgorithm digest)
{
    if (m_context && m_contextFor == std::pair{algorithm, digest})
        return m_context.get();
    m_contextFor.reset();
    m_context = newContext(algorithm, digest);
    m_contextFor = std::pair{algorithm, digest};
    return m_context.get();
}

QByteArray Pkcs12Key::signDigest(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                                 const QByteArray &digestValue)
{
    return signDigests(algorithm, digest, {digestValue}).constFirst();
}

QList<QByteArray> Pkcs12Key::signDigests(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                                         const QList<QByteArray> &digestValues)
{
    requireKeySupports(algorithm, m_certificate);
    for (const QByteArray &digestValue : digestValues)
        requireDigestLength(digest, digestValue);
    EVP_PKEY_CTX *prepared = contextFor(algorithm, digest);
    QList<QByteArray> signatures(digestValues.size());
    QByteArray *slot = signatures.data(); // each range writes its own slots only
    runInRanges(digestValues.size(), QThread::idealThreadCount(), kMinimumPerThread,
                [&](int part, qsizetype begin, qsizetype end) {
                    // The first range runs here with the prepared context; every other range's
                    // thread makes and owns one of its own over the same key.
                    const EvpPkeyCtxPtr own = part == 0 ? nullptr : newContext(algorithm, digest);
                    EVP_PKEY_CTX *context = part == 0 ? prepared : own.get();
                    for (qsizetype i = begin; i < end; ++i)
                        slot[i] = signWith(context, digestValues[i]);
                });
    return signatures;
}

} // namespace vyr::signer
