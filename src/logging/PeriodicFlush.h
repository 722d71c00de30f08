#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class LogChannel;

// Flushes a channel's outputs a short while after lines below warning were written, so the
// file never lags by more than one interval while writing a line costs no flush.
class PeriodicFlush
{
public:
    PeriodicFlush(LogChannel &channel, std::chrono::milliseconds interval);
    // Stops the thread and flushes one last time.
    ~PeriodicFlush();
    PeriodicFlush(const PeriodicFlush &) = delete;
    PeriodicFlush &operator=(const PeriodicFlush &) = delete;

private:
    void run(const std::stop_token &stop);

    LogChannel &m_oChannel;
    const std::chrono::milliseconds m_oInterval;
    // Used by the flushing thread only (and by the destructor's stop request).
    std::mutex m_oMutex;
    std::condition_variable_any m_oWake;
    // Owned by whoever made this object; runs the flushes.
    std::jthread m_oThread;
};
