#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

// Writes whole files under a temporary name and renames them into place, so a reader (or
// a server starting meanwhile) never sees half a key. Throws CertGenException.
class AtomicFileWriter
{
public:
    // The file gets exactly this mode, whatever the umask.
    static void write(const QString &path, const QByteArray &bytes, mode_t mode);
    // Replaces to by from, in one step for every reader.
    static void rename(const QString &from, const QString &to);
    // Makes the renames and creations in a directory durable.
    static void syncDirectory(const QString &path);
    // Creates the directory (and its parents) when missing; a new last component gets
    // exactly this mode. An existing directory keeps its mode.
    static void ensureDirectory(const QString &path, mode_t mode);
};
