#pragma once

#include <QtGlobal>
#include <chrono>
#include <functional>
#include <memory>

// A fixed number of threads that run posted tasks in the order they came; tasks wait in a
// queue while every thread is busy. Threads start on demand and stay for the pool's life.
//
// A task that never returns must not cost the pool a thread for good: Abandon leaves the
// thread to its task and lets a new one take its place. At most maxAbandoned threads are left
// like that at a time; beyond that the pool runs one thread short until the task returns.
// An abandoned thread ends by itself once its task returns.
//
// Any thread may call Post, Forget and Abandon. The destructor waits for no running task;
// Stop first to give them a grace.
class JobPool
{
public:
    using Task = std::function<void()>;
    using Key = quint64;

    JobPool(int threads, int maxAbandoned);
    ~JobPool();
    JobPool(const JobPool &) = delete;
    JobPool &operator=(const JobPool &) = delete;

    void Post(Key key, Task task);
    // Drops the task while it waits; nothing once it runs.
    void Forget(Key key);
    // Leaves the thread that runs the task to it (see above); nothing if the task has returned.
    void Abandon(Key key);
    // Drops waiting tasks, ends idle threads and waits up to grace for running tasks; a thread
    // still running after that is left to its task. True when every thread has ended.
    bool Stop(std::chrono::milliseconds grace);

    // Threads of every pool in the process that have not ended, abandoned ones included.
    static int LiveThreads();

private:
    struct State;
    struct Runner;
    static void Run(const std::shared_ptr<State> &state, const std::shared_ptr<Runner> &runner);
    static void StartRunner(const std::shared_ptr<State> &state);

    // Shared with the threads, so an abandoned one may outlive the pool.
    std::shared_ptr<State> m_poState;
};
