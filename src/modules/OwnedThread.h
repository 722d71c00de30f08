#pragma once

#include <QThread>
#include <memory>

// A QThread that is asked to quit and waited for before it is deleted, so an owner can
// never destroy a thread that still runs.
struct OwnedThreadDeleter
{
    void operator()(QThread *thread) const
    {
        thread->quit();
        thread->wait();
        delete thread;
    }
};

using OwnedThread = std::unique_ptr<QThread, OwnedThreadDeleter>;
