#pragma once

#include "keyprotection/UniquePassSources.h"

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

// Builds a firmware structure table: structures with their string sets, back to back.
class SmbiosBuilder
{
public:
    SmbiosBuilder &structure(std::uint8_t type, const QByteArray &formatted,
                             const QList<QByteArray> &strings = {})
    {
        m_oBytes.append(char(type))
            .append(char(4 + formatted.size()))
            .append("\x34\x12", 2)
            .append(formatted);
        for (const QByteArray &text : strings)
            m_oBytes.append(text).append('\0');
        m_oBytes.append(strings.isEmpty() ? 2 : 1, '\0');
        return *this;
    }

    // A System Information structure (formatted length 27) carrying the UUID.
    SmbiosBuilder &systemInformation(const QByteArray &uuid)
    {
        const QByteArray formatted = QByteArray("\x01\x02\x03\x04", 4) + uuid + QByteArray("\x06\x05\x06", 3);
        return structure(1, formatted, {"Maker", "Board", "1.0", "SN-1", "Family"});
    }

    QByteArray bytes() const { return m_oBytes; }

private:
    QByteArray m_oBytes;
};

// A machine identity in a temporary directory: seed, machine id and structure table.
class MachineIdentityFiles
{
public:
    static QByteArray uuidA() { return QByteArray::fromHex("00112233445566778899aabbccddeeff"); }

    MachineIdentityFiles() = default;
    MachineIdentityFiles(const QByteArray &seed, const QByteArray &machineId, const QByteArray &dmiTable)
    {
        write("seed", seed, 0644);
        write("machine-id", machineId, 0444);
        setDmiTable(dmiTable);
    }

    UniquePassSources sources() const { return {path("seed"), path("machine-id"), path("DMI")}; }
    QString path(const char *name) const { return m_oDir.filePath(QLatin1String(name)); }
    void setDmiTable(const QByteArray &table, mode_t mode = 0444) const { write("DMI", table, mode); }

private:
    void write(const char *name, const QByteArray &bytes, mode_t mode) const
    {
        QFile file(path(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
        file.close();
        ::chmod(QFile::encodeName(path(name)).constData(), mode);
    }

    QTemporaryDir m_oDir;
};
