#include "SignerSettings.h"

#include "ModuleLocation.h"
#include "SignerLog.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <array>
#include <memory>

namespace vyr::signer {
namespace {

constexpr char kUseProxy[] = "pkcs11/useProxy";
constexpr char kLibraries[] = "pkcs11/libraries";
constexpr char kPkcs12Directory[] = "pkcs12/directory";
constexpr char kNssDatabase[] = "nss/database";

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

} // namespace

SignerSettings SignerSettings::load(const QString &systemFile, const QString &userFile)
{
    const std::unique_ptr<QSettings> system = openFile(systemFile);
    const std::unique_ptr<QSettings> user = openFile(userFile);
    const std::array<QSettings *, 2> files{user.get(), system.get()};
    SignerSettings settings;
    settings.useProxy = lookup(files, kUseProxy, true).toBool();
    for (const QString &library : lookup(files, kLibraries, QStringList()).toStringList())
        if (!library.trimmed().isEmpty())
            settings.pkcs11Libraries.append(library.trimmed());
    settings.pkcs12Directory = lookup(files, kPkcs12Directory, defaultPkcs12Directory()).toString();
    settings.nssDatabase = lookup(files, kNssDatabase, defaultNssDatabase()).toString();
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
