#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The machine seed: 16 letters kept in a root-owned, world-readable file, so every
// account of the machine reads the same seed and only a privileged process creates it.
class MachineSeed
{
public:
    static constexpr int kLength = 16;

    // 16 letters 'A' + draw % 25 from a generator seeded with the given value.
    static QByteArray generate(quint32 generatorSeed);
    // Seeded with the millisecond part of the current time of day.
    static QByteArray generate();

    // The file's bytes; empty when it is missing or unreadable.
    static QByteArray read(const QString &path);
    // Writes a seed only where none is (an empty file counts as none), creating the
    // directory (0755) and the file (0644). A seed already there is never replaced,
    // even by a process racing this one. False when the process may not write it.
    static bool writeIfMissing(const QString &path, const QByteArray &seed);
};
