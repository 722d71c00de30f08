#include "TestKeys.h"

#include "modules/ModuleSigningCrypto.h"

#include <QFile>

#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace {

template <class Write>
bool writePem(const QString &path, Write write)
{
    vyr::openssl::BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1)
        return false;
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data, size) == size;
}

} // namespace

TestKey::TestKey(int bits) : m_poKey(EVP_RSA_gen(static_cast<unsigned int>(bits))) {}

ModulePublicKey TestKey::publicKey() const
{
    return ModuleSigningCrypto::publicComponents(m_poKey.get());
}

QByteArray TestKey::sign(const QByteArray &data) const
{
    return ModuleSigningCrypto::sign(m_poKey.get(), data);
}

bool TestKey::writePrivatePem(const QString &path) const
{
    return writePem(path, [this](BIO *bio) {
        return PEM_write_bio_PrivateKey(bio, m_poKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
}

bool TestKey::writePublicPem(const QString &path) const
{
    return writePem(path, [this](BIO *bio) { return PEM_write_bio_PUBKEY(bio, m_poKey.get()); });
}
