#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The machine seed: 16 letters kept in a root-owned, world-readable file, so every
// account of the machine reads the same seed and only a privileged process creates it.
class MachineSeed
{
public:
    static constexpr int kLength = 16;

    // 16 letters 'A' to 'Y' from the operating system's random source; empty when that
    // source fails, so a caller never stores a guessable seed.
    static QByteArray generate();
    // The letters a stream of random bytes yields, one per byte below 250: 256 is not a
    // multiple of 25, so taking the rest of every byte would favour the first six letters.
    static QByteArray lettersFrom(QByteArrayView randomBytes);

    // The file's bytes; empty when it is missing or unreadable.
    static QByteArray read(const QString &path);
    // Writes a seed only where none is (an empty file counts as none), creating the
    // directory (0755) and the file (0644). A seed already there is never replaced,
    // even by a process racing this one. False when the process may not write it, or
    // the new value is not 16 letters.
    static bool writeIfMissing(const QString &path, const QByteArray &seed);
};
