#pragma once

#include <QProcess>

// How a test runs a program to its end: output and errors merged, no input, killed when it
// overstays, so a hung tool fails the test instead of hanging the suite.
struct ProgramRun
{
    int exitCode = -1; // -1 when it did not end normally in time
    QString output;
};

inline ProgramRun
runProgram(const QString &program, const QStringList &arguments,
           const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
           int timeoutMs = 300000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, QStringLiteral("did not finish: ") + program};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAll())};
}
