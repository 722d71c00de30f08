#include "TlsMaterialCache.h"

#include "logging/LogStatement.h"
#include "settings/CSettings.h"

#include <QFile>

namespace {
QByteArray readWhole(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

TlsMaterialCache &TlsMaterialCache::instance()
{
    static TlsMaterialCache cache;
    return cache;
}

bool TlsMaterialCache::load()
{
    QMutexLocker locker(&m_oMutex);
    if (m_oCertificate.isEmpty() || m_oKey.isEmpty()) {
        VYR_LOG_SERVER(Info) << "Reading cert and key";
        const auto paths = CSettings::instance()->ReadSslCertificateCertAndKeyFiles();
        if (QFile::exists(paths.first) && QFile::exists(paths.second)) {
            m_oCertificate = readWhole(paths.first);
            m_oKey = readWhole(paths.second);
        }
    }
    return !m_oCertificate.isEmpty() && !m_oKey.isEmpty();
}

QByteArray TlsMaterialCache::certificate() const
{
    QMutexLocker locker(&m_oMutex);
    return m_oCertificate;
}

QByteArray TlsMaterialCache::key() const
{
    QMutexLocker locker(&m_oMutex);
    return m_oKey;
}
