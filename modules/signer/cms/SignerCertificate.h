#pragma once

#include "common/OpenSslHandles.h"
#include "core/SigningKey.h"

#include <QByteArray>

// The certificate a key reports, read once per signing: what a SignerInfo and the
// signing-certificate-v2 attribute say about it, and its public key, with which every
// signature a store returns is checked before anyone sees it.
class SignerCertificate
{
public:
    // Throws SignerError (StoreError) when the bytes are not exactly one certificate.
    explicit SignerCertificate(const QByteArray &der);

    // Throws SignerError (StoreError) for the same reason; a chain entry must parse too,
    // or a verifier would choke on the whole SignedData.
    static void checkIsCertificate(const QByteArray &der);

    const QByteArray &der() const { return m_der; }
    // IssuerAndSerialNumber, the signer identifier of a version 1 SignerInfo.
    QByteArray issuerAndSerialNumber() const;
    // ESSCertIDv2: SHA-256 of the certificate (the default hash, so not named) and IssuerSerial.
    QByteArray essCertIdV2() const;
    EVP_PKEY *publicKey() const;

private:
    QByteArray m_der;
    vyr::openssl::X509Ptr m_x509;
    QByteArray m_issuer; // Name, DER
    QByteArray m_serial; // INTEGER, DER
};
