#include "SignatureCheck.h"

#include "CmsAlgorithms.h"
#include "common/OpenSslHandles.h"
#include "core/SignatureAlgorithms.h"

#include <openssl/err.h>
#include <openssl/rsa.h>

namespace cms {
namespace {

bool configurePadding(EVP_PKEY_CTX *context, SignatureAlgorithm signature, DigestAlgorithm digest)
{
    switch (signature) {
    case SignatureAlgorithm::RsaPkcs1v15:
        return EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) > 0;
    case SignatureAlgorithm::RsaPss:
        return EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PSS_PADDING) > 0 &&
               EVP_PKEY_CTX_set_rsa_mgf1_md(context, vyr::signer::digestMd(digest)) > 0 &&
               EVP_PKEY_CTX_set_rsa_pss_saltlen(context, vyr::signer::digestLength(digest)) > 0;
    case SignatureAlgorithm::Ecdsa:
        return true;
    }
    return false;
}

} // namespace

bool signatureMatches(EVP_PKEY *publicKey, SignatureAlgorithm signature, DigestAlgorithm digest,
                      const QByteArray &digestValue, const QByteArray &signatureValue)
{
    const vyr::openssl::EvpPkeyCtxPtr context(EVP_PKEY_CTX_new(publicKey, nullptr));
    if (!context || EVP_PKEY_verify_init(context.get()) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), vyr::signer::digestMd(digest)) <= 0 ||
        !configurePadding(context.get(), signature, digest)) {
        ERR_clear_error();
        return false;
    }
    const bool valid =
        EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char *>(signatureValue.constData()),
                        static_cast<size_t>(signatureValue.size()),
                        reinterpret_cast<const unsigned char *>(digestValue.constData()),
                        static_cast<size_t>(digestValue.size())) == 1;
    // A refused signature leaves reasons on this thread's queue that no later caller asked for.
    ERR_clear_error();
    return valid;
}

} // namespace cms
