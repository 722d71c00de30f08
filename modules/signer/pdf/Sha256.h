#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <memory>
#include <openssl/evp.h>

// SHA-256 over data that arrives in pieces, through OpenSSL: Qt's own implementation takes ten
// times as long as the CPU's instructions on a 50 MB document.
class Sha256
{
public:
    Sha256(); // StoreError when OpenSSL cannot set up the digest
    // The state so far, to be continued apart: a document's digest and the digest of the
    // document with its update share the document's bytes, which are then read only once.
    Sha256 copy() const;
    void add(QByteArrayView bytes);
    QByteArray result();

private:
    struct Free
    {
        void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> m_context;
};
