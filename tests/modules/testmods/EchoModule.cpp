// The plain test module, built under several names (Mod1, NoXml, Unsigned, BadXml,
// moduleupgrader): echoes and tells which build it is.

#include "TestModuleQueries.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

// Init and DeInit append "<module> <event> <thread>" lines to the file named by
// VYR_TEST_MODULE_TRACE, where <thread> is "main" or "other"; without it, nothing.
static void traceTestModuleEvent(const char *event)
{
    const QByteArray path = qgetenv("VYR_TEST_MODULE_TRACE");
    QFile file(QString::fromLocal8Bit(path));
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QCoreApplication *application = QCoreApplication::instance();
    const bool onMainThread = application && QThread::currentThread() == application->thread();
    file.write(QByteArray(VYR_TEST_MODULE_NAME) + ' ' + event + ' ' + (onMainThread ? "main" : "other") +
               '\n');
}

VYR_MODULE_INIT
{
    traceTestModuleEvent("Init");
}

VYR_MODULE_DEINIT
{
    traceTestModuleEvent("DeInit");
}

VYR_MODULE_COMMAND(Cmd1)
{
    return request.value("data");
}

// Mod1's command file maps the command "Echo" to this export.
VYR_MODULE_COMMAND(EchoImpl)
{
    return "echo:" + request.value("data");
}

// Exported, but listed in no command file.
VYR_MODULE_COMMAND(Hidden)
{
    return "hidden";
}

VYR_MODULE_COMMAND(Which)
{
    return VYR_TEST_MODULE_NAME;
}

// Every origin entry the module is handed, so a forged one would show.
VYR_MODULE_COMMAND(Origin)
{
    return request.values(kVyrOriginKey).join('|');
}

VYR_MODULE_COMMAND(SessionValue)
{
    return session.value(request.value("key")).toByteArray();
}

VYR_TEST_MODULE_QUERIES(false, false)
