#include "ServerKeyFiles.h"

#include "MachineSeed.h"
#include "PendingFileSet.h"
#include "UniquePass.h"
#include "common/OpenSslHandles.h"
#include "logging/LogStatement.h"

#include <QRegularExpression>
#include <openssl/err.h>
#include <openssl/pem.h>

using namespace vyr::openssl;

namespace {
// PEM files of a few KiB; the bound keeps a huge file from being held in memory.
constexpr qint64 kMaxFileSize = qint64{1024} * 1024;

BioPtr memoryBio(const QByteArray &bytes)
{
    return BioPtr(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
}

// Hands OpenSSL the pass phrase; never prompts.
int passPhraseCallback(char *buffer, int size, int, void *userData)
{
    const auto *passPhrase = static_cast<const QByteArray *>(userData);
    if (passPhrase->size() > size)
        return -1;
    std::copy(passPhrase->cbegin(), passPhrase->cend(), buffer);
    return int(passPhrase->size());
}

QString shellWord(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}
} // namespace

ServerKeyFiles::ServerKeyFiles(UniquePassSources sources, QString repairCommand)
    : m_oSources(std::move(sources)), m_oRepairCommand(std::move(repairCommand))
{
}

bool ServerKeyFiles::refresh(const QString &certificatePath, const QString &keyPath)
{
    // The key first: the provisioning tool names the set's commit mark after it.
    const QStringList files = {keyPath, certificatePath};
    // A machine seed made or replaced later changes whether the key opens.
    const auto signature = [&] {
        return PendingFileSet::signature(files) + PendingFileSet::signature({m_oSources.seedPath});
    };
    if (m_oSignature.isEmpty() || signature() != m_oSignature) {
        VYR_LOG_SERVER(Info) << "Reading cert and key";
        const PendingFileSet::Snapshot snapshot = PendingFileSet::read(files, kMaxFileSize);
        m_oKey = snapshot.contents.value(0);
        m_oCertificate = snapshot.contents.value(1);
        // Deriving the pass phrase creates a missing seed where the process may.
        QByteArray passPhrase = this->passPhrase();
        ++m_iGeneration;
        m_oSignature = snapshot.signature + PendingFileSet::signature({m_oSources.seedPath});
        const Problem before = m_eProblem;
        m_eProblem = check(m_oCertificate, m_oKey, passPhrase);
        passPhrase.fill('\0');
        if (m_eProblem != before)
            report(certificatePath, keyPath);
    }
    return !m_oCertificate.isEmpty() && !m_oKey.isEmpty();
}

QByteArray ServerKeyFiles::passPhrase() const
{
    return UniquePass(4, m_oSources).getUniquePassword().toByteArray();
}

ServerKeyFiles::Problem ServerKeyFiles::check(const QByteArray &certificatePem, const QByteArray &keyPem,
                                              const QByteArray &passPhrase)
{
    if (certificatePem.isEmpty())
        return Problem::CertificateMissing;
    if (keyPem.isEmpty())
        return Problem::KeyMissing;
    const BioPtr certificateBio = memoryBio(certificatePem);
    const X509Ptr certificate(PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
    const BioPtr keyBio = memoryBio(keyPem);
    const EvpPkeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, passPhraseCallback,
                                                 const_cast<QByteArray *>(&passPhrase)));
    Problem problem = Problem::None;
    if (!certificate)
        problem = Problem::CertificateUnreadable;
    else if (!key)
        problem = Problem::KeyDoesNotOpen;
    else if (X509_check_private_key(certificate.get(), key.get()) != 1)
        problem = Problem::KeyDoesNotMatch;
    // The handler thread's TLS library reads this queue after its own calls.
    ERR_clear_error();
    return problem;
}

QString ServerKeyFiles::repairCommand(const QString &toolDirectory, const QString &appDirectory)
{
    return shellWord(toolDirectory + QStringLiteral("/vyr-certgen")) + QStringLiteral(" --app-dir ") +
           shellWord(appDirectory) + QStringLiteral(" --force");
}

void ServerKeyFiles::report(const QString &certificatePath, const QString &keyPath) const
{
    QString what;
    switch (m_eProblem) {
    case Problem::None:
        VYR_LOG_SERVER(Info) << "TLS certificate and key serve again";
        return;
    case Problem::CertificateMissing:
        what = QStringLiteral("TLS certificate %1 is missing or empty").arg(certificatePath);
        break;
    case Problem::KeyMissing:
        what = QStringLiteral("TLS key %1 is missing or empty").arg(keyPath);
        break;
    case Problem::CertificateUnreadable:
        what = QStringLiteral("TLS certificate %1 holds no PEM certificate").arg(certificatePath);
        break;
    case Problem::KeyDoesNotOpen:
        what = QStringLiteral("TLS key %1 does not open with this machine's pass phrase").arg(keyPath);
        if (MachineSeed::read(m_oSources.seedPath).isEmpty())
            what += QStringLiteral(" (no machine seed in %1)").arg(m_oSources.seedPath);
        break;
    case Problem::KeyDoesNotMatch:
        what =
            QStringLiteral("TLS key %1 does not belong to the certificate %2").arg(keyPath, certificatePath);
        break;
    }
    // One line, whatever the number of connections refused meanwhile.
    VYR_LOG_SERVER(Error) << what << "; every TLS connection is refused until they are made again"
                          << " (run: " << m_oRepairCommand << ")";
}
