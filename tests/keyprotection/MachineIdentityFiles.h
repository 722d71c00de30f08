#pragma once

#include "keyprotection/UniquePassSources.h"
#include "support/Files.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <cstdint>
#include <sys/stat.h>

inline mode_t fileMode(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : mode_t(-1);
}

inline const QByteArray kBoardUuid = QByteArray::fromHex("00112233445566778899aabbccddeeff");

// One firmware structure with its string set; a table is such structures back to back.
inline QByteArray smbiosStructure(std::uint8_t type, const QByteArray &formatted,
                                  const QList<QByteArray> &strings = {})
{
    QByteArray bytes(1, char(type));
    bytes.append(char(4 + formatted.size())).append("\x34\x12", 2).append(formatted);
    for (const QByteArray &text : strings)
        bytes.append(text).append('\0');
    return bytes.append(strings.isEmpty() ? 2 : 1, '\0');
}

// A System Information structure (formatted length 27) carrying the UUID.
inline QByteArray systemInformation(const QByteArray &uuid = kBoardUuid)
{
    return smbiosStructure(1, QByteArray("\x01\x02\x03\x04", 4) + uuid + QByteArray("\x06\x05\x06", 3),
                           {"Maker", "Board", "1.0", "SN-1", "Family"});
}

// A machine identity in a temporary directory: seed, machine id and structure table.
class MachineIdentityFiles
{
public:
    MachineIdentityFiles() = default;
    MachineIdentityFiles(const QByteArray &seed, const QByteArray &machineId,
                         const QByteArray &dmiTable = systemInformation())
    {
        write("seed", seed, 0644);
        write("machine-id", machineId, 0444);
        write("DMI", dmiTable, 0444);
    }

    UniquePassSources sources() const { return {path("seed"), path("machine-id"), path("DMI")}; }
    QString path(const char *name) const { return m_oDir.filePath(QLatin1String(name)); }
    void write(const char *name, const QByteArray &bytes, mode_t mode) const
    {
        writeWholeFile(path(name), bytes);
        ::chmod(QFile::encodeName(path(name)).constData(), mode);
    }

private:
    QTemporaryDir m_oDir;
};
