#include "ModuleReader.h"

#include "ModuleSignatureBlock.h"
#include "ModuleSigningCrypto.h"
#include "PEHeaderData.h"
#include "logging/LogStatement.h"

#include <QFile>

namespace {
constexpr qint64 kFieldSize = ModuleSignatureBlock::kFieldSize;
} // namespace

ModuleReader::ModuleReader(const QString &path, bool executableHeaderMode)
    : ModuleReader(path, executableHeaderMode, ModulePublicKey::builtIn())
{
}

ModuleReader::ModuleReader(const QString &path, bool executableHeaderMode, ModulePublicKey key)
    : m_oFilePath(path), m_poBuffer(QSharedPointer<QBuffer>::create()),
      m_bExecutableHeaderMode(executableHeaderMode), m_oKey(std::move(key))
{
    VYR_LOG(moduleToolsLogChannel(), Info) << "file: " << path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "Cannot read file '" << path << "'";
        return;
    }
    m_poBuffer->setData(file.readAll());
    VYR_LOG(moduleToolsLogChannel(), Info) << "Read data length: " << m_poBuffer->size();
}

ModuleReader::~ModuleReader() = default;

bool ModuleReader::verify()
{
    readModule();
    const bool verified = verifySignModuleSignature();
    if (!verified)
        VYR_LOG(moduleToolsLogChannel(), Error) << "File not verified!";
    return verified;
}

void ModuleReader::readModule()
{
    m_bRead = false;
    VYR_LOG(moduleToolsLogChannel(), Info) << "Reading module and its signature";
    if (!m_poBuffer->open(QIODevice::ReadOnly)) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "Cannot open buffer";
        return;
    }
    const QByteArray &bytes = m_poBuffer->data();
    const qint64 fileSize = bytes.size();
    VYR_LOG(moduleToolsLogChannel(), Debug) << "iFileSize: " << fileSize;
    const Region region =
        m_bExecutableHeaderMode ? locateExecutableRegion(fileSize) : Region{0, fileSize - 1};
    const std::optional<qint64> signatureSize = readSignatureSize(bytes, region.signEndPos);
    if (signatureSize && takeSignedParts(bytes, region, *signatureSize))
        m_bRead = true;
    m_poBuffer->close();
}

ModuleReader::Region ModuleReader::locateExecutableRegion(qint64 fileSize)
{
    PEHeaderData header(m_poBuffer);
    header.loadData();
    Region region{header.headerSize(), fileSize};
    if (header.certificateTablePosition() != 0)
        region.signEndPos = header.certificateTablePosition();
    VYR_LOG(moduleToolsLogChannel(), Debug) << "signEndPos before octaword padding: " << region.signEndPos;
    const QByteArray lastBytes =
        ModuleSignatureBlock::slice(m_poBuffer->data(),
                                    region.signEndPos - ModuleSignatureBlock::kOctawordSize,
                                    ModuleSignatureBlock::kOctawordSize)
            .value_or(QByteArray());
    const int padding = getOctawordPaddingSize(lastBytes);
    if (padding != -1) {
        region.signEndPos = region.signEndPos - padding - 1;
        VYR_LOG(moduleToolsLogChannel(), Debug) << "signEndPos after octaword padding: " << region.signEndPos;
    }
    return region;
}

std::optional<qint64> ModuleReader::readSignatureSize(const QByteArray &bytes, qint64 signEndPos)
{
    const std::optional<qint64> extraDataSize =
        ModuleSignatureBlock::decodeInt64(bytes, signEndPos - kFieldSize);
    if (!extraDataSize) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "No iExtraDataSize before position " << signEndPos;
        return std::nullopt;
    }
    VYR_LOG(moduleToolsLogChannel(), Debug)
        << "iFileSize: " << bytes.size() << " iExtraDataSize: " << *extraDataSize
        << " sizeof(iExtraDataSize): " << kFieldSize;
    if (*extraDataSize < 0 || *extraDataSize > ModuleSignatureBlock::kMaxExtraDataSize) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "wrong  iSignatureDataSize " << *extraDataSize;
        return std::nullopt;
    }
    const qint64 sizePosition = signEndPos - *extraDataSize - kFieldSize;
    const std::optional<qint64> signatureSize = ModuleSignatureBlock::decodeInt64(bytes, sizePosition);
    if (!signatureSize) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "No iSignatureSize at position " << sizePosition;
        return std::nullopt;
    }
    VYR_LOG(moduleToolsLogChannel(), Debug)
        << "iSignatureSize: " << *signatureSize << " sizeof(iSignatureSize): " << kFieldSize;
    // Compared this way round so that no value in the file can overflow the sum.
    if (*signatureSize != *extraDataSize - kFieldSize) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "wrong  iSignatureDataSize " << *extraDataSize;
        return std::nullopt;
    }
    return signatureSize;
}

bool ModuleReader::takeSignedParts(const QByteArray &bytes, const Region &region, qint64 signatureSize)
{
    const std::optional<QByteArray> signature =
        ModuleSignatureBlock::slice(bytes, region.signEndPos - kFieldSize - signatureSize, signatureSize);
    const qint64 moduleDataSize = region.signEndPos - signatureSize - region.start - 2 * kFieldSize;
    VYR_LOG(moduleToolsLogChannel(), Debug)
        << "iModuleDataSize: " << moduleDataSize << " sizeof(iModuleDataSize): " << kFieldSize;
    const std::optional<QByteArray> moduleData =
        ModuleSignatureBlock::slice(bytes, region.start, moduleDataSize);
    if (!signature || !moduleData) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "Signed region lies outside the file";
        return false;
    }
    m_oSignature = *signature;
    m_oModuleData = *moduleData;
    return true;
}

int ModuleReader::getOctawordPaddingSize(const QByteArray &lastBytes) const
{
    const int index = lastBytes.size() == ModuleSignatureBlock::kOctawordSize
                          ? ModuleSignatureBlock::markerIndex(lastBytes)
                          : -1;
    if (index < 0) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "There was no end of signature marker in the file!";
        return -1;
    }
    const int padding = static_cast<int>(ModuleSignatureBlock::kOctawordSize) - 1 - index;
    VYR_LOG(moduleToolsLogChannel(), Debug) << "Octaword padding size: " << padding;
    return padding;
}

bool ModuleReader::verifySignModuleSignature()
{
    VYR_LOG(moduleToolsLogChannel(), Info) << "Verifying SignModule signature";
    if (!m_bRead) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "Module not read";
        return false;
    }
    const auto key = ModuleSigningCrypto::publicKeyFromComponents(m_oKey.modulus, m_oKey.exponent);
    const bool verified = key && ModuleSigningCrypto::verify(key.get(), m_oModuleData, m_oSignature);
    VYR_LOG(moduleToolsLogChannel(), Info) << "Verification result: " << verified;
    return verified;
}
