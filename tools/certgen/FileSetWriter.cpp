#include "FileSetWriter.h"

#include "AtomicFileWriter.h"
#include "keyprotection/PendingFileSet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {
QStringList pathsOf(const QList<FileSetWriter::File> &files)
{
    QStringList paths;
    for (const FileSetWriter::File &file : files)
        paths.append(file.path);
    return paths;
}

void syncDirectoriesOf(const QStringList &paths)
{
    QSet<QString> directories;
    for (const QString &path : paths) {
        const QFileInfo file(path);
        if (file.absoluteDir().exists())
            directories.insert(file.absolutePath());
    }
    for (const QString &directory : std::as_const(directories))
        AtomicFileWriter::syncDirectory(directory);
}

// Temporary files of the atomic writer that a killed run left beside a pending file.
void removeStrayTemporaries(const QString &pending)
{
    const QFileInfo info(pending);
    QDir directory = info.absoluteDir();
    for (const QString &name :
         directory.entryList({info.fileName() + QStringLiteral(".??????")}, QDir::Files))
        directory.remove(name);
}
} // namespace

FileSetWriter::FileSetWriter(StepHook beforeStep) : m_oBeforeStep(std::move(beforeStep)) {}

void FileSetWriter::step() const
{
    if (m_oBeforeStep)
        m_oBeforeStep();
}

void FileSetWriter::replace(const QList<File> &files) const
{
    const QStringList paths = pathsOf(files);
    recover(paths);
    for (const File &file : files) {
        step();
        AtomicFileWriter::write(PendingFileSet::pendingPath(file.path), file.bytes, file.mode);
    }
    syncDirectoriesOf(paths);
    step();
    const QString mark = PendingFileSet::markPath(paths);
    AtomicFileWriter::write(mark, QByteArray(), 0644);
    AtomicFileWriter::syncDirectory(QFileInfo(mark).absolutePath());
    for (const QString &path : paths) {
        step();
        AtomicFileWriter::rename(PendingFileSet::pendingPath(path), path);
    }
    syncDirectoriesOf(paths);
    step();
    QFile::remove(mark);
    AtomicFileWriter::syncDirectory(QFileInfo(mark).absolutePath());
}

void FileSetWriter::recover(const QStringList &paths)
{
    const QString mark = PendingFileSet::markPath(paths);
    const bool committed = QFileInfo::exists(mark);
    removeStrayTemporaries(mark);
    bool changed = false;
    for (const QString &path : paths) {
        const QString pending = PendingFileSet::pendingPath(path);
        removeStrayTemporaries(pending);
        if (committed && QFileInfo::exists(pending)) {
            AtomicFileWriter::rename(pending, path);
            changed = true;
        } else {
            changed = QFile::remove(pending) || changed;
        }
    }
    if (!changed && !committed)
        return;
    syncDirectoriesOf(paths);
    // The mark goes only once the set it guards is in place for good.
    QFile::remove(mark);
    AtomicFileWriter::syncDirectory(QFileInfo(mark).absolutePath());
}
