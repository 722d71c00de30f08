#include "PendingFileSet.h"

#include <QFile>
#include <sys/stat.h>

namespace {
void appendIdentity(QByteArray &signature, const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        signature.append('-');
        return;
    }
    // A rename gives the target another inode; a rewrite in place changes size or times.
    const qint64 fields[] = {qint64(status.st_dev),          qint64(status.st_ino),
                             qint64(status.st_size),         qint64(status.st_mtim.tv_sec),
                             qint64(status.st_mtim.tv_nsec), qint64(status.st_ctim.tv_sec),
                             qint64(status.st_ctim.tv_nsec)};
    signature.append(reinterpret_cast<const char *>(fields), sizeof(fields));
}
} // namespace

QByteArray PendingFileSet::signature(const QStringList &targets)
{
    QByteArray signature;
    appendIdentity(signature, markPath(targets));
    for (const QString &target : targets) {
        appendIdentity(signature, target);
        appendIdentity(signature, pendingPath(target));
    }
    return signature;
}
