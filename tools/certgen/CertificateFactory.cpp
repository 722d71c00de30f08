#include "CertificateFactory.h"

#include "CertGenException.h"

#include <openssl/rsa.h>

using namespace vyr::openssl;

namespace {
// Backdated a little so a client whose clock runs behind still accepts a fresh certificate.
constexpr long kNotBeforeSkewSeconds = -60L * 60;
constexpr int kSerialBits = 159;
// What a loopback server can be called: its IPv4 and IPv6 addresses and localhost (with
// the names below it, which also resolve to this machine).
constexpr char kLoopbackConstraints[] = "critical,permitted;IP:127.0.0.1/255.255.255.255,"
                                        "permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff,"
                                        "permitted;DNS:localhost";

void setRandomSerial(X509 *certificate)
{
    const BignumPtr serial(BN_new());
    if (!serial || !BN_rand(serial.get(), kSerialBits, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot create a certificate serial number"));
}

void setSubject(X509 *certificate, const QString &commonName)
{
    X509_NAME *name = X509_get_subject_name(certificate);
    const QByteArray cn = commonName.toUtf8();
    if (!X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char *>("Veltrane"), -1, -1, 0) ||
        !X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char *>(cn.constData()), -1, -1, 0))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot set the certificate subject"));
}
} // namespace

EvpPkeyPtr CertificateFactory::generateRsaKey()
{
    EvpPkeyPtr key(EVP_RSA_gen(kRsaBits));
    if (!key)
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot generate an RSA key"));
    return key;
}

X509Ptr CertificateFactory::createAuthority(EVP_PKEY *key, const QString &commonName)
{
    X509Ptr certificate = newCertificate(key, commonName, kAuthorityDays);
    X509 *self = certificate.get();
    if (!X509_set_issuer_name(self, X509_get_subject_name(self)))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot set the authority's issuer"));
    addExtension(self, self, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    addExtension(self, self, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(self, self, NID_subject_key_identifier, "hash");
    addExtension(self, self, NID_name_constraints, kLoopbackConstraints);
    sign(self, key);
    return certificate;
}

bool CertificateFactory::isLimitedToLoopback(X509 *authority)
{
    const int index = X509_get_ext_by_NID(authority, NID_name_constraints, -1);
    return index >= 0 && X509_EXTENSION_get_critical(X509_get_ext(authority, index)) == 1;
}

X509Ptr CertificateFactory::createServerCertificate(EVP_PKEY *serverKey, X509 *authority,
                                                    EVP_PKEY *authorityKey, const char *names)
{
    X509Ptr certificate = newCertificate(serverKey, QStringLiteral("localhost"), kServerDays);
    X509 *leaf = certificate.get();
    if (!X509_set_issuer_name(leaf, X509_get_subject_name(authority)))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot set the server certificate's issuer"));
    addExtension(leaf, authority, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(leaf, authority, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    addExtension(leaf, authority, NID_ext_key_usage, "serverAuth");
    addExtension(leaf, authority, NID_subject_alt_name, names);
    addExtension(leaf, authority, NID_subject_key_identifier, "hash");
    addExtension(leaf, authority, NID_authority_key_identifier, "keyid:always");
    sign(leaf, authorityKey);
    return certificate;
}

X509Ptr CertificateFactory::newCertificate(EVP_PKEY *subjectKey, const QString &commonName, int days)
{
    X509Ptr certificate(X509_new());
    if (!certificate || !X509_set_version(certificate.get(), X509_VERSION_3) ||
        !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), kNotBeforeSkewSeconds) ||
        !X509_time_adj_ex(X509_getm_notAfter(certificate.get()), days, 0, nullptr) ||
        !X509_set_pubkey(certificate.get(), subjectKey))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot create a certificate"));
    setRandomSerial(certificate.get());
    setSubject(certificate.get(), commonName);
    return certificate;
}

void CertificateFactory::addExtension(X509 *certificate, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    const X509ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    if (!extension || !X509_add_ext(certificate, extension.get(), -1))
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot add the certificate extension %1")
                                                .arg(QString::fromLatin1(OBJ_nid2sn(nid))));
}

void CertificateFactory::sign(X509 *certificate, EVP_PKEY *issuerKey)
{
    if (X509_sign(certificate, issuerKey, EVP_sha256()) <= 0)
        throw CertGenException::fromOpenSsl(QStringLiteral("Cannot sign the certificate"));
}
