#include "JobPool.h"

#include "SlotGuard.h"
#include "logging/LogStatement.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {
std::atomic<int> g_iLiveThreads{0};
} // namespace

// One thread of the pool; every field is read and written under the state's mutex.
struct JobPool::Runner
{
    std::thread thread;
    Key current = 0;
    bool busy = false;
    bool abandoned = false;
    bool ended = false;
};

struct JobPool::State
{
    State(int threads, int maxAbandoned) : size(std::max(1, threads)), maxAbandoned(std::max(0, maxAbandoned))
    {
    }

    const int size;
    const int maxAbandoned;
    std::mutex mutex;
    std::condition_variable wake;  // a task or the stop, for idle runners
    std::condition_variable ended; // a runner ended, for Stop
    std::deque<std::pair<Key, Task>> queue;
    std::vector<std::shared_ptr<Runner>> runners; // the pool's own; abandoned ones leave this list
    int idle = 0;
    int abandoned = 0; // left to their tasks and not yet ended
    int live = 0;      // not yet ended, abandoned ones included
    bool stopping = false;
};

JobPool::JobPool(int threads, int maxAbandoned) : m_poState(std::make_shared<State>(threads, maxAbandoned)) {}

JobPool::~JobPool()
{
    Stop(std::chrono::milliseconds(0));
}

int JobPool::LiveThreads()
{
    return g_iLiveThreads.load();
}

void JobPool::Post(Key key, Task task)
{
    const std::scoped_lock lock(m_poState->mutex);
    if (m_poState->stopping)
        return;
    m_poState->queue.emplace_back(key, std::move(task));
    if (m_poState->idle > 0)
        m_poState->wake.notify_one();
    else if (static_cast<int>(m_poState->runners.size()) < m_poState->size)
        StartRunner(m_poState);
}

void JobPool::Forget(Key key)
{
    Task dropped; // destroyed outside the lock: it owns the job's worker
    const std::scoped_lock lock(m_poState->mutex);
    auto &queue = m_poState->queue;
    const auto found =
        std::find_if(queue.begin(), queue.end(), [key](const auto &entry) { return entry.first == key; });
    if (found == queue.end())
        return;
    dropped = std::move(found->second);
    queue.erase(found);
}

void JobPool::Abandon(Key key)
{
    State &state = *m_poState;
    const std::scoped_lock lock(state.mutex);
    const auto found = std::find_if(state.runners.begin(), state.runners.end(), [key](const auto &runner) {
        return runner->busy && runner->current == key;
    });
    if (found == state.runners.end())
        return;
    if (state.abandoned >= state.maxAbandoned) {
        VYR_LOG_SERVER(Warning) << "A job thread is held by a module function that has not returned; "
                                << state.abandoned
                                << " threads are left to such functions already, so the pool "
                                << "runs one thread short until it returns";
        return;
    }
    (*found)->abandoned = true;
    (*found)->thread.detach();
    state.runners.erase(found);
    ++state.abandoned;
    VYR_LOG_SERVER(Warning)
        << "A job thread is left to a module function that has not returned and is replaced; "
        << state.abandoned << " of at most " << state.maxAbandoned << " threads left so";
    if (!state.queue.empty() && state.idle == 0)
        StartRunner(m_poState);
}

bool JobPool::Stop(std::chrono::milliseconds grace)
{
    State &state = *m_poState;
    std::deque<std::pair<Key, Task>> dropped;
    std::vector<std::shared_ptr<Runner>> toJoin;
    bool allEnded = false;
    {
        std::unique_lock lock(state.mutex);
        state.stopping = true;
        dropped.swap(state.queue);
        state.wake.notify_all();
        allEnded = state.ended.wait_for(lock, grace, [&] { return state.live == 0; });
        for (const std::shared_ptr<Runner> &runner : state.runners) {
            if (runner->ended)
                toJoin.push_back(runner);
            else
                runner->thread.detach(); // it ends by itself once its task returns
        }
        state.runners.clear();
    }
    for (const std::shared_ptr<Runner> &runner : toJoin)
        runner->thread.join(); // past its loop already: returns at once
    return allEnded;
}

void JobPool::StartRunner(const std::shared_ptr<State> &state)
{
    auto runner = std::make_shared<Runner>();
    try {
        runner->thread = std::thread(&JobPool::Run, state, runner);
    } catch (const std::system_error &error) {
        VYR_LOG_SERVER(Error) << "No new job thread: " << error.what() << "; " << state->runners.size()
                              << " threads serve the queue";
        return;
    }
    state->runners.push_back(runner);
    ++state->live;
    ++g_iLiveThreads;
}

void JobPool::Run(const std::shared_ptr<State> &state, const std::shared_ptr<Runner> &runner)
{
    std::unique_lock lock(state->mutex);
    for (;;) {
        ++state->idle;
        state->wake.wait(lock, [&] { return state->stopping || !state->queue.empty(); });
        --state->idle;
        if (state->queue.empty())
            break; // stopping
        auto [key, task] = std::move(state->queue.front());
        state->queue.pop_front();
        runner->current = key;
        runner->busy = true;
        lock.unlock();
        runGuarded("JobPool", "Run", task);
        task = nullptr; // the job's captures go here, outside the lock
        // This thread runs no event loop: what the task deleted later goes now, as a thread of
        // its own would have done at its end.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        lock.lock();
        runner->busy = false;
        if (runner->abandoned)
            break;
    }
    if (runner->abandoned)
        --state->abandoned;
    --state->live;
    runner->ended = true;
    --g_iLiveThreads;
    state->ended.notify_all();
}
