#pragma once

#include <atomic>

// How many connections of accounts other than the server's own hold a handler, and the
// most they may hold together, so that another account cannot starve the owner of
// handlers. Shared by the pool and its handlers; the listener thread enters, handler
// threads enter and leave, lock-free.
class OtherAccountsShare
{
public:
    // The share is a percent of the pool's maximum size, rounded down.
    OtherAccountsShare(int maxHandlers, int sharePercent);

    // False, and nothing held, when the others already hold their whole share.
    bool tryEnter();
    void leave();

    int limit() const { return m_iLimit; }

private:
    const int m_iLimit;
    std::atomic<int> m_iHeld{0}; // listener and handler threads
};
