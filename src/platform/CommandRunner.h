#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What became of one external command.
struct CommandResult
{
    bool started = false;
    bool finished = false;
    bool timedOut = false;
    int exitCode = -1;
    QByteArray output; // standard output
    QByteArray error;  // standard error, or why the command did not start

    bool succeeded() const { return finished && exitCode == 0; }
};

// The one way this layer runs other programs (never through a shell), so tests can
// replace the programs with scripted answers.
class CommandRunner
{
public:
    virtual ~CommandRunner();

    // Runs to completion or until timeoutMs, after which the command is killed.
    virtual CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) = 0;
};
