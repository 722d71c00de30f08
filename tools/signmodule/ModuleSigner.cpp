#include "ModuleSigner.h"

#include "modules/ModuleReader.h"
#include "modules/ModuleSignatureBlock.h"
#include "modules/ModuleSigningCrypto.h"
#include "modules/PEHeaderData.h"

#include <QBuffer>
#include <QFile>

namespace {

constexpr int kRequiredKeyBits = 2048;

ModuleSigner::Outcome failure(const QString &message)
{
    return {false, message};
}

} // namespace

ModuleSigner::Outcome ModuleSigner::sign(const QString &modulePath, const QString &privateKeyPath)
{
    QFile file(modulePath);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("cannot read %1: %2").arg(modulePath, file.errorString()));
    const QByteArray bytes = file.readAll();
    file.close();
    if (const std::optional<QString> refusal = refusalToSign(modulePath, bytes))
        return failure(*refusal);

    QString error;
    const auto key = ModuleSigningCrypto::readPrivateKeyPem(privateKeyPath, &error);
    if (!key)
        return failure(error);
    if (!EVP_PKEY_is_a(key.get(), "RSA") || ModuleSigningCrypto::keyBits(key.get()) != kRequiredKeyBits)
        return failure(
            QStringLiteral("%1 is not an RSA key of %2 bits").arg(privateKeyPath).arg(kRequiredKeyBits));

    auto buffer = QSharedPointer<QBuffer>::create();
    buffer->setData(bytes);
    PEHeaderData header(buffer);
    header.loadData();
    // A PE file's headers are not signed; an ELF shared object is signed from byte 0.
    const QByteArray signature = ModuleSigningCrypto::sign(key.get(), bytes.mid(header.headerSize()), &error);
    if (signature.isEmpty())
        return failure(QStringLiteral("signing failed: %1").arg(error));
    QByteArray block = ModuleSignatureBlock::compose(signature);
    if (header.headerSize() != 0)
        block += ModuleSignatureBlock::octawordPadding(bytes.size() + block.size());
    Outcome appended = append(modulePath, block);
    if (!appended.success)
        return appended;
    const ModulePublicKey publicKey = ModuleSigningCrypto::publicComponents(key.get());
    if (!ModuleReader(modulePath, true, publicKey).verify())
        return failure(QStringLiteral("%1 was signed but does not verify; do not ship it").arg(modulePath));
    return {true, QStringLiteral("%1: signed").arg(modulePath)};
}

std::optional<QString> ModuleSigner::refusalToSign(const QString &modulePath, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return QStringLiteral("%1 is empty").arg(modulePath);
    ModuleReader reader(modulePath, true);
    reader.readModule();
    if (reader.isRead())
        return QStringLiteral("%1 already carries a signature block; refusing to sign it twice")
            .arg(modulePath);
    auto buffer = QSharedPointer<QBuffer>::create();
    buffer->setData(bytes);
    PEHeaderData header(buffer);
    header.loadData();
    if (header.certificateTablePosition() != 0)
        return QStringLiteral("%1 carries a code-signing certificate table; such files cannot be signed here")
            .arg(modulePath);
    return std::nullopt;
}

ModuleSigner::Outcome ModuleSigner::append(const QString &modulePath, const QByteArray &block)
{
    // Appending keeps the file's inode and permissions.
    QFile file(modulePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return failure(QStringLiteral("cannot write %1: %2").arg(modulePath, file.errorString()));
    if (file.write(block) != block.size() || !file.flush())
        return failure(QStringLiteral("cannot write %1: %2").arg(modulePath, file.errorString()));
    return {true, {}};
}

ModuleSigner::Outcome ModuleSigner::verify(const QString &modulePath,
                                           const std::optional<QString> &publicKeyPath)
{
    ModulePublicKey key = ModulePublicKey::builtIn();
    if (publicKeyPath) {
        QString error;
        key = ModulePublicKey::fromPemFile(*publicKeyPath, &error);
        if (!key.isValid())
            return failure(error);
    }
    if (!ModuleReader(modulePath, true, key).verify())
        return failure(QStringLiteral("%1: signature NOT valid").arg(modulePath));
    return {true, QStringLiteral("%1: signature valid").arg(modulePath)};
}
