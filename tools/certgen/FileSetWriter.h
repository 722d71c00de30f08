#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <sys/types.h>

// Replaces files as one set, the way PendingFileSet describes: every new file written and
// synced beside its target, the commit mark written, the files renamed into place in
// order, the mark removed, each step made durable before the next. Whenever the process
// stops, a reader sees the old set or the new one, and the next recover() finishes the
// new one (mark present) or drops it (mark absent). Throws CertGenException.
class FileSetWriter
{
public:
    struct File
    {
        QString path;
        QByteArray bytes;
        mode_t mode;
    };
    // Called before every step; tests stop the process there.
    using StepHook = std::function<void()>;

    explicit FileSetWriter(StepHook beforeStep = {});

    // The first file names the commit mark; readers list it first as well.
    void replace(const QList<File> &files) const;
    static void recover(const QStringList &paths);

private:
    void step() const;

    StepHook m_oBeforeStep;
};
