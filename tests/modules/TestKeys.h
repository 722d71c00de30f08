#pragma once

#include "common/OpenSslHandles.h"
#include "modules/ModulePublicKey.h"
#include "modules/ModuleSigningCrypto.h"

#include <QFile>
#include <openssl/pem.h>
#include <openssl/rsa.h>

// A throw-away RSA key for signing crafted files and for the signing tool.
class TestKey
{
public:
    explicit TestKey(int bits = 2048) : m_poKey(EVP_RSA_gen(static_cast<unsigned int>(bits))) {}

    ModulePublicKey publicKey() const { return ModuleSigningCrypto::publicComponents(m_poKey.get()); }
    QByteArray sign(const QByteArray &data) const { return ModuleSigningCrypto::sign(m_poKey.get(), data); }
    bool writePem(const QString &path, bool privateKey) const
    {
        vyr::openssl::BioPtr bio(BIO_new(BIO_s_mem()));
        const int written = privateKey ? PEM_write_bio_PrivateKey(bio.get(), m_poKey.get(), nullptr, nullptr,
                                                                  0, nullptr, nullptr)
                                       : PEM_write_bio_PUBKEY(bio.get(), m_poKey.get());
        char *data = nullptr;
        const long size = BIO_get_mem_data(bio.get(), &data);
        QFile file(path);
        return written == 1 && file.open(QIODevice::WriteOnly) && file.write(data, size) == size;
    }

private:
    vyr::openssl::EvpPkeyPtr m_poKey;
};
