#pragma once

#include "logging/LogChannels.h"
#include "platform/ProcessUtilsLinuxImpl.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>

// The platform's log channels write nowhere during the tests.
struct SilentChannels : ::testing::Environment
{
    void SetUp() override
    {
        for (LogChannel *channel : {&processUtilsLogChannel(), &serverLogChannel()})
            channel->initializeWithSinks(int(LogLevel::Debug), 1000000, QString(),
                                         {std::make_shared<spdlog::sinks::null_sink_mt>()});
    }
};
inline ::testing::Environment *const g_pSilentChannels =
    ::testing::AddGlobalTestEnvironment(new SilentChannels);

inline CommandResult ran(int exitCode, const QByteArray &output = {}, const QByteArray &error = {})
{
    return {true, true, false, exitCode, output, error};
}
inline const CommandResult kTimedOut{true, false, true, -1, {}, {}};

// Scripted answers by command line ("program arg1 arg2"); anything unscripted did not start.
struct FakeCommandRunner : CommandRunner
{
    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override
    {
        timeouts.append(timeoutMs);
        return script.value((QStringList{program} + arguments).join(QLatin1Char(' ')));
    }
    QMap<QString, CommandResult> script;
    QList<int> timeouts;
};

struct FakeSessionSource : SessionSource
{
    SessionQuery querySessions() override { return query; }
    SessionQuery query{true, 0, {}};
};

struct Fakes
{
    std::shared_ptr<FakeCommandRunner> runner = std::make_shared<FakeCommandRunner>();
    std::shared_ptr<FakeSessionSource> sessions = std::make_shared<FakeSessionSource>();
    ProcessUtilsLinuxImpl::Dependencies deps() const
    {
        return {runner, sessions, nullptr}; // no test writes to the event log
    }
    ProcessUtilsLinuxImpl utils(const QString &proc = "/proc") const
    {
        return ProcessUtilsLinuxImpl(proc, "/etc", deps());
    }
};

inline LoginSession session(const QString &user, const QString &seat, bool active,
                            const QString &id = QStringLiteral("1"))
{
    return {id, user, seat, QString(), active};
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}
