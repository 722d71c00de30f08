#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

// The signature block appended to a module file, shared by the server and the signing tool:
//   module data | iSignatureSize (8) | signature | iExtraDataSize (8) | 0xFF | padding (0..7)
// Integers are signed 64-bit little-endian; iExtraDataSize is the signature size plus 8.
// Every read is bounds-checked, so hostile sizes can only fail a parse.
class ModuleSignatureBlock
{
public:
    static constexpr char kEndMarker = '\xFF';
    static constexpr qint64 kFieldSize = 8;
    static constexpr qint64 kMaxExtraDataSize = 264;
    static constexpr qint64 kOctawordSize = 8;

    // Everything that follows the module data, marker included, padding excluded.
    static QByteArray compose(const QByteArray &signature);
    // Zero bytes that bring a file of the given size to a whole number of octawords.
    static QByteArray octawordPadding(qint64 fileSize);

    static QByteArray encodeInt64(qint64 value);
    // The integer at [position, position + 8), or nothing when that is not inside bytes.
    static std::optional<qint64> decodeInt64(const QByteArray &bytes, qint64 position);
    // The bytes [position, position + length), or nothing when that is not inside bytes.
    static std::optional<QByteArray> slice(const QByteArray &bytes, qint64 position, qint64 length);
    // Index of the first end marker among the given bytes, or -1.
    static int markerIndex(const QByteArray &bytes);
};
