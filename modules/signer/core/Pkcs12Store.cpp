#include "Pkcs12Store.h"

#include "KeyId.h"
#include "Pkcs12File.h"
#include "Pkcs12Key.h"
#include "SignerError.h"
#include "SignerLog.h"

#include <QDir>
#include <QFileInfo>

namespace vyr::signer {
namespace {

// A directory of certificate files holds a handful; a full one must not stall a listing.
constexpr qsizetype kMaxFiles = 200;

QByteArray idOf(const QString &path, const QByteArray &certificate)
{
    return makeKeyId("pkcs12", QFileInfo(path).absoluteFilePath().toUtf8(), certificate);
}

} // namespace

Pkcs12Store::Pkcs12Store(QString directory) : m_directory(std::move(directory)) {}

QStringList Pkcs12Store::files() const
{
    const QDir directory(m_directory);
    QStringList paths;
    const QStringList names = directory.entryList({QStringLiteral("*.p12"), QStringLiteral("*.pfx")},
                                                  QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names.mid(0, kMaxFiles))
        paths.append(directory.filePath(name));
    return paths;
}

QList<CertificateEntry> Pkcs12Store::list()
{
    QList<CertificateEntry> entries;
    for (const QString &path : files()) {
        QString reason;
        const std::optional<Pkcs12Listing> listing = readPkcs12Listing(path, reason);
        if (!listing) {
            qCWarning(lcSigner) << "PKCS#12 file skipped:" << path << reason;
            continue;
        }
        const CertificateEntry entry{idOf(path, listing->certificate), listing->certificate,
                                     QFileInfo(path).fileName()};
        entries.append(entry);
        m_listedIds.insert(entry.id);
    }
    return entries;
}

std::unique_ptr<SigningKey> Pkcs12Store::open(const QByteArray &id)
{
    for (const QString &path : files()) {
        QString reason;
        std::optional<Pkcs12Listing> listing = readPkcs12Listing(path, reason);
        if (listing && idOf(path, listing->certificate) == id)
            return std::make_unique<Pkcs12Key>(path, listing->certificate, listing->otherCertificates);
    }
    if (m_listedIds.contains(id))
        throw SignerError(SignerErrorCode::StoreError,
                          QStringLiteral("The certificate file of this certificate can no longer be read."));
    return nullptr;
}

} // namespace vyr::signer
