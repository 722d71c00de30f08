#include "CertificateAuthority.h"

#include "AtomicFileWriter.h"
#include "CertGenException.h"
#include "CertificateFactory.h"
#include "FileSetWriter.h"
#include "PemCodec.h"
#include "keyprotection/SecureObject.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

using namespace vyr::openssl;

namespace {
QString pathIn(const QString &directory, const char *fileName)
{
    return directory + QLatin1Char('/') + QLatin1String(fileName);
}
} // namespace

CertificateAuthority::CertificateAuthority(QString directory, EvpPkeyPtr key, X509Ptr certificate,
                                           Origin origin)
    : m_oDirectory(std::move(directory)), m_oKey(std::move(key)), m_oCertificate(std::move(certificate)),
      m_eOrigin(origin)
{
}

QStringList CertificateAuthority::files(const QString &directory)
{
    return {pathIn(directory, kKeyFileName), pathIn(directory, kCertificateFileName)};
}

bool CertificateAuthority::isOutdated(const QString &directory)
{
    const QString path = pathIn(directory, kCertificateFileName);
    if (!QFileInfo::exists(path))
        return false;
    try {
        return !CertificateFactory::isLimitedToLoopback(PemCodec::certificateFromPem(readFile(path)).get());
    } catch (const CertGenException &) {
        return false; // loadOrCreate says what is wrong with it
    }
}

CertificateAuthority CertificateAuthority::loadOrCreate(const QString &directory)
{
    if (QFileInfo(directory).isDir())
        FileSetWriter::recover(files(directory));
    const bool hasKey = QFileInfo::exists(pathIn(directory, kKeyFileName));
    const bool hasCertificate = QFileInfo::exists(pathIn(directory, kCertificateFileName));
    if (hasKey && hasCertificate) {
        CertificateAuthority loaded = load(directory);
        if (CertificateFactory::isLimitedToLoopback(loaded.certificate()))
            return loaded;
        CertificateAuthority replacement = create(directory, Origin::Replaced);
        replacement.m_oReplacedPem = loaded.certificatePem();
        return replacement;
    }
    if (hasKey || hasCertificate)
        throw CertGenException(
            QStringLiteral("The authority in %1 is incomplete; remove that directory to create a new one")
                .arg(directory));
    return create(directory, Origin::Created);
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
    return CertificateAuthority(directory, std::move(key), std::move(certificate), Origin::Loaded);
}

CertificateAuthority CertificateAuthority::create(const QString &directory, Origin origin)
{
    AtomicFileWriter::ensureDirectory(directory, 0700);
    EvpPkeyPtr key = CertificateFactory::generateRsaKey();
    const QString commonName =
        QStringLiteral("Veltrane Local Authority (%1)").arg(QSysInfo::machineHostName());
    X509Ptr certificate = CertificateFactory::createAuthority(key.get(), commonName);
    QByteArray keyPem = PemCodec::privateKeyToPem(key.get());
    const QStringList paths = files(directory);
    FileSetWriter().replace(
        {{paths[0], keyPem, 0600}, {paths[1], PemCodec::certificateToPem(certificate.get()), 0644}});
    SecureObject::wipe(keyPem);
    return CertificateAuthority(directory, std::move(key), std::move(certificate), origin);
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
