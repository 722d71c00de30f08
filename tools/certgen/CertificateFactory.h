#pragma once

#include "OpenSslHandles.h"

#include <QString>

// Keys and certificates of the local authority and of the loopback server. Throws
// CertGenException when OpenSSL refuses a step.
class CertificateFactory
{
public:
    static constexpr int kRsaBits = 2048;
    static constexpr int kAuthorityDays = 3650;
    // Some browsers refuse longer server certificates even under a locally trusted root.
    static constexpr int kServerDays = 825;

    static EvpPkeyPtr generateRsaKey();
    // Self-signed, may sign server certificates only (path length 0).
    static X509Ptr createAuthority(EVP_PKEY *key, const QString &commonName);
    // For 127.0.0.1 and localhost, TLS server use only, signed by the authority.
    static X509Ptr createServerCertificate(EVP_PKEY *serverKey, X509 *authority, EVP_PKEY *authorityKey);

private:
    static X509Ptr newCertificate(EVP_PKEY *subjectKey, const QString &commonName, int days);
    static void addExtension(X509 *certificate, X509 *issuer, int nid, const char *value);
    static void sign(X509 *certificate, EVP_PKEY *issuerKey);
};
