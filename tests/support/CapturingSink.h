#pragma once

#include <QMutex>
#include <QStringList>
#include <mutex>
#include <spdlog/sinks/base_sink.h>

// Keeps every line a channel hands over, formatted with the message only, so tests
// assert on exact log text without files.
class CapturingSink : public spdlog::sinks::base_sink<std::mutex>
{
public:
    QStringList lines() const
    {
        QMutexLocker locker(&m_oMutex);
        return m_oLines;
    }

protected:
    void sink_it_(const spdlog::details::log_msg &message) override
    {
        QMutexLocker locker(&m_oMutex);
        m_oLines.append(
            QString::fromUtf8(message.payload.data(), static_cast<qsizetype>(message.payload.size())));
    }
    void flush_() override {}

private:
    mutable QMutex m_oMutex;
    QStringList m_oLines;
};
