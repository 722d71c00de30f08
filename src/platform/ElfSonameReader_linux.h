#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The DT_SONAME of an ELF shared object, read from its section headers. Every offset
// and size comes from the file and is checked against it: a truncated or hostile file
// yields nothing rather than a wild read.
class ElfSonameReader
{
public:
    static std::optional<QByteArray> read(const QString &path);
};
