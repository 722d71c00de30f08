#include "PemCodec.h"

#include "CertGenException.h"

#include <cstring>
#include <openssl/pem.h>

using namespace vyr::openssl;

namespace {
// Hands OpenSSL the pass phrase given, or none, instead of asking on the terminal.
int passPhraseCallback(char *buffer, int size, int /*rwflag*/, void *userData)
{
    const auto *passPhrase = static_cast<const QByteArray *>(userData);
    if (!passPhrase || passPhrase->size() > size)
        return -1;
    std::memcpy(buffer, passPhrase->constData(), static_cast<size_t>(passPhrase->size()));
    return static_cast<int>(passPhrase->size());
}

BioPtr readOnlyBio(const QByteArray &bytes)
{
    BioPtr bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
    if (!bio)
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot allocate a memory buffer"));
    return bio;
}
} // namespace

BioPtr PemCodec::newMemoryBio()
{
    // The secure-memory variant clears its buffer when freed; keys pass through it.
    BioPtr bio(BIO_new(BIO_s_secmem()));
    if (!bio)
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot allocate a memory buffer"));
    return bio;
}

QByteArray PemCodec::bioContents(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, static_cast<qsizetype>(size)) : QByteArray();
}

QByteArray PemCodec::certificateToPem(X509 *certificate)
{
    const BioPtr bio = newMemoryBio();
    if (!PEM_write_bio_X509(bio.get(), certificate))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot write the certificate as PEM"));
    return bioContents(bio.get());
}

X509Ptr PemCodec::certificateFromPem(const QByteArray &pem)
{
    const BioPtr bio = readOnlyBio(pem);
    X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, passPhraseCallback, nullptr));
    if (!certificate)
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot read the certificate"));
    return certificate;
}

QByteArray PemCodec::privateKeyToPem(EVP_PKEY *key)
{
    const BioPtr bio = newMemoryBio();
    if (!PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot write the private key as PEM"));
    return bioContents(bio.get());
}

QByteArray PemCodec::encryptedPrivateKeyToPem(EVP_PKEY *key, const QByteArray &passPhrase)
{
    const BioPtr bio = newMemoryBio();
    if (!PEM_write_bio_PKCS8PrivateKey(bio.get(), key, EVP_aes_256_cbc(), passPhrase.constData(),
                                       static_cast<int>(passPhrase.size()), nullptr, nullptr))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot encrypt the private key"));
    return bioContents(bio.get());
}

EvpPkeyPtr PemCodec::privateKeyFromPem(const QByteArray &pem, const QByteArray &passPhrase)
{
    const BioPtr bio = readOnlyBio(pem);
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, passPhraseCallback,
                                           const_cast<QByteArray *>(&passPhrase)));
    if (!key)
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot read the private key"));
    return key;
}
