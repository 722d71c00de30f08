#include "TlsMaterialCache.h"

#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QFileInfo>

TlsMaterialCache &TlsMaterialCache::instance()
{
    static TlsMaterialCache cache;
    return cache;
}

bool TlsMaterialCache::load()
{
    const CSettings *settings = CSettings::instance();
    const auto paths = settings->ReadSslCertificateCertAndKeyFiles();
    const QMutexLocker locker(&m_oMutex);
    if (!m_oFiles) {
        const QString appDir = QFileInfo(settings->settingsFilePath()).absolutePath();
        m_oFiles.emplace(UniquePassSources::system(),
                         ServerKeyFiles::repairCommand(QCoreApplication::applicationDirPath(), appDir));
    }
    return m_oFiles->refresh(paths.first, paths.second);
}

QByteArray TlsMaterialCache::certificate() const
{
    const QMutexLocker locker(&m_oMutex);
    return m_oFiles ? m_oFiles->certificate() : QByteArray();
}

QByteArray TlsMaterialCache::key() const
{
    const QMutexLocker locker(&m_oMutex);
    return m_oFiles ? m_oFiles->key() : QByteArray();
}
