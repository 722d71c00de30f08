#include "SignerCertificate.h"

#include "CmsAlgorithms.h"
#include "DerWriter.h"
#include "core/SignatureAlgorithms.h"
#include "core/SignerError.h"

#include <openssl/err.h>

namespace {

vyr::openssl::X509Ptr parseWhole(const QByteArray &der)
{
    const auto *cursor = reinterpret_cast<const unsigned char *>(der.constData());
    vyr::openssl::X509Ptr x509(d2i_X509(nullptr, &cursor, der.size()));
    if (!x509 || cursor != reinterpret_cast<const unsigned char *>(der.constData()) + der.size()) {
        ERR_clear_error(); // the reasons belong to this failure, not to the thread's next caller
        throw SignerError(SignerErrorCode::StoreError,
                          QStringLiteral("The key store holds a certificate that cannot be read."));
    }
    return x509;
}

template <class T, class Encoder> QByteArray encoded(const T *object, Encoder encode)
{
    const int length = encode(object, nullptr);
    if (length <= 0)
        throw SignerError(SignerErrorCode::StoreError, QStringLiteral("The certificate cannot be encoded."));
    QByteArray bytes(length, Qt::Uninitialized);
    auto *cursor = reinterpret_cast<unsigned char *>(bytes.data());
    encode(object, &cursor);
    return bytes;
}

} // namespace

SignerCertificate::SignerCertificate(const QByteArray &der) : m_der(der), m_x509(parseWhole(der))
{
    m_issuer = encoded(X509_get_issuer_name(m_x509.get()),
                       [](const X509_NAME *name, unsigned char **out) { return i2d_X509_NAME(name, out); });
    m_serial =
        encoded(X509_get0_serialNumber(m_x509.get()), [](const ASN1_INTEGER *serial, unsigned char **out) {
            return i2d_ASN1_INTEGER(serial, out);
        });
}

void SignerCertificate::checkIsCertificate(const QByteArray &der)
{
    parseWhole(der);
}

QByteArray SignerCertificate::issuerAndSerialNumber() const
{
    return der::sequence({m_issuer, m_serial});
}

QByteArray SignerCertificate::essCertIdV2() const
{
    // GeneralNames holding one directoryName, which is [4] EXPLICIT Name.
    const QByteArray issuerSerial = der::sequence({der::sequence({der::explicitTag(4, m_issuer)}), m_serial});
    return der::sequence(
        {der::octetString(vyr::signer::computeDigest(DigestAlgorithm::Sha256, m_der)), issuerSerial});
}

EVP_PKEY *SignerCertificate::publicKey() const
{
    return X509_get0_pubkey(m_x509.get());
}
