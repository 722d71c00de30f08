#include "SyslogEventLogWriter_linux.h"

#include <QMutex>
#include <syslog.h>

namespace {

// openlog's identity is process-wide: one writer at a time keeps entries under their own source.
QMutex g_oSyslogMutex;

class SyslogSession
{
public:
    explicit SyslogSession(const QByteArray &ident) { openlog(ident.constData(), LOG_PID, LOG_USER); }
    ~SyslogSession() { closelog(); }
    SyslogSession(const SyslogSession &) = delete;
    SyslogSession &operator=(const SyslogSession &) = delete;
};

} // namespace

void SyslogEventLogWriter::writeError(const QString &source, const QString &message)
{
    // syslog keeps the pointer, not a copy: ident must outlive the session.
    const QByteArray ident = source.toUtf8();
    const QMutexLocker locker(&g_oSyslogMutex);
    const SyslogSession session(ident);
    syslog(LOG_ERR, "%s", message.toUtf8().constData());
}
