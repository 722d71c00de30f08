#include "QProcessCommandRunner.h"

#include <QProcess>

CommandResult QProcessCommandRunner::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    CommandResult result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(kStartTimeoutMs)) {
        result.error = process.errorString().toUtf8();
        return result;
    }
    result.started = true;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(kStartTimeoutMs);
    } else {
        result.finished = true;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    result.output = process.readAllStandardOutput();
    result.error = process.readAllStandardError();
    return result;
}
