#pragma once

#include "common/OpenSslHandles.h"

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

    // The names a server certificate carries, and the only ones the authority may sign for.
    static constexpr char kServerNames[] = "IP:127.0.0.1,DNS:localhost";

    static vyr::openssl::EvpPkeyPtr generateRsaKey();
    // Self-signed, may sign server certificates only (path length 0), and for loopback
    // names only: a browser that trusts it cannot be fooled with a certificate for
    // another site, even if its key leaks.
    static vyr::openssl::X509Ptr createAuthority(EVP_PKEY *key, const QString &commonName);
    // False for an authority made before those limits existed.
    static bool isLimitedToLoopback(X509 *authority);
    // TLS server use only, signed by the authority; names in OpenSSL's subjectAltName form.
    static vyr::openssl::X509Ptr createServerCertificate(EVP_PKEY *serverKey, X509 *authority,
                                                         EVP_PKEY *authorityKey,
                                                         const char *names = kServerNames);

private:
    static vyr::openssl::X509Ptr newCertificate(EVP_PKEY *subjectKey, const QString &commonName, int days);
    static void addExtension(X509 *certificate, X509 *issuer, int nid, const char *value);
    static void sign(X509 *certificate, EVP_PKEY *issuerKey);
};
