#include "AtomicFileWriter.h"
#include "CertGenException.h"
#include "common/FdWriter_linux.h"
#include "common/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Unlinks the temporary file unless it was renamed into place.
class TemporaryFile
{
public:
    explicit TemporaryFile(QByteArray path) : m_oPath(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!m_bKept)
            ::unlink(m_oPath.constData());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    const char *path() const { return m_oPath.constData(); }
    void keep() { m_bKept = true; }

private:
    QByteArray m_oPath;
    bool m_bKept = false;
};

CertGenException systemError(const QString &what, const QString &path)
{
    return CertGenException(QStringLiteral("%1 %2: %3").arg(what, path, qt_error_string(errno)));
}

} // namespace

void AtomicFileWriter::write(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QByteArray pattern = QFile::encodeName(path + QStringLiteral(".XXXXXX"));
    UniqueFd fd(::mkstemp(pattern.data()));
    if (fd.get() < 0)
        throw systemError(QStringLiteral("Cannot create a file beside"), path);
    TemporaryFile temporary(pattern);
    if (::fchmod(fd.get(), mode) != 0 || !writeAllToFd(fd.get(), bytes) || ::fsync(fd.get()) != 0 ||
        !fd.reset())
        throw systemError(QStringLiteral("Cannot write"), path);
    if (::rename(temporary.path(), QFile::encodeName(path).constData()) != 0)
        throw systemError(QStringLiteral("Cannot replace"), path);
    temporary.keep();
}

void AtomicFileWriter::rename(const QString &from, const QString &to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw systemError(QStringLiteral("Cannot rename %1 to").arg(from), to);
}

void AtomicFileWriter::syncDirectory(const QString &path)
{
    const UniqueFd directory(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.isValid() || ::fsync(directory.get()) != 0)
        throw systemError(QStringLiteral("Cannot sync the directory"), path);
}

void AtomicFileWriter::ensureDirectory(const QString &path, mode_t mode)
{
    if (QFileInfo(path).isDir())
        return;
    if (!QDir().mkpath(path))
        throw systemError(QStringLiteral("Cannot create the directory"), path);
    if (::chmod(QFile::encodeName(path).constData(), mode) != 0)
        throw systemError(QStringLiteral("Cannot set the permissions of"), path);
}
