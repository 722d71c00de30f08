#pragma once

#include "LogLevel.h"

#include <QMutex>
#include <QString>
#include <atomic>
#include <memory>
#include <vector>

namespace spdlog {
class logger;
namespace sinks {
class sink;
}
} // namespace spdlog

// A named channel into the shared log outputs. Set-up runs under one process-wide lock;
// writing a line takes only the outputs' own locks, which keep whole lines apart.
class LogChannel
{
public:
    using SinkList = std::vector<std::shared_ptr<spdlog::sinks::sink>>;

    explicit LogChannel(QString name);
    ~LogChannel();
    LogChannel(const LogChannel &) = delete;
    LogChannel &operator=(const LogChannel &) = delete;

    const QString &name() const { return m_oName; }

    // Takes effect at the next initialisation.
    void setConsoleOutput(bool enabled, int consoleLevel);

    // Console (when enabled) plus a size-rotating file with one backup.
    bool initialize(int level, qint64 maxSize, const QString &filePath);
    // Writes to the given outputs; lets tests watch a channel without files.
    void initializeWithSinks(int level, qint64 maxSize, const QString &filePath, SinkList sinks);
    // The other channel writes to this channel's outputs.
    void attach(LogChannel &other);
    void reset();

    // Whether a line at this level could reach any output: one relaxed load, so a statement
    // below every output's level is dropped before any of its text is built.
    bool enabled(LogLevel level) const
    {
        return static_cast<int>(level) >= m_iThreshold.load(std::memory_order_relaxed);
    }

    int level() const;
    qint64 maxSize() const;
    QString filePath() const;

    // The level operation: filter, cut to 300 characters, hand to the outputs.
    void write(LogLevel level, const QString &composedText);
    // Pushes what the outputs hold to the file; any thread.
    void flush();

private:
    // One lock for setting channels up; writing a line does not take it.
    static QMutex &processLock();
    // False, and said once on standard error, when the file cannot be opened.
    static bool addFileSink(SinkList &sinks, int level, qint64 maxSize, const QString &filePath);
    void installLocked(int level, qint64 maxSize, const QString &filePath, SinkList sinks);

    const QString m_oName;
    // Stored under processLock() by whoever sets the channel up, loaded by every thread that logs.
    std::atomic<std::shared_ptr<spdlog::logger>> m_oLogger;
    // The lowest level any output takes; Trace while there is no output, so that a line
    // written too early still reports that. Stored under processLock(), read by every thread.
    std::atomic<int> m_iThreshold{static_cast<int>(LogLevel::Trace)};
    // The rest: guarded by processLock().
    SinkList m_oSinks;
    bool m_bInitialized = false;
    bool m_bConsoleOutput = false;
    int m_iConsoleLevel = static_cast<int>(LogLevel::Info);
    int m_iLevel = static_cast<int>(LogLevel::Info);
    qint64 m_iMaxSize = 0;
    QString m_oFilePath;
};
