#pragma once

#include "SysResult.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>
#include <sys/types.h>

// The fields of /proc/<pid>/stat this layer needs.
struct ProcStat
{
    QByteArray comm;
    char state = '?';
    quint64 startTicks = 0;
};

// Reads the process file system under a root that tests replace with crafted files.
class ProcFs
{
public:
    explicit ProcFs(QString root);

    const QString &root() const { return m_oRoot; }
    QString pidPath(qint64 pid, const QString &entry = QString()) const;

    // Numeric entries of the root, ascending.
    SysResult<QList<qint64>> pids() const;
    // Owner of /proc/<pid>: the process's account.
    SysResult<uid_t> ownerUid(qint64 pid) const;
    SysResult<ProcStat> stat(qint64 pid) const;
    // Seconds since boot from <root>/uptime, in milliseconds.
    SysResult<qint64> uptimeMs() const;
    // Executable's complete base name; empty when neither exe nor cmdline tells.
    QString processName(qint64 pid) const;
    QSet<quint64> socketInodes(qint64 pid) const;
    bool holdsSocket(qint64 pid, quint64 inode) const;
    // Present and not a zombie: a zombie has ended, it only waits to be reaped.
    bool isRunning(qint64 pid) const;

    static SysResult<QByteArray> readFile(const QString &path);
    static std::optional<ProcStat> parseStat(const QByteArray &text);

private:
    QString executablePath(qint64 pid) const;

    QString m_oRoot;
};
