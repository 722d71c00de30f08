#include "ModuleFileIdentity.h"

#include <QFile>
#include <sys/stat.h>

namespace {
constexpr qint64 kNsPerSecond = 1000000000;

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * kNsPerSecond + time.tv_nsec;
}
} // namespace

std::optional<ModuleFileIdentity> ModuleFileIdentity::of(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return ModuleFileIdentity{quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
                              nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}
