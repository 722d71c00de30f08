#pragma once

#include <unistd.h>

// Owns one file descriptor and closes it on every path out of its scope.
class UniqueFd
{
public:
    explicit UniqueFd(int fd) : m_iFd(fd) {}
    ~UniqueFd()
    {
        if (m_iFd >= 0)
            ::close(m_iFd);
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_iFd; }
    bool valid() const { return m_iFd >= 0; }

private:
    int m_iFd;
};
