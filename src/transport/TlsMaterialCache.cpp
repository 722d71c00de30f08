#include "TlsMaterialCache.h"

#include "logging/LogStatement.h"
#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

TlsMaterialCache &TlsMaterialCache::instance()
{
    static TlsMaterialCache cache;
    return cache;
}

std::shared_ptr<const TlsMaterialCache::Snapshot> TlsMaterialCache::current()
{
    const CSettings *settings = CSettings::instance();
    const auto paths = settings->ReadSslCertificateCertAndKeyFiles();
    const QMutexLocker locker(&m_oMutex);
    if (!m_oFiles) {
        const QString appDir = QFileInfo(settings->settingsFilePath()).absolutePath();
        m_oFiles.emplace(UniquePassSources::system(),
                         ServerKeyFiles::repairCommand(QCoreApplication::applicationDirPath(), appDir));
    }
    const bool hasMaterial = m_oFiles->refresh(paths.first, paths.second);
    if (!m_poCurrent || m_oFiles->generation() != m_iBuiltGeneration) {
        m_poCurrent = build(*m_oFiles, hasMaterial);
        m_iBuiltGeneration = m_oFiles->generation();
        ++m_iBuilds;
    }
    return m_poCurrent;
}

quint64 TlsMaterialCache::builds() const
{
    const QMutexLocker locker(&m_oMutex);
    return m_iBuilds;
}

std::shared_ptr<const TlsMaterialCache::Snapshot> TlsMaterialCache::build(const ServerKeyFiles &files,
                                                                          bool hasMaterial)
{
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->hasMaterial = hasMaterial;
    snapshot->serves = files.problem() == ServerKeyFiles::Problem::None;
    QSslConfiguration &configuration = snapshot->configuration;
    configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setCiphers(CSettings::instance()->ReadSslEnabledCiphersList());
    if (hasMaterial) {
        VYR_LOG_SERVER(Debug) << "Decrypting the server key";
        QByteArray passPhrase = files.passPhrase();
        configuration.setLocalCertificate(QSslCertificate(files.certificate(), QSsl::Pem));
        configuration.setPrivateKey(QSslKey(files.key(), QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, passPhrase));
        passPhrase.fill('\0');
    }
    return snapshot;
}
