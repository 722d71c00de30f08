// Wait: creates the file named by "started" (when given), then blocks until the file named
// by "release" exists or "timeoutMs" (default 60000) has passed; answers "released" or
// "timeout". Tests release it by creating the file, so they need no fixed sleeps.

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <veltrane/VyrModule.h>

VYR_MODULE_COMMAND(Wait)
{
    const QString started = QString::fromUtf8(request.value("started"));
    const QString release = QString::fromUtf8(request.value("release"));
    bool ok = false;
    int timeoutMs = request.value("timeoutMs").toInt(&ok);
    if (!ok)
        timeoutMs = 60000;
    if (!started.isEmpty()) {
        QFile marker(started);
        marker.open(QIODevice::WriteOnly);
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!release.isEmpty() && QFile::exists(release))
            return "released";
        QThread::msleep(5);
    }
    return "timeout";
}

VYR_MODULE_IS_GUI_FUNCTION
{
    return false;
}

VYR_MODULE_CAN_UNPRIVILEGED_RUN
{
    return false;
}

VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES
{
    return true;
}
