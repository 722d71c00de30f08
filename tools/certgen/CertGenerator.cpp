#include "CertGenerator.h"

#include "AtomicFileWriter.h"
#include "CertGenException.h"
#include "CertificateAuthority.h"
#include "CertificateFactory.h"
#include "FileSetWriter.h"
#include "PemCodec.h"
#include "keyprotection/MachineSeed.h"
#include "keyprotection/UniquePass.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

using namespace vyr::openssl;

namespace {
const QString kIniFileName = QStringLiteral("VeltraneCryptoProvider.ini");

// The server prefixes the configured path with its directory, absolute or not; so do we.
QString resolveInAppDir(const QString &appDir, const QString &configured)
{
    return QDir::cleanPath(appDir + QLatin1Char('/') + configured);
}

} // namespace

QStringList CertGenerator::Targets::existing() const
{
    QStringList paths;
    for (const QString &path : {certificate, key, authorityCopy}) {
        if (QFileInfo::exists(path))
            paths.append(path);
    }
    return paths;
}

CertGenerator::CertGenerator(CertGenOptions options) : m_oOptions(std::move(options)) {}

CertGenerator::Targets CertGenerator::targets(const QString &appDir)
{
    const QSettings ini(appDir + QLatin1Char('/') + kIniFileName, QSettings::IniFormat);
    const QString certFile =
        ini.value(QStringLiteral("sslCertificate/certFile"), QStringLiteral("./certs/VYR-cert-server.pem"))
            .toString();
    const QString keyFile =
        ini.value(QStringLiteral("sslCertificate/keyFile"), QStringLiteral("./certs/VYR-key-server.pem"))
            .toString();
    return {resolveInAppDir(appDir, certFile), resolveInAppDir(appDir, keyFile),
            resolveInAppDir(appDir, QStringLiteral("certs/") +
                                        QLatin1String(CertificateAuthority::kCertificateFileName))};
}

CertGenerator::SeedState CertGenerator::ensureSeed(const QString &seedPath, bool privileged)
{
    if (!MachineSeed::read(seedPath).isEmpty())
        return SeedState::Present;
    if (!privileged)
        return SeedState::MissingUnprivileged;
    MachineSeed::writeIfMissing(seedPath, MachineSeed::generate());
    if (MachineSeed::read(seedPath).isEmpty())
        throw CertGenException(QStringLiteral("Cannot create the machine seed %1").arg(seedPath));
    return SeedState::Created;
}

CertGenerator::Result CertGenerator::run() const
{
    Result result;
    const Targets files = targets(m_oOptions.appDir);
    FileSetWriter::recover(files.set());
    result.existing = files.existing();
    // Server files signed by an authority that may sign for any name are replaced with it.
    if (!result.existing.isEmpty() && !m_oOptions.force &&
        !CertificateAuthority::isOutdated(m_oOptions.caDir))
        return result;
    result.seed = ensureSeed(m_oOptions.identity.seedPath, m_oOptions.privileged);
    const CertificateAuthority authority = CertificateAuthority::loadOrCreate(m_oOptions.caDir);
    result.authorityCreated = authority.wasCreated();
    result.replacedAuthority = authority.replacedCertificatePem();
    if (result.authorityCreated)
        result.written.append(authority.certificatePath());
    writeServerFiles(authority, files, result);
    result.authorityCertificate = files.authorityCopy;
    result.outcome = Outcome::Written;
    return result;
}

void CertGenerator::writeServerFiles(const CertificateAuthority &authority, const Targets &files,
                                     Result &result) const
{
    const EvpPkeyPtr key = CertificateFactory::generateRsaKey();
    const X509Ptr certificate =
        CertificateFactory::createServerCertificate(key.get(), authority.certificate(), authority.key());
    // Root provisions a key shared with every account's server; a user's key serves that
    // user (and root, who reads anything). The encryption ties it to the machine either way.
    const mode_t keyMode = m_oOptions.privileged ? 0644 : 0600;
    for (const QString &path : files.set())
        AtomicFileWriter::ensureDirectory(QFileInfo(path).absolutePath(), 0755);
    FileSetWriter().replace({{files.key, encryptedServerKey(key.get()), keyMode},
                             {files.certificate, PemCodec::certificateToPem(certificate.get()), 0644},
                             {files.authorityCopy, authority.certificatePem(), 0644}});
    result.written << files.set();
}

QByteArray CertGenerator::encryptedServerKey(EVP_PKEY *key) const
{
    const SecurePass passPhrase = UniquePass(4, m_oOptions.identity).getUniquePassword();
    QByteArray pem = PemCodec::encryptedPrivateKeyToPem(key, passPhrase.bytes());
    // Proof before writing that the server, deriving the same pass phrase, opens it.
    const EvpPkeyPtr reread = PemCodec::privateKeyFromPem(pem, passPhrase.bytes());
    if (EVP_PKEY_eq(key, reread.get()) != 1)
        throw CertGenException(QStringLiteral("The encrypted server key does not read back"));
    return pem;
}
