#pragma once

#include "platform/ProcessUtilsLinuxImpl.h"
#include "support/QtPrinters.h"
#include "support/SilentLogChannels.h"

#include <QMap>

inline ::testing::Environment *const g_pSilentChannels =
    ::testing::AddGlobalTestEnvironment(new SilentLogChannels({&processUtilsLogChannel, &serverLogChannel}));

// Scripted answers by command line ("program arg1 arg2"); anything unscripted did not start.
struct FakeCommandRunner : CommandRunner
{
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        return script.value((QStringList{program} + arguments).join(QLatin1Char(' ')));
    }
    QMap<QString, CommandResult> script;
};

struct Fakes
{
    std::shared_ptr<FakeCommandRunner> runner = std::make_shared<FakeCommandRunner>();
    ProcessUtilsLinuxImpl::Dependencies deps() const
    {
        return {runner, nullptr}; // no test writes to the event log
    }
    ProcessUtilsLinuxImpl utils(const QString &proc = "/proc") const
    {
        return ProcessUtilsLinuxImpl(proc, "/etc", deps());
    }
};
