#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>

// Walks the firmware's SMBIOS structure table (structures only, no entry-point header).
class SmbiosTable
{
public:
    using Uuid = std::array<std::uint8_t, 16>;

    static constexpr std::uint8_t kSystemInformationType = 1;

    // Copies the UUID of every System Information structure into uuid, so the last one
    // wins; uuid is left untouched when there is none. Never reads past the table, however
    // the structures' lengths and string sets are forged. True when one was found.
    static bool findSystemUuid(const QByteArray &structures, Uuid &uuid);

private:
    // Offset of the structure after the one at offset, or -1 when the table ends.
    static qsizetype nextStructure(const QByteArray &structures, qsizetype offset);
};
