#include "KeyStores.h"

#include "KeyId.h"
#include "Pkcs11Store.h"
#include "Pkcs12Store.h"
#include "SignerError.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace vyr::signer {
namespace {

// NSS's own module opens a database only when told where, and read-only so that a browser
// using it at the same time is never disturbed.
QByteArray nssConfiguration(const SignerSettings &settings)
{
    QString database = settings.nssDatabase;
    database.remove(u'\'');
    return QStringLiteral("configdir='%1' certPrefix='' keyPrefix='' secmod='secmod.db' flags=readOnly")
        .arg(database)
        .toUtf8();
}

} // namespace

KeyStores::KeyStores(const SignerSettings &settings)
{
    if (settings.useProxy)
        m_stores.push_back(std::make_unique<Pkcs11Store>(SignerSettings::proxyLibrary()));
    for (const QString &library : settings.pkcs11Libraries)
        m_stores.push_back(std::make_unique<Pkcs11Store>(library));
    m_stores.push_back(std::make_unique<Pkcs12Store>(settings.pkcs12Directory));
    const QString nssDirectory = settings.nssDatabase.mid(settings.nssDatabase.indexOf(u':') + 1);
    if (!nssDirectory.isEmpty() && QFileInfo(nssDirectory).isDir())
        m_stores.push_back(
            std::make_unique<Pkcs11Store>(QStringLiteral("libsoftokn3.so"), nssConfiguration(settings)));
}

KeyStores::KeyStores(std::vector<std::unique_ptr<KeyStore>> stores) : m_stores(std::move(stores)) {}

QList<CertificateEntry> KeyStores::list()
{
    QList<CertificateEntry> entries;
    QSet<QByteArray> seen;
    for (const std::unique_ptr<KeyStore> &store : m_stores) {
        // A token finds its objects in no fixed order; a page showing the list to a person
        // should not reshuffle it from one call to the next.
        QList<CertificateEntry> found = store->list();
        std::sort(found.begin(), found.end(),
                  [](const CertificateEntry &a, const CertificateEntry &b) { return a.id < b.id; });
        for (const CertificateEntry &entry : std::as_const(found))
            if (!seen.contains(entry.id)) {
                seen.insert(entry.id);
                entries.append(entry);
            }
    }
    return entries;
}

std::unique_ptr<SigningKey> KeyStores::open(const QByteArray &id)
{
    if (looksLikeKeyId(id))
        for (const std::unique_ptr<KeyStore> &store : m_stores)
            if (std::unique_ptr<SigningKey> key = store->open(id))
                return key;
    throw SignerError(SignerErrorCode::CertificateNotFound, QStringLiteral("No certificate has this id."));
}

} // namespace vyr::signer
