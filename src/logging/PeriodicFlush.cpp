#include "PeriodicFlush.h"

#include "LogChannel.h"

PeriodicFlush::PeriodicFlush(LogChannel &channel, std::chrono::milliseconds interval)
    : m_oChannel(channel), m_oInterval(interval),
      m_oThread([this](const std::stop_token &stop) { run(stop); })
{
}

PeriodicFlush::~PeriodicFlush()
{
    m_oThread.request_stop();
    m_oThread.join();
    m_oChannel.flush();
}

void PeriodicFlush::run(const std::stop_token &stop)
{
    std::unique_lock<std::mutex> lock(m_oMutex);
    while (!stop.stop_requested()) {
        // Woken early only by the stop request; the destructor does the last flush.
        static_cast<void>(m_oWake.wait_for(lock, stop, m_oInterval, [] { return false; }));
        if (!stop.stop_requested())
            m_oChannel.flush();
    }
}
