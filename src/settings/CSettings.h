#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSettings>
#include <QSslCipher>
#include <QStringList>
#include <QVariant>

// Process-wide reader of VeltraneCryptoProvider.ini beside the executable. Every getter
// reads the file through one QSettings under one mutex and falls back to a built-in
// default, so a missing key never stops the server. Any thread may call the getters.
class CSettings : public QObject
{
    Q_OBJECT
public:
    // Created on first call; ends the process with exit code 0 when the file is missing.
    static CSettings *instance();

    // Reads <applicationDirPath>/<applicationName>.ini; does not check that it exists.
    explicit CSettings(const QString &applicationDirPath, QObject *parent = nullptr);
    ~CSettings() override;

    QString settingsFilePath() const;
    QString applicationDirPrefix() const { return m_oAppDirPrefix; }

    QVariant ReadVariant(const QString &group, const QString &key, const QVariant &defaultValue) const;

    bool ReadWindowsServerMode() const;
    int ReadPort() const;
    int ReadMinThreads() const;
    int ReadMaxThreads() const;
    int ReadCleanupInterval() const;
    int ReadReadTimeout() const;
    int ReadMaxRequestSize() const;
    int ReadMaxMultiPartSize() const;
    int ReadLogLevel() const;
    qint64 ReadMaxSize() const;
    QStringList ReadDllDirPaths() const;
    int ReadTimeoutInterval() const;
    bool ReadEnableCORS() const;
    int ReadSessionExpirationTime() const;
    QString ReadSessionCookieName() const;
    QString ReadSessionCookiePath() const;
    QString ReadSessionCookieComment() const;
    QString ReadSessionCookieDomain() const;

    QPair<QString, QString> ReadSslCertificateCertAndKeyFiles() const;
    QList<QSslCipher> ReadSslEnabledCiphersList() const;

    // The fixed cipher string; there is no key for it.
    static const char *const kCiphersString;

private:
    QVariant readVariantLocked(const QString &group, const QString &key, const QVariant &defaultValue) const;
    int readInt(const QString &group, const QString &key, const char *defaultValue) const;
    bool readBool(const QString &group, const QString &key, const char *defaultValue) const;
    QString readText(const QString &group, const QString &key, const char *defaultValue) const;

    QString m_oAppDirPrefix;
    // Owned through the Qt parent; reads happen under m_oMutex.
    QPointer<QSettings> m_poSettings;
    mutable QMutex m_oMutex;
};
