#include "SignerSettings.h"

#include "ModuleLocation.h"
#include "SignerLog.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <memory>

namespace vyr::signer {
namespace {

constexpr char kUseProxy[] = "pkcs11/useProxy";
constexpr char kLibraries[] = "pkcs11/libraries";
constexpr char kPkcs12Directory[] = "pkcs12/directory";
constexpr char kNssDatabase[] = "nss/database";
constexpr char kAllowedOrigins[] = "origins/allowed";

std::unique_ptr<QSettings> openFile(const QString &path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return nullptr;
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    if (settings->status() != QSettings::NoError) {
        qCWarning(lcSigner) << "Signer settings ignored, the file is broken:" << path;
        return nullptr;
    }
    return settings;
}

// The user's file first: the first file that has the key decides.
QVariant lookup(const std::array<QSettings *, 2> &files, const char *key, const QVariant &fallback)
{
    for (QSettings *file : files)
        if (file && file->contains(QLatin1String(key)))
            return file->value(QLatin1String(key));
    return fallback;
}

QStringList trimmedList(const QVariant &value)
{
    QStringList entries;
    for (const QString &entry : value.toStringList())
        if (!entry.trimmed().isEmpty())
            entries.append(entry.trimmed());
    return entries;
}

// Visible ASCII only: anything else could never match a browser's Origin header, and a comma
// or line break would change the list the server reads back.
bool isOriginText(const QString &origin)
{
    return origin.size() <= SignerSettings::kMaxOriginLength &&
           std::all_of(origin.cbegin(), origin.cend(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f && c != u','; });
}

QList<QByteArray> originsFrom(const QStringList &entries)
{
    QList<QByteArray> origins;
    qsizetype skipped = 0;
    for (const QString &entry : entries) {
        if (origins.size() < SignerSettings::kMaxOrigins && isOriginText(entry))
            origins.append(entry.toLatin1());
        else
            ++skipped;
    }
    if (skipped > 0)
        qCWarning(lcSigner) << "Signer settings:" << skipped << "allowed origins skipped, malformed or over"
                            << SignerSettings::kMaxOrigins;
    return origins;
}

} // namespace

SignerSettings SignerSettings::load(const QString &systemFile, const QString &userFile)
{
    const std::unique_ptr<QSettings> system = openFile(systemFile);
    const std::unique_ptr<QSettings> user = openFile(userFile);
    const std::array<QSettings *, 2> files{user.get(), system.get()};
    SignerSettings settings;
    settings.useProxy = lookup(files, kUseProxy, true).toBool();
    settings.pkcs11Libraries = trimmedList(lookup(files, kLibraries, QStringList()));
    settings.pkcs12Directory = lookup(files, kPkcs12Directory, defaultPkcs12Directory()).toString();
    settings.nssDatabase = lookup(files, kNssDatabase, defaultNssDatabase()).toString();
    settings.allowedOrigins = originsFrom(trimmedList(lookup(files, kAllowedOrigins, QStringList())));
    return settings;
}

SignerSettings SignerSettings::load()
{
    return load(systemFile(), userFile());
}

QString SignerSettings::systemFile()
{
    const QString directory = moduleDirectory();
    return directory.isEmpty() ? QString() : QDir(directory).filePath(QStringLiteral("signer.ini"));
}

QString SignerSettings::userFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/veltrane/signer.ini");
}

QString SignerSettings::defaultPkcs12Directory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/veltrane/certificates");
}

QString SignerSettings::defaultNssDatabase()
{
    return QStringLiteral("sql:") + QDir::homePath() + QStringLiteral("/.pki/nssdb");
}

QString SignerSettings::proxyLibrary()
{
    return QStringLiteral(VYR_P11KIT_PROXY);
}

} // namespace vyr::signer
