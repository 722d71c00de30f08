#pragma once

#include <QByteArray>
#include <memory>
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

// Owning handles for the OpenSSL objects of the signing module. The module cannot use the
// server's own header (it is built against the SDK alone), hence this small twin.
namespace vyr::signer {

template <auto FreeFunction> struct OsslDeleter
{
    template <class T> void operator()(T *object) const { FreeFunction(object); }
};

inline void freeX509Stack(STACK_OF(X509) * stack)
{
    sk_X509_pop_free(stack, X509_free);
}
inline void freeSafeBagStack(STACK_OF(PKCS12_SAFEBAG) * stack)
{
    sk_PKCS12_SAFEBAG_pop_free(stack, PKCS12_SAFEBAG_free);
}
inline void freePkcs7Stack(STACK_OF(PKCS7) * stack)
{
    sk_PKCS7_pop_free(stack, PKCS7_free);
}

using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO_free_all>>;
using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OsslDeleter<ECDSA_SIG_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OsslDeleter<EVP_PKEY_CTX_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OsslDeleter<PKCS12_free>>;
using Pkcs7StackPtr = std::unique_ptr<STACK_OF(PKCS7), OsslDeleter<freePkcs7Stack>>;
using SafeBagStackPtr = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), OsslDeleter<freeSafeBagStack>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509_free>>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OsslDeleter<freeX509Stack>>;

// The certificate in DER, or nullptr when the bytes are not one.
X509Ptr parseCertificate(const QByteArray &der);
QByteArray certificateDer(X509 *certificate);

} // namespace vyr::signer
