// ShowWindow: opens a window and keeps it open (in a local event loop) until the server
// closes all windows, the file named by "release" appears or "timeoutMs" (default 60000)
// passes; answers "closed", "released" or "timeout". Needs a QApplication.

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <veltrane/VyrModule.h>

VYR_MODULE_COMMAND(ShowWindow)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return "no GUI application";
    const QString release = QString::fromUtf8(request.value("release"));
    bool ok = false;
    int timeoutMs = request.value("timeoutMs").toInt(&ok);
    if (!ok)
        timeoutMs = 60000;
    QWidget window;
    window.setWindowTitle(QStringLiteral("Veltrane test window"));
    window.show();
    QByteArray answer = "timeout";
    QEventLoop loop;
    QTimer poll;
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!window.isVisible())
            answer = "closed";
        else if (!release.isEmpty() && QFile::exists(release))
            answer = "released";
        else if (!deadline.hasExpired())
            return;
        loop.quit();
    });
    poll.start(10);
    loop.exec();
    return answer;
}

VYR_MODULE_IS_GUI_FUNCTION
{
    return true;
}

VYR_MODULE_CAN_UNPRIVILEGED_RUN
{
    return false;
}

VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES
{
    return true;
}
