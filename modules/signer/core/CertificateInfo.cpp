#include "CertificateInfo.h"

#include "SignerOpenSsl.h"

#include <array>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/x509v3.h>

namespace vyr::signer {
namespace {

struct UsageBit
{
    uint32_t bit;
    const char *name;
};

constexpr std::array<UsageBit, 9> kUsageBits{{
    {KU_DIGITAL_SIGNATURE, "digitalSignature"},
    {KU_NON_REPUDIATION, "nonRepudiation"},
    {KU_KEY_ENCIPHERMENT, "keyEncipherment"},
    {KU_DATA_ENCIPHERMENT, "dataEncipherment"},
    {KU_KEY_AGREEMENT, "keyAgreement"},
    {KU_KEY_CERT_SIGN, "keyCertSign"},
    {KU_CRL_SIGN, "cRLSign"},
    {KU_ENCIPHER_ONLY, "encipherOnly"},
    {KU_DECIPHER_ONLY, "decipherOnly"},
}};

QString nameText(const X509_NAME *name)
{
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char *text = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &text);
    return QString::fromUtf8(text, length);
}

QDateTime timeOf(const ASN1_TIME *time)
{
    struct tm parts = {};
    if (ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

QString serialText(X509 *certificate)
{
    BIGNUM *number = ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr);
    char *hex = number ? BN_bn2hex(number) : nullptr;
    QString text = hex ? QString::fromLatin1(hex) : QString();
    OPENSSL_free(hex);
    BN_free(number);
    return text;
}

QStringList usageNames(X509 *certificate)
{
    QStringList names;
    if ((X509_get_extension_flags(certificate) & EXFLAG_KUSAGE) == 0)
        return names;
    const uint32_t usage = X509_get_key_usage(certificate);
    for (const UsageBit &entry : kUsageBits)
        if ((usage & entry.bit) != 0)
            names.append(QString::fromLatin1(entry.name));
    return names;
}

} // namespace

std::optional<CertificateInfo> CertificateInfo::fromDer(const QByteArray &der)
{
    const X509Ptr certificate = parseCertificate(der);
    if (!certificate)
        return std::nullopt;
    CertificateInfo info;
    info.subject = nameText(X509_get_subject_name(certificate.get()));
    info.issuer = nameText(X509_get_issuer_name(certificate.get()));
    info.serial = serialText(certificate.get());
    info.notBefore = timeOf(X509_get0_notBefore(certificate.get()));
    info.notAfter = timeOf(X509_get0_notAfter(certificate.get()));
    info.keyUsage = usageNames(certificate.get());
    EVP_PKEY *key = X509_get0_pubkey(certificate.get());
    const int type = key ? EVP_PKEY_get_base_id(key) : EVP_PKEY_NONE;
    info.keyType = type == EVP_PKEY_RSA  ? QStringLiteral("RSA")
                   : type == EVP_PKEY_EC ? QStringLiteral("EC")
                                         : QString();
    info.keySize = key ? EVP_PKEY_get_bits(key) : 0;
    info.isAuthority = X509_check_ca(certificate.get()) != 0;
    return info;
}

} // namespace vyr::signer
