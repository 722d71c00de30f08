#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Files replaced together, such as a key and its certificate. The writer puts each new
// file beside its target (pendingPath), then creates the set's commit mark, renames the
// new files into place and removes the mark. While the mark exists the pending files are
// the current ones, so a reader sees the old set or the new one, never a mix, even after
// the writer was killed halfway. The mark is named after the set's first file, so every
// reader and writer of a set lists that file first.
class PendingFileSet
{
public:
    static QString pendingPath(const QString &target);
    static QString markPath(const QStringList &targets);

    struct Snapshot
    {
        QList<QByteArray> contents; // one per target; empty when missing or unreadable
        QByteArray signature;       // of the files it was read from
    };
    // The current contents of every target, each cut at maxSize bytes; read again when a
    // writer changed the files meanwhile.
    static Snapshot read(const QStringList &targets, qint64 maxSize);
    // Identity (device, inode, size, times) of the mark, the targets and their pending
    // files: while it stays the same, so do the contents.
    static QByteArray signature(const QStringList &targets);
};
