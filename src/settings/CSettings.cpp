#include "CSettings.h"

#include "logging/LogStatement.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSslSocket>
#include <algorithm>
#include <atomic>

const char *const CSettings::kCiphersString =
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-SHA384:ECDHE-RSA-AES256-SHA:"
    "ECDHE-RSA-AES128-SHA256:ECDHE-RSA-AES128-SHA:AES256-SHA256:AES256-SHA";

namespace {
QMutex &instanceMutex()
{
    static QMutex mutex;
    return mutex;
}

std::atomic<CSettings *> g_poInstance{nullptr};

// Built once per process; an empty result is built again on the next call.
QList<QSslCipher> &cipherCache()
{
    static QList<QSslCipher> cache;
    return cache;
}
} // namespace

CSettings *CSettings::instance()
{
    if (CSettings *existing = g_poInstance.load())
        return existing;
    const QMutexLocker locker(&instanceMutex());
    if (!g_poInstance.load())
        g_poInstance = new CSettings(QCoreApplication::applicationDirPath());
    return g_poInstance;
}

QString CSettings::filePathFor(const QString &applicationDirPath)
{
    return applicationDirPath + QDir::separator() + QCoreApplication::applicationName() + ".ini";
}

CSettings::CSettings(const QString &applicationDirPath, QObject *parent)
    : QObject(parent), m_oAppDirPrefix(applicationDirPath + QDir::separator()),
      m_oSettings(filePathFor(applicationDirPath), QSettings::IniFormat)
{
}

CSettings::~CSettings()
{
    VYR_LOG_SERVER(Info) << "Manager destroyed.";
}

QString CSettings::settingsFilePath() const
{
    const QMutexLocker locker(&m_oMutex);
    return QFileInfo(m_oSettings.fileName()).absoluteFilePath();
}

QVariant CSettings::ReadVariant(const QString &group, const QString &key, const QVariant &defaultValue) const
{
    const QMutexLocker locker(&m_oMutex);
    QVariant value = m_oSettings.value(group + QLatin1Char('/') + key, defaultValue);
    if (value.isValid() && !value.isNull())
        return value;
    VYR_LOG_SERVER(Warning) << "Value for key: " << key << " in group: " << group << " is null";
    return defaultValue;
}

int CSettings::readInt(const QString &group, const QString &key, const char *defaultValue) const
{
    return ReadVariant(group, key, QString::fromLatin1(defaultValue)).toString().toInt();
}

int CSettings::readPositiveInt(const QString &group, const QString &key, const char *defaultValue) const
{
    const int value = readInt(group, key, defaultValue);
    return value > 0 ? value : QByteArray(defaultValue).toInt();
}

bool CSettings::readBool(const QString &group, const QString &key, const char *defaultValue) const
{
    const QString text = ReadVariant(group, key, QString::fromLatin1(defaultValue)).toString();
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

QString CSettings::readText(const QString &group, const QString &key, const char *defaultValue) const
{
    return ReadVariant(group, key, QString::fromLatin1(defaultValue)).toString();
}

bool CSettings::ReadWindowsServerMode() const
{
    return readBool("listener", "windowsServerMode", "false");
}
int CSettings::ReadPort() const
{
    return readInt("listener", "port", "8630");
}
int CSettings::ReadMinThreads() const
{
    return readInt("listener", "minThreads", "1");
}
int CSettings::ReadMaxThreads() const
{
    return readInt("listener", "maxThreads", "10");
}
int CSettings::ReadCleanupInterval() const
{
    return readInt("listener", "cleanupInterval", "5000");
}
int CSettings::ReadReadTimeout() const
{
    return readInt("listener", "readTimeout", "10000");
}
int CSettings::ReadMaxRequestSize() const
{
    return readInt("listener", "maxRequestSize", "16000");
}
int CSettings::ReadMaxMultiPartSize() const
{
    return readInt("listener", "maxMultiPartSize", "1000000");
}
int CSettings::ReadLogLevel() const
{
    return readInt("logging", "logLevel", "2");
}
int CSettings::ReadTimeoutInterval() const
{
    return readInt("timeout", "interval", "12000");
}
bool CSettings::ReadEnableCORS() const
{
    return readBool("settings", "enableCORS", "true");
}
int CSettings::ReadJobWorkerThreads() const
{
    return readInt("jobs", "workerThreads", "0");
}
int CSettings::ReadMaxAbandonedJobThreads() const
{
    return std::max(0, readInt("jobs", "maxAbandonedThreads", "8"));
}
int CSettings::ReadMaxJobsPerSession() const
{
    return readPositiveInt("jobs", "maxJobsPerSession", "16");
}
int CSettings::ReadMaxResultsPerSession() const
{
    return readPositiveInt("jobs", "maxResultsPerSession", "64");
}
int CSettings::ReadMaxResults() const
{
    return readPositiveInt("jobs", "maxResults", "4096");
}

int CSettings::readPositiveInt(const QString &group, const QString &key, int defaultValue) const
{
    const int value = readInt(group, key, QByteArray::number(defaultValue).constData());
    return value > 0 ? value : defaultValue;
}
int CSettings::ReadHandshakeTimeout() const
{
    return readPositiveInt("listener", "handshakeTimeout", 10000);
}
int CSettings::ReadRequestTimeout() const
{
    return readPositiveInt("listener", "requestTimeout", 30000);
}
int CSettings::ReadWriteTimeout() const
{
    return readPositiveInt("listener", "writeTimeout", 30000);
}
int CSettings::ReadSendBufferSize() const
{
    return readPositiveInt("listener", "sendBufferSize", 262144);
}
int CSettings::ReadOtherAccountsPoolShare() const
{
    bool isNumber = false;
    const int share = readText("listener", "otherAccountsPoolShare", "50").toInt(&isNumber);
    return isNumber ? qBound(0, share, 100) : 50;
}

qint64 CSettings::ReadMaxSize() const
{
    return ReadVariant("logging", "maxSize", QStringLiteral("5242880")).toString().toLongLong();
}

QStringList CSettings::ReadDllDirPaths() const
{
    QStringList directories = ReadVariant("dllLoader", "dirPath", QStringLiteral("dlls")).toStringList();
    for (QString &directory : directories)
        directory.prepend(m_oAppDirPrefix);
    return directories;
}

QPair<QString, QString> CSettings::ReadSslCertificateCertAndKeyFiles() const
{
    const QString certPath =
        m_oAppDirPrefix + readText("sslCertificate", "certFile", "./certs/VYR-cert-server.pem");
    const QString keyPath =
        m_oAppDirPrefix + readText("sslCertificate", "keyFile", "./certs/VYR-key-server.pem");
    VYR_LOG_SERVER(Debug) << "Cert path: " << certPath;
    VYR_LOG_SERVER(Debug) << "Key path: " << keyPath;
    return {certPath, keyPath};
}

QList<QSslCipher> CSettings::ReadSslEnabledCiphersList() const
{
    if (!QSslSocket::supportsSsl())
        VYR_LOG_SERVER(Error) << "SSL is not supported";
    const QMutexLocker locker(&m_oMutex);
    QList<QSslCipher> &cache = cipherCache();
    if (!cache.isEmpty())
        return cache;
    const QString ciphers = QString::fromLatin1(kCiphersString);
    VYR_LOG_SERVER(Debug) << "oCiphersString set to default value=" << ciphers;
    const QStringList names = ciphers.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    VYR_LOG_SERVER(Debug) << "Cipher list contains " << names.size() << " positions";
    for (const QString &name : names) {
        VYR_LOG_SERVER(Debug) << "oCipherName=" << name;
        const QSslCipher cipher(name);
        if (!cipher.isNull()) {
            VYR_LOG_SERVER(Debug) << "Added to list:" << name;
            cache.append(cipher);
        }
    }
    VYR_LOG_SERVER(Info) << "Found " << cache.size() << " supported ciphers on list";
    return cache;
}
