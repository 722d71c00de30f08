#include "PEHeaderData.h"

#include "logging/LogStatement.h"

#include <optional>

namespace {

constexpr qint64 kNewHeaderOffsetField = 0x3C;
constexpr qint64 kSizeOfHeadersField = 0x54;
constexpr qint64 kCertificateTableOffsetField = 0x98;
constexpr qint64 kCertificateTableSizeField = 0x9C;

std::optional<quint32> readUInt32(const QByteArray &bytes, qint64 position)
{
    if (position < 0 || position > bytes.size() - 4)
        return std::nullopt;
    quint32 value = 0;
    for (qint64 i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<quint8>(bytes.at(static_cast<qsizetype>(position + i)));
    return value;
}

} // namespace

PEHeaderData::PEHeaderData(QSharedPointer<QBuffer> buffer) : m_poBuffer(std::move(buffer)) {}

void PEHeaderData::loadData()
{
    if (!m_poBuffer) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "Buffer is empty!";
        return;
    }
    const QByteArray &bytes = m_poBuffer->data();
    if (bytes.isEmpty()) {
        VYR_LOG(moduleToolsLogChannel(), Error) << "Couldn't get buffer data";
        return;
    }
    if (!bytes.startsWith("MZ") || !readHeaderFields(bytes)) {
        VYR_LOG(moduleToolsLogChannel(), Info) << "Invalid PE file header";
        return;
    }
    VYR_LOG(moduleToolsLogChannel(), Info)
        << "Authenticode signature position: " << m_iCertificateTablePosition;
    VYR_LOG(moduleToolsLogChannel(), Info) << "PEHeader size: " << m_iHeaderSize;
}

bool PEHeaderData::readHeaderFields(const QByteArray &bytes)
{
    const std::optional<quint32> header = readUInt32(bytes, kNewHeaderOffsetField);
    if (!header)
        return false;
    const qint64 base = *header;
    const std::optional<quint32> tableOffset = readUInt32(bytes, base + kCertificateTableOffsetField);
    const std::optional<quint32> tableSize = readUInt32(bytes, base + kCertificateTableSizeField);
    const std::optional<quint32> headerSize = readUInt32(bytes, base + kSizeOfHeadersField);
    if (!tableOffset || !tableSize || !headerSize)
        return false;
    m_iCertificateTablePosition = *tableSize != 0 ? static_cast<qint64>(*tableOffset) : 0;
    m_iHeaderSize = *headerSize;
    return true;
}
