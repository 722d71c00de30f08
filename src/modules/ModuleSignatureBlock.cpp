#include "ModuleSignatureBlock.h"

QByteArray ModuleSignatureBlock::compose(const QByteArray &signature)
{
    const qint64 signatureSize = signature.size();
    QByteArray block = encodeInt64(signatureSize);
    block += signature;
    block += encodeInt64(signatureSize + kFieldSize);
    block += kEndMarker;
    return block;
}

QByteArray ModuleSignatureBlock::octawordPadding(qint64 fileSize)
{
    const qint64 remainder = fileSize % kOctawordSize;
    return QByteArray(remainder == 0 ? 0 : static_cast<qsizetype>(kOctawordSize - remainder), '\0');
}

QByteArray ModuleSignatureBlock::encodeInt64(qint64 value)
{
    QByteArray bytes(kFieldSize, '\0');
    auto bits = static_cast<quint64>(value);
    for (qsizetype i = 0; i < kFieldSize; ++i, bits >>= 8)
        bytes[i] = static_cast<char>(bits & 0xFFu);
    return bytes;
}

std::optional<qint64> ModuleSignatureBlock::decodeInt64(const QByteArray &bytes, qint64 position)
{
    const std::optional<QByteArray> field = slice(bytes, position, kFieldSize);
    if (!field)
        return std::nullopt;
    quint64 bits = 0;
    for (qsizetype i = kFieldSize - 1; i >= 0; --i)
        bits = (bits << 8) | static_cast<quint8>(field->at(i));
    return static_cast<qint64>(bits);
}

std::optional<QByteArray> ModuleSignatureBlock::slice(const QByteArray &bytes, qint64 position, qint64 length)
{
    const qint64 size = bytes.size();
    if (position < 0 || length < 0 || position > size || length > size - position)
        return std::nullopt;
    return bytes.mid(static_cast<qsizetype>(position), static_cast<qsizetype>(length));
}

int ModuleSignatureBlock::markerIndex(const QByteArray &bytes)
{
    return static_cast<int>(bytes.indexOf(kEndMarker));
}
