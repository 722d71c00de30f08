#pragma once

#include <QString>

// The version a file carries about itself.
class FileVersion
{
public:
    virtual ~FileVersion();
    // Empty when the file tells no version.
    virtual QString getFileVersion(const QString &path) = 0;
};
