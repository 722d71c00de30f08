#include "SmbiosTable.h"

#include <cstring>

namespace {
constexpr qsizetype kHeaderSize = 4; // type, formatted length, 16-bit handle
constexpr qsizetype kUuidOffset = 8;
constexpr qsizetype kUuidSize = 16;
} // namespace

bool SmbiosTable::findSystemUuid(const QByteArray &structures, Uuid &uuid)
{
    bool found = false;
    for (qsizetype offset = 0; offset >= 0; offset = nextStructure(structures, offset)) {
        if (offset + kHeaderSize > structures.size())
            break;
        const auto type = static_cast<std::uint8_t>(structures.at(offset));
        const auto length = static_cast<std::uint8_t>(structures.at(offset + 1));
        // Early firmware wrote a System Information structure too short to carry a UUID.
        if (type == kSystemInformationType && length >= kUuidOffset + kUuidSize &&
            offset + length <= structures.size()) {
            std::memcpy(uuid.data(), structures.constData() + offset + kUuidOffset, kUuidSize);
            found = true;
        }
    }
    return found;
}

qsizetype SmbiosTable::nextStructure(const QByteArray &structures, qsizetype offset)
{
    const auto length = static_cast<std::uint8_t>(structures.at(offset + 1));
    // A formatted length below the header would walk in place forever.
    if (length < kHeaderSize)
        return -1;
    // The string set ends at the first two consecutive zero bytes after the formatted part.
    for (qsizetype i = offset + length; i + 1 < structures.size(); ++i) {
        if (structures.at(i) == '\0' && structures.at(i + 1) == '\0')
            return i + 2;
    }
    return -1;
}
