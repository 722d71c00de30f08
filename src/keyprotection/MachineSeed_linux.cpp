#include "MachineSeed.h"
#include "common/FdWriter_linux.h"
#include "common/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A machine seed is 16 letters; anything far larger is not a seed of ours.
constexpr qint64 kMaxSeedFileSize = 4096;

// Removes the temporary file on every path; a successful link or rename leaves nothing to remove.
class TemporaryPath
{
public:
    explicit TemporaryPath(QByteArray path) : m_oPath(std::move(path)) {}
    ~TemporaryPath() { ::unlink(m_oPath.constData()); }
    TemporaryPath(const TemporaryPath &) = delete;
    TemporaryPath &operator=(const TemporaryPath &) = delete;
    const char *get() const { return m_oPath.constData(); }

private:
    QByteArray m_oPath;
};

bool ensureDirectory(const QString &directory)
{
    if (QFileInfo(directory).isDir())
        return true;
    if (!QDir().mkpath(directory))
        return false;
    // mkpath honours the umask; the machine seed directory must be listable by every account.
    return ::chmod(QFile::encodeName(directory).constData(), 0755) == 0;
}

// A complete, world-readable file under a temporary name, so no reader ever sees half a seed.
bool writeTemporary(int fd, const QByteArray &seed)
{
    return writeAllToFd(fd, seed) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
}

bool publish(const char *temporary, const QString &path)
{
    const QByteArray target = QFile::encodeName(path);
    if (::link(temporary, target.constData()) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    // Someone else's seed wins; only an empty leftover file is replaced.
    if (!MachineSeed::read(path).isEmpty())
        return true;
    return ::rename(temporary, target.constData()) == 0;
}

// Fills the buffer from the kernel's random source, retrying after a signal; false when
// the source is not there (a kernel older than getrandom) or fails.
bool fillRandom(QByteArray &buffer)
{
    qsizetype filled = 0;
    while (filled < buffer.size()) {
        const ssize_t got = ::getrandom(buffer.data() + filled, size_t(buffer.size() - filled), 0);
        if (got < 0 && errno != EINTR)
            return false;
        filled += got > 0 ? got : 0;
    }
    return true;
}
} // namespace

QByteArray MachineSeed::generate()
{
    // Twice the letters needed: a byte is drawn again with probability 6/256, so one round
    // almost always suffices.
    QByteArray random(qsizetype{2} * kLength, Qt::Uninitialized);
    QByteArray seed;
    while (seed.size() < kLength) {
        if (!fillRandom(random))
            return {};
        seed += lettersFrom(random);
    }
    random.fill('\0');
    seed.truncate(kLength);
    return seed;
}

QByteArray MachineSeed::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kMaxSeedFileSize);
}

bool MachineSeed::writeIfMissing(const QString &path, const QByteArray &seed)
{
    if (seed.size() != kLength)
        return false;
    const QString directory = QFileInfo(path).absolutePath();
    if (!ensureDirectory(directory))
        return false;
    QByteArray pattern = QFile::encodeName(directory + QStringLiteral("/.seed.XXXXXX"));
    const UniqueFd fd(::mkstemp(pattern.data()));
    if (fd.get() < 0)
        return false;
    const TemporaryPath temporary(pattern);
    if (!writeTemporary(fd.get(), seed))
        return false;
    return publish(temporary.get(), path);
}
