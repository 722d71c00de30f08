#include "CertificateAuthority.h"

#include "AtomicFileWriter.h"
#include "CertGenException.h"
#include "CertificateFactory.h"
#include "PemCodec.h"
#include "keyprotection/SecureObject.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

namespace {
QString pathIn(const QString &directory, const char *fileName)
{
    return directory + QLatin1Char('/') + QLatin1String(fileName);
}
} // namespace

CertificateAuthority::CertificateAuthority(QString directory, EvpPkeyPtr key, X509Ptr certificate,
                                           bool created)
    : m_oDirectory(std::move(directory)), m_oKey(std::move(key)), m_oCertificate(std::move(certificate)),
      m_bCreated(created)
{
}

CertificateAuthority CertificateAuthority::loadOrCreate(const QString &directory)
{
    const bool hasKey = QFileInfo::exists(pathIn(directory, kKeyFileName));
    const bool hasCertificate = QFileInfo::exists(pathIn(directory, kCertificateFileName));
    if (hasKey && hasCertificate)
        return load(directory);
    if (hasKey || hasCertificate)
        throw CertGenException(
            QStringLiteral("The authority in %1 is incomplete; remove that directory to create a new one")
                .arg(directory));
    return create(directory);
}

CertificateAuthority CertificateAuthority::load(const QString &directory)
{
    X509Ptr certificate = PemCodec::certificateFromPem(readFile(pathIn(directory, kCertificateFileName)));
    QByteArray keyPem = readFile(pathIn(directory, kKeyFileName));
    EvpPkeyPtr key = PemCodec::privateKeyFromPem(keyPem);
    SecureObject::wipe(keyPem);
    if (X509_check_private_key(certificate.get(), key.get()) != 1)
        throw CertGenException(
            QStringLiteral("The authority's key in %1 does not match its certificate").arg(directory));
    if (X509_cmp_current_time(X509_get0_notAfter(certificate.get())) <= 0)
        throw CertGenException(
            QStringLiteral("The authority in %1 has expired; remove that directory to create a new one")
                .arg(directory));
    return CertificateAuthority(directory, std::move(key), std::move(certificate), false);
}

CertificateAuthority CertificateAuthority::create(const QString &directory)
{
    AtomicFileWriter::ensureDirectory(directory, 0700);
    EvpPkeyPtr key = CertificateFactory::generateRsaKey();
    const QString commonName =
        QStringLiteral("Veltrane Local Authority (%1)").arg(QSysInfo::machineHostName());
    X509Ptr certificate = CertificateFactory::createAuthority(key.get(), commonName);
    QByteArray keyPem = PemCodec::privateKeyToPem(key.get());
    AtomicFileWriter::write(pathIn(directory, kKeyFileName), keyPem, 0600);
    SecureObject::wipe(keyPem);
    // The certificate goes last: a directory holding it always holds the matching key.
    AtomicFileWriter::write(pathIn(directory, kCertificateFileName),
                            PemCodec::certificateToPem(certificate.get()), 0644);
    return CertificateAuthority(directory, std::move(key), std::move(certificate), true);
}

QByteArray CertificateAuthority::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw CertGenException(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

QByteArray CertificateAuthority::certificatePem() const
{
    return PemCodec::certificateToPem(m_oCertificate.get());
}

QString CertificateAuthority::certificatePath() const
{
    return pathIn(m_oDirectory, kCertificateFileName);
}
