#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

// Whole files, for tests that set up or inspect a directory; empty when the file does not read.
inline QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes the parent directories as needed.
inline bool writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) &&
           file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}
