#include "PendingFileSet.h"

#include <QFile>
#include <QFileInfo>

namespace {
// A writer finishes a set within milliseconds; a reader that loses this many races in a
// row takes what it has and notices the change at its next look.
constexpr int kReadAttempts = 4;

QByteArray readCurrent(const QString &target, bool committing, qint64 maxSize)
{
    if (committing) {
        QFile pending(PendingFileSet::pendingPath(target));
        if (pending.open(QIODevice::ReadOnly))
            return pending.read(maxSize);
    }
    QFile file(target);
    return file.open(QIODevice::ReadOnly) ? file.read(maxSize) : QByteArray();
}
} // namespace

QString PendingFileSet::pendingPath(const QString &target)
{
    return target + QStringLiteral(".new");
}

QString PendingFileSet::markPath(const QStringList &targets)
{
    const QFileInfo first(targets.value(0));
    return first.absolutePath() + QStringLiteral("/.") + first.fileName() + QStringLiteral(".commit");
}

PendingFileSet::Snapshot PendingFileSet::read(const QStringList &targets, qint64 maxSize)
{
    Snapshot snapshot;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        snapshot.signature = signature(targets);
        const bool committing = QFileInfo::exists(markPath(targets));
        snapshot.contents.clear();
        for (const QString &target : targets)
            snapshot.contents.append(readCurrent(target, committing, maxSize));
        if (signature(targets) == snapshot.signature)
            break;
    }
    return snapshot;
}
