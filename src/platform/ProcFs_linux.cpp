#include "ProcFs_linux.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileCloser
{
    void operator()(FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct DirCloser
{
    void operator()(DIR *dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// /proc files report size 0; a cap keeps a hostile or broken file from exhausting memory.
constexpr qsizetype kMaxProcFileSize = qsizetype{64} * 1024 * 1024;

std::optional<qint64> parsePid(const char *name)
{
    if (*name < '1' || *name > '9')
        return std::nullopt;
    qint64 pid = 0;
    for (const char *c = name; *c; ++c) {
        if (*c < '0' || *c > '9' || pid > (qint64(1) << 40))
            return std::nullopt;
        pid = pid * 10 + (*c - '0');
    }
    return pid;
}

QString readLinkText(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    char buffer[4096];
    const ssize_t length = ::readlink(encoded.constData(), buffer, sizeof buffer);
    if (length <= 0 || length >= ssize_t(sizeof buffer))
        return {};
    return QFile::decodeName(QByteArray(buffer, length));
}

// "socket:[12345]" -> 12345
std::optional<quint64> socketInodeOfLink(const char *link, ssize_t length)
{
    static constexpr char kPrefix[] = "socket:[";
    constexpr ssize_t kPrefixLength = sizeof kPrefix - 1;
    if (length <= kPrefixLength + 1 || qstrncmp(link, kPrefix, kPrefixLength) != 0 || link[length - 1] != ']')
        return std::nullopt;
    bool ok = false;
    const quint64 inode = QByteArray(link + kPrefixLength, length - kPrefixLength - 1).toULongLong(&ok);
    return ok ? std::optional<quint64>(inode) : std::nullopt;
}

template <class Visitor> void forEachSocketInode(const QString &fdDir, Visitor &&visit)
{
    const DirPtr dir(opendir(QFile::encodeName(fdDir).constData()));
    if (!dir)
        return;
    char link[64];
    while (const dirent *entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const ssize_t length = readlinkat(dirfd(dir.get()), entry->d_name, link, sizeof link);
        if (length <= 0 || length >= ssize_t(sizeof link))
            continue;
        if (const auto inode = socketInodeOfLink(link, length); inode && !visit(*inode))
            return;
    }
}

} // namespace

ProcFs::ProcFs(QString root) : m_oRoot(std::move(root)) {}

QString ProcFs::pidPath(qint64 pid, const QString &entry) const
{
    QString path = m_oRoot + QLatin1Char('/') + QString::number(pid);
    if (!entry.isEmpty())
        path += QLatin1Char('/') + entry;
    return path;
}

SysResult<QList<qint64>> ProcFs::pids() const
{
    const DirPtr dir(opendir(QFile::encodeName(m_oRoot).constData()));
    if (!dir)
        return SysResult<QList<qint64>>::failure(errno);
    QList<qint64> result;
    while (const dirent *entry = readdir(dir.get())) {
        if (const auto pid = parsePid(entry->d_name))
            result.append(*pid);
    }
    std::sort(result.begin(), result.end());
    return SysResult<QList<qint64>>::success(std::move(result));
}

SysResult<uid_t> ProcFs::ownerUid(qint64 pid) const
{
    if (pid <= 0)
        return SysResult<uid_t>::failure(ESRCH);
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(pidPath(pid)).constData(), &info) != 0)
        return SysResult<uid_t>::failure(errno);
    return SysResult<uid_t>::success(info.st_uid);
}

SysResult<ProcStat> ProcFs::stat(qint64 pid) const
{
    const auto text = readFile(pidPath(pid, QStringLiteral("stat")));
    if (!text.ok())
        return SysResult<ProcStat>::failure(text.error);
    const auto parsed = parseStat(text.value);
    return parsed ? SysResult<ProcStat>::success(*parsed) : SysResult<ProcStat>::failure(EINVAL);
}

SysResult<qint64> ProcFs::uptimeMs() const
{
    const auto text = readFile(m_oRoot + QStringLiteral("/uptime"));
    if (!text.ok())
        return SysResult<qint64>::failure(text.error);
    bool ok = false;
    const double seconds = text.value.trimmed().split(' ').value(0).toDouble(&ok);
    if (!ok || seconds < 0)
        return SysResult<qint64>::failure(EINVAL);
    return SysResult<qint64>::success(qint64(seconds * 1000.0));
}

QString ProcFs::executablePath(qint64 pid) const
{
    QString path = readLinkText(pidPath(pid, QStringLiteral("exe")));
    // A replaced binary still runs under its old name.
    static const QString kDeleted = QStringLiteral(" (deleted)");
    if (path.endsWith(kDeleted))
        path.chop(kDeleted.size());
    if (!path.isEmpty())
        return path;
    // Other accounts' exe links are closed to us; their command line is not. Programs
    // that rewrite it put their arguments after a space in the first word.
    const auto cmdline = readFile(pidPath(pid, QStringLiteral("cmdline")));
    if (!cmdline.ok())
        return {};
    QByteArray first = cmdline.value.left(cmdline.value.indexOf('\0'));
    const qsizetype space = first.indexOf(' ');
    if (space >= 0)
        first.truncate(space);
    return QFile::decodeName(first);
}

QString ProcFs::processName(qint64 pid) const
{
    return QFileInfo(executablePath(pid)).completeBaseName();
}

QSet<quint64> ProcFs::socketInodes(qint64 pid) const
{
    QSet<quint64> inodes;
    forEachSocketInode(pidPath(pid, QStringLiteral("fd")), [&inodes](quint64 inode) {
        inodes.insert(inode);
        return true;
    });
    return inodes;
}

bool ProcFs::holdsSocket(qint64 pid, quint64 inode) const
{
    bool found = false;
    forEachSocketInode(pidPath(pid, QStringLiteral("fd")), [&found, inode](quint64 candidate) {
        found = candidate == inode;
        return !found;
    });
    return found;
}

bool ProcFs::isRunning(qint64 pid) const
{
    const auto parsed = stat(pid);
    if (!parsed.ok())
        return parsed.error != ENOENT && parsed.error != ESRCH;
    return parsed.value.state != 'Z' && parsed.value.state != 'X';
}

SysResult<QByteArray> ProcFs::readFile(const QString &path)
{
    const FilePtr file(std::fopen(QFile::encodeName(path).constData(), "re"));
    if (!file)
        return SysResult<QByteArray>::failure(errno);
    QByteArray content;
    char buffer[8192];
    while (content.size() < kMaxProcFileSize) {
        const size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
        content.append(buffer, qsizetype(count));
        if (count < sizeof buffer)
            break;
    }
    if (std::ferror(file.get()))
        return SysResult<QByteArray>::failure(EIO);
    return SysResult<QByteArray>::success(std::move(content));
}

std::optional<ProcStat> ProcFs::parseStat(const QByteArray &text)
{
    // The command name may hold spaces and parentheses; only the last ")" ends it.
    const qsizetype open = text.indexOf('(');
    const qsizetype close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    // After ")": state is field 3 of the line, starttime field 22.
    constexpr qsizetype kStartTimeIndex = 22 - 3;
    if (fields.size() <= kStartTimeIndex || fields.first().size() != 1)
        return std::nullopt;
    bool ok = false;
    ProcStat stat;
    stat.comm = text.mid(open + 1, close - open - 1);
    stat.state = fields.first().at(0);
    stat.startTicks = fields.at(kStartTimeIndex).toULongLong(&ok);
    return ok ? std::optional<ProcStat>(stat) : std::nullopt;
}
