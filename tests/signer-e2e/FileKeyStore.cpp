// The store of the signing module's test build: one EC key in the user's data directory
// (veltrane/test-key: cert.der, and key.pem encrypted with the PIN), three tries per command.

#include "KeyStores.h"
#include "core/SignerError.h"

#include <QFile>
#include <QStandardPaths>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {
QByteArray keyFile(const char *name)
{
    QFile file(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/veltrane/test-key/" +
               name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class FileKey : public SigningKey
{
public:
    QByteArray certificate() const override { return keyFile("cert.der"); }
    QList<QByteArray> chain() const override { return {}; }
    SecretKind secretKind() const override { return SecretKind::Pin; }
    LoginResult login(const QByteArray &pin) override
    {
        const QByteArray pem = keyFile("key.pem");
        const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())),
                                                            BIO_free);
        m_key.reset(
            PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char *>(pin.constData())));
        if (m_key)
            return {};
        --m_iTries;
        return {m_iTries > 0 ? LoginResult::Outcome::Incorrect : LoginResult::Outcome::Locked, m_iTries};
    }
    QByteArray signDigest(SignatureAlgorithm, DigestAlgorithm, const QByteArray &digest) override
    {
        const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
            EVP_PKEY_CTX_new(m_key.get(), nullptr), EVP_PKEY_CTX_free);
        QByteArray signature(EVP_PKEY_get_size(m_key.get()), '\0');
        size_t length = size_t(signature.size());
        const auto *in = reinterpret_cast<const unsigned char *>(digest.constData());
        if (EVP_PKEY_sign_init(context.get()) != 1 ||
            EVP_PKEY_sign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length, in,
                          size_t(digest.size())) != 1)
            throw SignerError(SignerErrorCode::StoreError, QStringLiteral("signing failed"));
        return signature.left(qsizetype(length));
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_key{nullptr, EVP_PKEY_free};
    int m_iTries = 3;
};

// Shaped as the real stores' ids are: the module refuses any other shape before asking a store.
constexpr char kTestKeyId[] = "5e1f0c0ffee5e1f0c0ffee5e1f0c0ffee5e1f0c0ffee5e1f0c0ffee5e1f0c0ff";

class FileKeyStore : public KeyStore
{
public:
    QString label() const override { return QStringLiteral("test key"); }
    QList<CertificateEntry> list() override { return {{kTestKeyId, keyFile("cert.der"), label()}}; }
    std::unique_ptr<SigningKey> open(const QByteArray &id) override
    {
        return id == kTestKeyId ? std::make_unique<FileKey>() : nullptr;
    }
};
} // namespace

vyr::signer::KeyStores &moduleKeyStores()
{
    static vyr::signer::KeyStores stores([] {
        std::vector<std::unique_ptr<KeyStore>> list;
        list.push_back(std::make_unique<FileKeyStore>());
        return list;
    }());
    return stores;
}
