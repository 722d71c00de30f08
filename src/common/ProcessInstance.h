#pragma once

#include <QMutex>
#include <functional>
#include <memory>

// The one instance the process keeps of a server part: made on first use, ended at shutdown,
// and made anew by the next use after that (tests start and stop the parts many times).
// Its mutex guards only the pointer, never the part's own data, so it orders before every lock
// a part takes; make() runs under it and must not ask for the same part.
template <typename T> class ProcessInstance
{
public:
    explicit ProcessInstance(std::function<std::unique_ptr<T>()> make) : m_make(std::move(make)) {}

    T *get()
    {
        const QMutexLocker locker(&m_mutex);
        if (!m_instance)
            m_instance = m_make();
        return m_instance.get();
    }

    // Destroyed outside the mutex: a destructor that joins threads must not hold it while
    // those threads ask for a part.
    void end()
    {
        std::unique_ptr<T> ending;
        {
            const QMutexLocker locker(&m_mutex);
            ending = std::move(m_instance);
        }
    }

private:
    QMutex m_mutex;
    const std::function<std::unique_ptr<T>()> m_make;
    std::unique_ptr<T> m_instance;
};
