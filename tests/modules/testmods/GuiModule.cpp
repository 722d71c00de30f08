// ShowWindow: opens a window and keeps it open (in a local event loop) until the server
// closes all windows or "timeoutMs" (default 60000) passes; answers "closed" or "timeout".
// Needs a QApplication.

#include "TestModuleQueries.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

VYR_MODULE_COMMAND(ShowWindow)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return "no GUI application";
    const QDeadlineTimer deadline(request.value("timeoutMs", "60000").toInt());
    QWidget window;
    window.show();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!window.isVisible() || deadline.hasExpired())
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    return window.isVisible() ? "timeout" : "closed";
}

VYR_TEST_MODULE_QUERIES(true, false)
