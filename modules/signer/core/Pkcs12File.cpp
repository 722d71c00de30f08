#include "Pkcs12File.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace vyr::signer {
namespace {

// A certificate file with its key and chain is a few kilobytes; anything this large is not one.
constexpr qint64 kMaxFileBytes = 1024LL * 1024;

struct SafeContents
{
    QList<QPair<QByteArray, QByteArray>> certificates; // DER, local key id
    QByteArray keyLocalId;
    bool hasKey = false;
    bool hasUnreadablePart = false; // a part sealed by the password: it may hold the key
};

QByteArray localKeyId(const PKCS12_SAFEBAG *bag)
{
    const ASN1_TYPE *attribute = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
    if (!attribute || attribute->type != V_ASN1_OCTET_STRING)
        return {};
    const ASN1_OCTET_STRING *octets = attribute->value.octet_string;
    return QByteArray(reinterpret_cast<const char *>(ASN1_STRING_get0_data(octets)),
                      ASN1_STRING_length(octets));
}

void collectBags(const STACK_OF(PKCS12_SAFEBAG) * bags, SafeContents &contents)
{
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG *bag = sk_PKCS12_SAFEBAG_value(bags, i);
        const int kind = PKCS12_SAFEBAG_get_nid(bag);
        if (kind == NID_keyBag || kind == NID_pkcs8ShroudedKeyBag) {
            contents.hasKey = true;
            contents.keyLocalId = localKeyId(bag);
        } else if (kind == NID_certBag && PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate) {
            const X509Ptr certificate(PKCS12_SAFEBAG_get1_cert(bag));
            if (certificate)
                contents.certificates.append({certificateDer(certificate.get()), localKeyId(bag)});
        }
    }
}

SafeContents readContents(PKCS12 *file)
{
    SafeContents contents;
    const Pkcs7StackPtr parts(PKCS12_unpack_authsafes(file));
    for (int i = 0; parts && i < sk_PKCS7_num(parts.get()); ++i) {
        PKCS7 *part = sk_PKCS7_value(parts.get(), i);
        SafeBagStackPtr bags;
        if (PKCS7_type_is_data(part))
            bags.reset(PKCS12_unpack_p7data(part));
        else if (PKCS7_type_is_encrypted(part))
            bags.reset(PKCS12_unpack_p7encdata(part, "", 0)); // readable when sealed with no password
        if (bags)
            collectBags(bags.get(), contents);
        else
            contents.hasUnreadablePart = true;
    }
    return contents;
}

QByteArray companionCertificate(const QString &path)
{
    const QFileInfo info(path);
    for (const char *suffix : {".crt", ".pem", ".cer"}) {
        QFile file(info.dir().filePath(info.completeBaseName() + QLatin1String(suffix)));
        if (file.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly))
            continue;
        QByteArray bytes = file.readAll();
        if (parseCertificate(bytes))
            return bytes;
        const BioPtr bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
        const X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (certificate)
            return certificateDer(certificate.get());
    }
    return {};
}

// The key's own certificate: the one sharing its local key id, else the first that is no
// authority.
qsizetype keyCertificateIndex(const SafeContents &contents)
{
    for (qsizetype i = 0; i < contents.certificates.size(); ++i)
        if (!contents.keyLocalId.isEmpty() && contents.certificates[i].second == contents.keyLocalId)
            return i;
    for (qsizetype i = 0; i < contents.certificates.size(); ++i) {
        const X509Ptr certificate = parseCertificate(contents.certificates[i].first);
        if (certificate && X509_check_ca(certificate.get()) == 0)
            return i;
    }
    return -1;
}

} // namespace

Pkcs12Ptr loadPkcs12(const QString &path, QString &reason)
{
    QFile file(path);
    if (file.size() > kMaxFileBytes || !file.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("unreadable or larger than 1 MiB");
        return nullptr;
    }
    const QByteArray bytes = file.readAll();
    const auto *cursor = reinterpret_cast<const unsigned char *>(bytes.constData());
    Pkcs12Ptr parsed(d2i_PKCS12(nullptr, &cursor, bytes.size()));
    if (!parsed)
        reason = QStringLiteral("not a PKCS#12 file");
    return parsed;
}

std::optional<Pkcs12Listing> readPkcs12Listing(const QString &path, QString &reason)
{
    const Pkcs12Ptr file = loadPkcs12(path, reason);
    if (!file)
        return std::nullopt;
    const SafeContents contents = readContents(file.get());
    if (!contents.hasKey && !contents.hasUnreadablePart) {
        reason = QStringLiteral("holds no private key");
        return std::nullopt;
    }
    Pkcs12Listing listing;
    for (const auto &certificate : contents.certificates)
        listing.otherCertificates.append(certificate.first);
    const qsizetype index = keyCertificateIndex(contents);
    listing.certificate = index >= 0 ? listing.otherCertificates.takeAt(index) : companionCertificate(path);
    if (listing.certificate.isEmpty()) {
        reason = QStringLiteral("its certificate is encrypted; put it beside the file as <name>.crt");
        return std::nullopt;
    }
    return listing;
}

} // namespace vyr::signer
