#pragma once

#include "FileVersion.h"

// Versions of shared libraries: the numbers after ".so." in the name of the file a path
// resolves to (libfoo.so.1.2.3 -> "1.2.3"), else those of the library's SONAME.
class FileVersionLinuxImpl : public FileVersion
{
public:
    QString getFileVersion(const QString &path) override;
    bool checkIfIsLibrary(const QString &path);
    bool checkIfIsSymLink(const QString &path);

    // "libfoo.so.1.2.3" -> "1.2.3"; empty without a numeric version.
    static QString versionOfLibraryName(const QString &fileName);
};
