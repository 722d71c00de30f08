#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QSettings>
#include <QSslCipher>
#include <QStringList>
#include <QVariant>

// Process-wide reader of VeltraneCryptoProvider.ini beside the executable. Every getter
// reads the file through one QSettings under one mutex and falls back to a built-in
// default, so a missing key never stops the server. Any thread may call the getters.
// Whether a missing file may start a server at all is start-up's decision, not this one's.
// The sessions group has no getters here: the session store reads it, defaults included,
// its caps through SessionLimits.
class CSettings : public QObject
{
    Q_OBJECT
public:
    // Created on first call, on the file beside the executable.
    static CSettings *instance();
    // <applicationDirPath>/<applicationName>.ini
    static QString filePathFor(const QString &applicationDirPath);

    // Reads the file filePathFor(applicationDirPath) names; a missing file reads as empty.
    explicit CSettings(const QString &applicationDirPath, QObject *parent = nullptr);
    ~CSettings() override;

    QString settingsFilePath() const;

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
    // The [jobs] group. Threads: 0 or less picks the machine's core count (at least 2). The
    // caps read a value below 1 as their default, so a typing error never refuses every job.
    int ReadJobWorkerThreads() const;
    int ReadMaxAbandonedJobThreads() const;
    int ReadMaxJobsPerSession() const;
    int ReadMaxResultsPerSession() const;
    int ReadMaxResults() const;

    // Bounds on slow and hostile connections; a value that is no positive number reads as
    // the default, so a typo cannot close every connection at once.
    int ReadHandshakeTimeout() const;
    int ReadRequestTimeout() const;
    int ReadWriteTimeout() const;
    // Bytes of replies the kernel may hold for one connection.
    int ReadSendBufferSize() const;
    // Percent of maxThreads that connections of other accounts may hold together, 0 to 100.
    int ReadOtherAccountsPoolShare() const;

    QPair<QString, QString> ReadSslCertificateCertAndKeyFiles() const;
    QList<QSslCipher> ReadSslEnabledCiphersList() const;

    // The fixed cipher string; there is no key for it.
    static const char *const kCiphersString;

private:
    int readInt(const QString &group, const QString &key, const char *defaultValue) const;
    int readPositiveInt(const QString &group, const QString &key, const char *defaultValue) const;
    bool readBool(const QString &group, const QString &key, const char *defaultValue) const;
    QString readText(const QString &group, const QString &key, const char *defaultValue) const;
    int readPositiveInt(const QString &group, const QString &key, int defaultValue) const;

    const QString m_oAppDirPrefix;
    // Read from every thread that calls a getter, always under m_oMutex.
    QSettings m_oSettings;
    mutable QMutex m_oMutex;
};
