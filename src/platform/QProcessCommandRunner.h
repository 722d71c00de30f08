#pragma once

#include "CommandRunner.h"

// Runs commands as child processes of this process.
class QProcessCommandRunner : public CommandRunner
{
public:
    static constexpr int kStartTimeoutMs = 30000;

    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override;
};
