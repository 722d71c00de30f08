#include "UtmpSessionSource_linux.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <utmpx.h>

namespace {

// The records are read through a cursor shared by the whole process. Every use of that cursor
// (the utmpx calls below, which the thread-safety check rightly flags) holds this mutex.
QMutex g_oUtmpMutex;
// NOLINTBEGIN(concurrency-mt-unsafe)

class UtmpCursor
{
public:
    explicit UtmpCursor(const QString &path)
    {
        if (!path.isEmpty())
            utmpxname(QFile::encodeName(path).constData());
        setutxent();
    }
    ~UtmpCursor()
    {
        endutxent();
        utmpxname(_PATH_UTMPX);
    }
    UtmpCursor(const UtmpCursor &) = delete;
    UtmpCursor &operator=(const UtmpCursor &) = delete;
};

QString fixedText(const char *field, size_t capacity)
{
    return QString::fromLocal8Bit(field, qsizetype(strnlen(field, capacity)));
}

bool isAlive(pid_t pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// Virtual consoles and local X displays sit at the machine's own seat.
QString seatOfLine(const QString &line)
{
    static const QRegularExpression kConsole(QStringLiteral("^(tty[0-9]+|:[0-9]+(\\.[0-9]+)?)$"));
    return kConsole.match(line).hasMatch() ? QStringLiteral("seat0") : QString();
}

LoginSession toSession(const utmpx &record)
{
    LoginSession session;
    session.tty = fixedText(record.ut_line, sizeof record.ut_line);
    session.id = session.tty;
    session.userName = fixedText(record.ut_user, sizeof record.ut_user);
    session.seat = seatOfLine(session.tty);
    session.active = isAlive(record.ut_pid);
    return session;
}

} // namespace

UtmpSessionSource::UtmpSessionSource(QString utmpPath) : m_oUtmpPath(std::move(utmpPath)) {}

SessionQuery UtmpSessionSource::querySessions()
{
    SessionQuery query;
    query.ok = true;
    const QMutexLocker locker(&g_oUtmpMutex);
    const UtmpCursor cursor(m_oUtmpPath);
    while (const utmpx *record = getutxent()) {
        if (record->ut_type == USER_PROCESS)
            query.sessions.append(toSession(*record));
    }
    // NOLINTEND(concurrency-mt-unsafe)
    return query;
}
