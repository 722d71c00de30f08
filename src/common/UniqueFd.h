#pragma once

#include <unistd.h>

// Owns one file descriptor and closes it on every path.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_iFd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_iFd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_iFd = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_iFd; }
    bool isValid() const { return m_iFd >= 0; }
    int release()
    {
        const int fd = m_iFd;
        m_iFd = -1;
        return fd;
    }
    // close() reports write-back failures; a writer must see them.
    bool reset()
    {
        const bool ok = m_iFd < 0 || ::close(m_iFd) == 0;
        m_iFd = -1;
        return ok;
    }

private:
    int m_iFd = -1;
};
