#include "BrowserTrust.h"
#include "CertGenException.h"
#include "PemCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <openssl/x509.h>

namespace {
// NSS keeps at most a handful of certificates under one nickname; the bound only guards
// against a certutil that reports success without removing anything.
constexpr int kMaxRemovals = 8;
const QString kNssDatabaseFile = QStringLiteral("cert9.db");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool samePemCertificate(const QByteArray &first, const QByteArray &second)
{
    try {
        return X509_cmp(PemCodec::certificateFromPem(first).get(),
                        PemCodec::certificateFromPem(second).get()) == 0;
    } catch (const CertGenException &) {
        return false;
    }
}

QTextStream &operator<<(QTextStream &out, const BrowserTrust::Store &store)
{
    return out << store.browser << " (" << store.directory << ")";
}
} // namespace

BrowserTrust::BrowserTrust(QString home, QString authorityFile, QString certutil)
    : m_oHome(std::move(home)), m_oAuthorityFile(std::move(authorityFile)), m_oCertutilProgram(certutil),
      m_oCertutil(std::move(certutil))
{
}

QString BrowserTrust::chromiumDatabase(const QString &home)
{
    return home + QStringLiteral("/.pki/nssdb");
}

QStringList BrowserTrust::firefoxProfileRoots(const QString &home)
{
    return {home + QStringLiteral("/.mozilla/firefox"),
            home + QStringLiteral("/snap/firefox/common/.mozilla/firefox"),
            home + QStringLiteral("/.var/app/org.mozilla.firefox/.mozilla/firefox")};
}

QList<BrowserTrust::Store> BrowserTrust::firefoxProfiles(const QString &home)
{
    QList<Store> profiles;
    for (const QString &root : firefoxProfileRoots(home)) {
        const QFileInfoList entries = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo &entry : entries) {
            if (QFileInfo(entry.filePath() + QLatin1Char('/') + kNssDatabaseFile).isFile())
                profiles.append({QStringLiteral("Firefox profile ") + entry.fileName(), entry.filePath()});
        }
    }
    return profiles;
}

int BrowserTrust::run(Action action, QTextStream &out, QTextStream &err) const
{
    if (m_oCertutilProgram.isEmpty()) {
        err << "vyr-certgen: certutil was not found on PATH. Install the package libnss3-tools and run this "
               "again. Nothing was changed.\n";
        return kNoCertutil;
    }
    return action == Action::Trust ? trust(out, err) : untrust(out, err);
}

int BrowserTrust::trust(QTextStream &out, QTextStream &err) const
{
    try {
        PemCodec::certificateFromPem(readFile(m_oAuthorityFile));
    } catch (const CertGenException &e) {
        err << "vyr-certgen: cannot read the local authority's certificate " << m_oAuthorityFile << ": "
            << e.getMessage() << "\nProvision it first (vyr-certgen as root). Nothing was changed.\n";
        return kNoAuthority;
    }
    bool allDone = true;
    QList<Store> stores = firefoxProfiles(m_oHome);
    if (stores.isEmpty())
        reportNoFirefox(out);
    if (ensureChromiumDatabase(err))
        stores.prepend({QStringLiteral("Chromium/Chrome"), chromiumDatabase(m_oHome)});
    else
        allDone = false;
    for (const Store &store : std::as_const(stores))
        allDone = trustIn(store, out, err) && allDone;
    return allDone ? kDone : kStoreFailed;
}

int BrowserTrust::renew(const QByteArray &replacedAuthorityPem, QTextStream &out, QTextStream &err) const
{
    if (m_oCertutilProgram.isEmpty())
        return kDone;
    QString unused;
    QTextStream quiet(&unused);
    bool allDone = true;
    for (const Store &store : existingStores(quiet)) {
        if (holds(store, replacedAuthorityPem))
            allDone = trustIn(store, out, err) && allDone;
    }
    return allDone ? kDone : kStoreFailed;
}

QList<BrowserTrust::Store> BrowserTrust::existingStores(QTextStream &out) const
{
    QList<Store> stores;
    const QString chromium = chromiumDatabase(m_oHome);
    if (QFileInfo(chromium + QLatin1Char('/') + kNssDatabaseFile).isFile())
        stores.append({QStringLiteral("Chromium/Chrome"), chromium});
    else
        out << "No Chromium/Chrome certificate database at " << chromium << "; nothing to remove there.\n";
    const QList<Store> profiles = firefoxProfiles(m_oHome);
    if (profiles.isEmpty())
        reportNoFirefox(out);
    return stores + profiles;
}

int BrowserTrust::untrust(QTextStream &out, QTextStream &err) const
{
    const QList<Store> stores = existingStores(out);
    bool allDone = true;
    for (const Store &store : std::as_const(stores))
        allDone = untrustIn(store, out, err) && allDone;
    return allDone ? kDone : kStoreFailed;
}

bool BrowserTrust::ensureChromiumDatabase(QTextStream &err) const
{
    const QString database = chromiumDatabase(m_oHome);
    if (QFileInfo(database + QLatin1Char('/') + kNssDatabaseFile).isFile())
        return true;
    // Chromium creates these private to the user; so do we.
    const QFile::Permissions privateDir = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const QString pki = QFileInfo(database).path();
    const bool pkiIsNew = !QFileInfo::exists(pki);
    if (!QDir().mkpath(database) || (pkiIsNew && !QFile::setPermissions(pki, privateDir)) ||
        !QFile::setPermissions(database, privateDir)) {
        err << "vyr-certgen: cannot create " << database << "\n";
        return false;
    }
    const Certutil::Run created = m_oCertutil.createEmptyDatabase(database);
    if (!created.ok)
        err << "vyr-certgen: certutil could not create the database " << database << ": " << created.error
            << "\n";
    return created.ok;
}

bool BrowserTrust::trustIn(const Store &store, QTextStream &out, QTextStream &err) const
{
    if (holds(store, readFile(m_oAuthorityFile))) {
        out << "Already trusted by " << store << "\n";
        return true;
    }
    // An authority of an earlier provisioning goes first: one nickname, one certificate.
    for (int i = 0; i < kMaxRemovals && m_oCertutil.exportCertificate(store.directory, kNickname).ok; ++i)
        m_oCertutil.remove(store.directory, kNickname);
    const Certutil::Run added = m_oCertutil.addAuthority(store.directory, kNickname, m_oAuthorityFile);
    if (!added.ok) {
        err << "vyr-certgen: certutil could not add the local authority to " << store << ": " << added.error
            << "\n";
        return false;
    }
    out << "Trusted by " << store << "\n";
    return true;
}

bool BrowserTrust::untrustIn(const Store &store, QTextStream &out, QTextStream &err) const
{
    int removed = 0;
    for (; removed < kMaxRemovals && m_oCertutil.exportCertificate(store.directory, kNickname).ok;
         ++removed) {
        const Certutil::Run run = m_oCertutil.remove(store.directory, kNickname);
        if (!run.ok) {
            err << "vyr-certgen: certutil could not remove the local authority from " << store << ": "
                << run.error << "\n";
            return false;
        }
    }
    out << (removed > 0 ? "Removed from " : "Not present in ") << store << "\n";
    return true;
}

bool BrowserTrust::holds(const Store &store, const QByteArray &authorityPem) const
{
    const Certutil::Run exported = m_oCertutil.exportCertificate(store.directory, kNickname);
    return exported.ok && samePemCertificate(exported.output, authorityPem);
}

void BrowserTrust::reportNoFirefox(QTextStream &out) const
{
    out << "No Firefox profile found under " << firefoxProfileRoots(m_oHome).join(QStringLiteral(", "))
        << "; Firefox left unchanged.\n";
}
