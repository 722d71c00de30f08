#include "LogChannel.h"

#include "LogFileFailure.h"
#include "MessageFilter.h"

#include <QDebug>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

namespace {
constexpr char kLinePattern[] = "%Y-%m-%d %T:%e [%P:%t] %^%l%$ %v";

spdlog::level::level_enum toSpdlogLevel(int level)
{
    return static_cast<spdlog::level::level_enum>(qBound(0, level, 6));
}

int lowestSinkLevel(const LogChannel::SinkList &sinks)
{
    int lowest = static_cast<int>(LogLevel::Off);
    for (const auto &sink : sinks)
        lowest = qMin(lowest, static_cast<int>(sink->level()));
    return lowest;
}
} // namespace

LogChannel::LogChannel(QString name) : m_oName(std::move(name)) {}

LogChannel::~LogChannel() = default;

QMutex &LogChannel::processLock()
{
    static QMutex lock;
    return lock;
}

void LogChannel::setConsoleOutput(bool enabled, int consoleLevel)
{
    const QMutexLocker locker(&processLock());
    m_bConsoleOutput = enabled;
    m_iConsoleLevel = consoleLevel;
}

bool LogChannel::initialize(int level, qint64 maxSize, const QString &filePath)
{
    try {
        SinkList sinks;
        bool console = false;
        int consoleLevel = 0;
        {
            const QMutexLocker locker(&processLock());
            console = m_bConsoleOutput;
            consoleLevel = m_iConsoleLevel;
        }
        if (console) {
            auto consoleSink = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
            consoleSink->set_level(toSpdlogLevel(consoleLevel));
            sinks.push_back(consoleSink);
        }
        const bool withFile = addFileSink(sinks, level, maxSize, filePath);
        // Without its file the channel still takes lines (the console's, or none), so that
        // every statement does not complain on its own.
        initializeWithSinks(level, maxSize, filePath, std::move(sinks));
        return withFile;
    } catch (const std::exception &e) {
        qDebug().noquote() << "Cannot initialize logger! " << e.what();
        return false;
    }
}

bool LogChannel::addFileSink(SinkList &sinks, int level, qint64 maxSize, const QString &filePath)
{
    try {
        auto fileSink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            filePath.toStdString(), static_cast<std::size_t>(qMax<qint64>(maxSize, 1)), 1, false);
        fileSink->set_level(toSpdlogLevel(level));
        sinks.push_back(fileSink);
        return true;
    } catch (const spdlog::spdlog_ex &e) {
        reportLogFileFailure(filePath, QString::fromUtf8(e.what()));
        return false;
    }
}

void LogChannel::initializeWithSinks(int level, qint64 maxSize, const QString &filePath, SinkList sinks)
{
    const QMutexLocker locker(&processLock());
    installLocked(level, maxSize, filePath, std::move(sinks));
}

void LogChannel::installLocked(int level, qint64 maxSize, const QString &filePath, SinkList sinks)
{
    const std::string loggerName = m_oName.isEmpty() ? std::string("Logger") : m_oName.toStdString();
    auto logger = std::make_shared<spdlog::logger>(loggerName, sinks.begin(), sinks.end());
    logger->set_pattern(kLinePattern, spdlog::pattern_time_type::local);
    logger->set_level(spdlog::level::trace);
    // Warnings and worse reach the file at once, so a crash right after keeps them; the rest
    // follows within the periodic flush, which people tailing the log do not notice.
    logger->flush_on(spdlog::level::warn);
    // A full or read-only disk: the caller goes on, and the failure is told once.
    logger->set_error_handler([filePath](const std::string &message) {
        reportLogFileFailure(filePath, QString::fromStdString(message));
    });
    m_iThreshold.store(lowestSinkLevel(sinks), std::memory_order_relaxed);
    m_oLogger.store(std::move(logger));
    m_oSinks = std::move(sinks);
    m_iLevel = level;
    m_iMaxSize = maxSize;
    m_oFilePath = filePath;
    m_bInitialized = true;
}

void LogChannel::attach(LogChannel &other)
{
    const QMutexLocker locker(&processLock());
    if (!m_bInitialized)
        return;
    other.installLocked(m_iLevel, m_iMaxSize, m_oFilePath, m_oSinks);
}

void LogChannel::reset()
{
    const QMutexLocker locker(&processLock());
    const std::shared_ptr<spdlog::logger> logger = m_oLogger.exchange(nullptr);
    m_iThreshold.store(static_cast<int>(LogLevel::Trace), std::memory_order_relaxed);
    if (logger)
        logger->flush();
    m_oSinks.clear();
    m_bInitialized = false;
}

int LogChannel::level() const
{
    const QMutexLocker locker(&processLock());
    return m_iLevel;
}

qint64 LogChannel::maxSize() const
{
    const QMutexLocker locker(&processLock());
    return m_iMaxSize;
}

QString LogChannel::filePath() const
{
    const QMutexLocker locker(&processLock());
    return m_oFilePath;
}

void LogChannel::flush()
{
    if (const std::shared_ptr<spdlog::logger> logger = m_oLogger.load()) {
        try {
            logger->flush();
        } catch (...) {
            // The next flush tries again.
        }
    }
}

void LogChannel::write(LogLevel level, const QString &composedText)
{
    const std::shared_ptr<spdlog::logger> logger = m_oLogger.load();
    if (!logger) {
        qDebug("Logger not initialized!");
        return;
    }
    const std::string text = filterLogMessage(composedText).left(kMaxLogMessageLength).toStdString();
    try {
        logger->log(toSpdlogLevel(static_cast<int>(level)), spdlog::string_view_t(text));
    } catch (...) {
        // An output that fails must not take the caller down with it.
    }
}
