#pragma once

// Test modules report Init, DeInit and their calls by appending "<module> <event> <thread>"
// lines to the file named by VYR_TEST_MODULE_TRACE, where <thread> is "main" or "other".
// Without that variable they report nothing.

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#ifndef VYR_TEST_MODULE_NAME
#error "VYR_TEST_MODULE_NAME must name the test module"
#endif

inline void traceTestModuleEvent(const char *event)
{
    const QByteArray path = qgetenv("VYR_TEST_MODULE_TRACE");
    if (path.isEmpty())
        return;
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QCoreApplication *application = QCoreApplication::instance();
    const bool onMainThread = application && QThread::currentThread() == application->thread();
    file.write(QByteArray(VYR_TEST_MODULE_NAME) + ' ' + event + ' ' + (onMainThread ? "main" : "other") +
               '\n');
}
