// Wait: creates the file named by "started" (when given), then blocks until the file named
// by "release" exists or "timeoutMs" (default 60000) has passed; answers "released" or
// "timeout". Tests release it by creating the file, so they need no fixed sleeps.

#include "TestModuleQueries.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

VYR_MODULE_COMMAND(Wait)
{
    const QString started = QString::fromUtf8(request.value("started"));
    const QString release = QString::fromUtf8(request.value("release"));
    if (!started.isEmpty())
        QFile(started).open(QIODevice::WriteOnly);
    const QDeadlineTimer deadline(request.value("timeoutMs", "60000").toInt());
    while (!deadline.hasExpired()) {
        if (!release.isEmpty() && QFile::exists(release))
            return "released";
        QThread::msleep(5);
    }
    return "timeout";
}

VYR_TEST_MODULE_QUERIES(false, false)
