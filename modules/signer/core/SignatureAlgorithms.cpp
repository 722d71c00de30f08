#include "SignatureAlgorithms.h"

#include "SignerError.h"
#include "SignerOpenSsl.h"

#include <QCryptographicHash>
#include <array>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/obj_mac.h>

namespace vyr::signer {
namespace {

struct DigestFacts
{
    DigestAlgorithm digest;
    const char *name;
    int length;
    QCryptographicHash::Algorithm qtAlgorithm;
    const char *digestInfoPrefix; // DER of the DigestInfo up to the digest itself, hex
};

constexpr std::array<DigestFacts, 3> kDigests{{
    {DigestAlgorithm::Sha256, "SHA-256", 32, QCryptographicHash::Sha256,
     "3031300d060960864801650304020105000420"},
    {DigestAlgorithm::Sha384, "SHA-384", 48, QCryptographicHash::Sha384,
     "3041300d060960864801650304020205000430"},
    {DigestAlgorithm::Sha512, "SHA-512", 64, QCryptographicHash::Sha512,
     "3051300d060960864801650304020305000440"},
}};

struct SignatureFacts
{
    SignatureAlgorithm algorithm;
    const char *name;
};

constexpr std::array<SignatureFacts, 3> kSignatures{{
    {SignatureAlgorithm::RsaPkcs1v15, "RSA-PKCS1"},
    {SignatureAlgorithm::RsaPss, "RSA-PSS"},
    {SignatureAlgorithm::Ecdsa, "ECDSA"},
}};

const DigestFacts &facts(DigestAlgorithm digest)
{
    for (const DigestFacts &entry : kDigests)
        if (entry.digest == digest)
            return entry;
    return kDigests[0];
}

QByteArray unsignedBigEndian(const QByteArray &half)
{
    qsizetype skip = 0;
    while (skip < half.size() && half.at(skip) == 0)
        ++skip;
    return half.mid(skip);
}

QString curveOf(EVP_PKEY *key)
{
    std::array<char, 64> name{};
    size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, name.data(), name.size(), &length) !=
        1)
        return {};
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(length));
}

} // namespace

QString digestName(DigestAlgorithm digest)
{
    return QString::fromLatin1(facts(digest).name);
}

QString signatureName(SignatureAlgorithm algorithm)
{
    for (const SignatureFacts &entry : kSignatures)
        if (entry.algorithm == algorithm)
            return QString::fromLatin1(entry.name);
    return {};
}

std::optional<DigestAlgorithm> digestFromName(const QByteArray &name)
{
    for (const DigestFacts &entry : kDigests)
        if (name == entry.name)
            return entry.digest;
    return std::nullopt;
}

std::optional<SignatureAlgorithm> signatureFromName(const QByteArray &name)
{
    for (const SignatureFacts &entry : kSignatures)
        if (name == entry.name)
            return entry.algorithm;
    return std::nullopt;
}

int digestLength(DigestAlgorithm digest)
{
    return facts(digest).length;
}

const EVP_MD *digestMd(DigestAlgorithm digest)
{
    switch (digest) {
    case DigestAlgorithm::Sha384:
        return EVP_sha384();
    case DigestAlgorithm::Sha512:
        return EVP_sha512();
    case DigestAlgorithm::Sha256:
        break;
    }
    return EVP_sha256();
}

QByteArray computeDigest(DigestAlgorithm digest, const QByteArray &data)
{
    return QCryptographicHash::hash(data, facts(digest).qtAlgorithm);
}

QByteArray digestInfo(DigestAlgorithm digest, const QByteArray &digestValue)
{
    return QByteArray::fromHex(facts(digest).digestInfoPrefix) + digestValue;
}

QByteArray ecdsaRawToDer(const QByteArray &raw)
{
    if (raw.isEmpty() || raw.size() % 2 != 0 || raw.size() > 264)
        throw SignerError(SignerErrorCode::StoreError,
                          QStringLiteral("The token gave a malformed ECDSA signature."));
    const QByteArray r = unsignedBigEndian(raw.left(raw.size() / 2));
    const QByteArray s = unsignedBigEndian(raw.mid(raw.size() / 2));
    const EcdsaSigPtr signature(ECDSA_SIG_new());
    BIGNUM *rNumber = BN_bin2bn(reinterpret_cast<const unsigned char *>(r.constData()),
                                static_cast<int>(r.size()), nullptr);
    BIGNUM *sNumber = BN_bin2bn(reinterpret_cast<const unsigned char *>(s.constData()),
                                static_cast<int>(s.size()), nullptr);
    if (!signature || !rNumber || !sNumber || ECDSA_SIG_set0(signature.get(), rNumber, sNumber) != 1) {
        BN_free(rNumber);
        BN_free(sNumber);
        throw SignerError(SignerErrorCode::StoreError,
                          QStringLiteral("Could not encode the ECDSA signature."));
    }
    const int length = i2d_ECDSA_SIG(signature.get(), nullptr);
    QByteArray der(length, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(der.data());
    i2d_ECDSA_SIG(signature.get(), &out);
    return der;
}

bool keySupports(SignatureAlgorithm algorithm, EVP_PKEY *key)
{
    const int type = key ? EVP_PKEY_get_base_id(key) : EVP_PKEY_NONE;
    if (algorithm != SignatureAlgorithm::Ecdsa)
        return type == EVP_PKEY_RSA || (algorithm == SignatureAlgorithm::RsaPss && type == EVP_PKEY_RSA_PSS);
    const QString curve = type == EVP_PKEY_EC ? curveOf(key) : QString();
    return curve == QLatin1String("prime256v1") || curve == QLatin1String("secp384r1");
}

SignatureAlgorithm signatureAlgorithmFor(const QByteArray &certificateDer,
                                         std::optional<SignatureAlgorithm> requested)
{
    const X509Ptr certificate = parseCertificate(certificateDer);
    EVP_PKEY *key = certificate ? X509_get0_pubkey(certificate.get()) : nullptr;
    const bool ec = key && EVP_PKEY_get_base_id(key) == EVP_PKEY_EC;
    const SignatureAlgorithm algorithm =
        requested.value_or(ec ? SignatureAlgorithm::Ecdsa : SignatureAlgorithm::RsaPkcs1v15);
    if (!keySupports(algorithm, key))
        throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                          QStringLiteral("This certificate's key cannot sign with that algorithm."));
    return algorithm;
}

void requireKeySupports(SignatureAlgorithm algorithm, const QByteArray &certificateDer)
{
    const X509Ptr certificate = parseCertificate(certificateDer);
    if (!keySupports(algorithm, certificate ? X509_get0_pubkey(certificate.get()) : nullptr))
        throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                          QStringLiteral("This certificate's key cannot make %1 signatures.")
                              .arg(signatureName(algorithm)));
}

void requireDigestLength(DigestAlgorithm digest, const QByteArray &digestValue)
{
    if (digestValue.size() != digestLength(digest))
        throw SignerError(SignerErrorCode::BadInput, QStringLiteral("A %1 digest is %2 bytes long, not %3.")
                                                         .arg(digestName(digest))
                                                         .arg(digestLength(digest))
                                                         .arg(digestValue.size()));
}

} // namespace vyr::signer
