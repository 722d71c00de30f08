#include "ModuleSigningCrypto.h"

#include <QFile>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>

using namespace vyr::openssl;

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

BignumPtr toBignum(const QByteArray &bigEndian)
{
    return BignumPtr(BN_bin2bn(reinterpret_cast<const unsigned char *>(bigEndian.constData()),
                               static_cast<int>(bigEndian.size()), nullptr));
}

QByteArray fromBignum(const BIGNUM *number)
{
    QByteArray bytes(BN_num_bytes(number), Qt::Uninitialized);
    BN_bn2bin(number, reinterpret_cast<unsigned char *>(bytes.data()));
    return bytes;
}

// Keys in PEM files must not be encrypted: the build and the tool run unattended, and
// OpenSSL's default would prompt on the terminal.
int refusePassphrase(char *, int, int, void *)
{
    return 0;
}

} // namespace

EvpPkeyPtr ModuleSigningCrypto::publicKeyFromComponents(const QByteArray &modulus, const QByteArray &exponent)
{
    const BignumPtr n = toBignum(modulus);
    const BignumPtr e = toBignum(exponent);
    const ParamBuildPtr builder(OSSL_PARAM_BLD_new());
    if (!n || !e || !builder || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) ||
        !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()))
        return {};
    const ParamPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
    const EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1)
        return {};
    EVP_PKEY *key = nullptr;
    if (EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return {};
    return EvpPkeyPtr(key);
}

ModulePublicKey ModuleSigningCrypto::publicComponents(EVP_PKEY *key, QString *error)
{
    BIGNUM *n = nullptr;
    BIGNUM *e = nullptr;
    const bool isRsa = key && EVP_PKEY_is_a(key, "RSA");
    if (isRsa) {
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n);
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e);
    }
    const BignumPtr modulus(n);
    const BignumPtr exponent(e);
    if (!modulus || !exponent) {
        setError(error, QStringLiteral("not an RSA key"));
        return {};
    }
    return ModulePublicKey{fromBignum(modulus.get()), fromBignum(exponent.get())};
}

std::optional<QByteArray> ModuleSigningCrypto::readFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return file.readAll();
}

EvpPkeyPtr ModuleSigningCrypto::readPrivateKeyPem(const QString &path, QString *error)
{
    const std::optional<QByteArray> pem = readFile(path, error);
    if (!pem)
        return {};
    const BioPtr bio(BIO_new_mem_buf(pem->constData(), static_cast<int>(pem->size())));
    EvpPkeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, refusePassphrase, nullptr) : nullptr);
    if (!key)
        setError(
            error,
            QStringLiteral("%1 holds no unencrypted PEM private key (%2)").arg(path, takeOpenSslErrors()));
    return key;
}

EvpPkeyPtr ModuleSigningCrypto::readPublicKeyPem(const QString &path, QString *error)
{
    const std::optional<QByteArray> pem = readFile(path, error);
    if (!pem)
        return {};
    const BioPtr bio(BIO_new_mem_buf(pem->constData(), static_cast<int>(pem->size())));
    EvpPkeyPtr key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, refusePassphrase, nullptr) : nullptr);
    if (!key)
        setError(error, QStringLiteral("%1 holds no PEM public key (%2)").arg(path, takeOpenSslErrors()));
    return key;
}

int ModuleSigningCrypto::keyBits(EVP_PKEY *key)
{
    return key ? EVP_PKEY_get_bits(key) : 0;
}

QByteArray ModuleSigningCrypto::sign(EVP_PKEY *key, const QByteArray &data, QString *error)
{
    const EvpMdCtxPtr context(EVP_MD_CTX_new());
    size_t length = 0;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, bytes, static_cast<size_t>(data.size())) != 1) {
        setError(error, takeOpenSslErrors());
        return {};
    }
    QByteArray signature(static_cast<qsizetype>(length), Qt::Uninitialized);
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length, bytes,
                       static_cast<size_t>(data.size())) != 1) {
        setError(error, takeOpenSslErrors());
        return {};
    }
    signature.resize(static_cast<qsizetype>(length));
    return signature;
}

bool ModuleSigningCrypto::verify(EVP_PKEY *key, const QByteArray &data, const QByteArray &signature)
{
    const EvpMdCtxPtr context(EVP_MD_CTX_new());
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1)
        return false;
    const int result = EVP_DigestVerify(
        context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
        static_cast<size_t>(signature.size()), reinterpret_cast<const unsigned char *>(data.constData()),
        static_cast<size_t>(data.size()));
    // Failed verifications leave entries on the thread's error queue; drop them here.
    ERR_clear_error();
    return result == 1;
}

QString ModuleSigningCrypto::takeOpenSslErrors()
{
    QStringList texts;
    while (const unsigned long code = ERR_get_error()) {
        char buffer[256] = {};
        ERR_error_string_n(code, buffer, sizeof buffer);
        texts.append(QString::fromLatin1(buffer));
    }
    return texts.isEmpty() ? QStringLiteral("unknown OpenSSL error") : texts.join(QStringLiteral("; "));
}
