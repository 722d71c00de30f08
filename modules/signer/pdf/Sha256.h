#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <memory>
#include <openssl/evp.h>

// SHA-256 over data that arrives in pieces, through OpenSSL: a 50 MB document is hashed twice
// per signature, and Qt's own implementation takes ten times as long as the CPU's instructions.
class Sha256
{
public:
    Sha256(); // StoreError when OpenSSL cannot set up the digest
    void add(QByteArrayView bytes);
    QByteArray result();

private:
    struct Free
    {
        void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> m_context;
};
