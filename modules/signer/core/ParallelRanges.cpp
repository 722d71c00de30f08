#include "ParallelRanges.h"

#include <QThread>
#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

namespace vyr::signer {
namespace {

int rangeCount(qsizetype count, int parts, qsizetype minimumPerPart)
{
    return static_cast<int>(
        std::clamp<qsizetype>(count / std::max<qsizetype>(minimumPerPart, 1), 1, std::max(parts, 1)));
}

} // namespace

void runInRanges(qsizetype count, int parts, qsizetype minimumPerPart,
                 const std::function<void(int part, qsizetype begin, qsizetype end)> &work)
{
    const int ranges = rangeCount(count, parts, minimumPerPart);
    const auto bound = [&](int part) { return count * part / ranges; };
    // One slot per range, each written only by the thread that runs that range and read by
    // the calling thread after that thread has ended.
    std::vector<std::exception_ptr> failures(static_cast<size_t>(ranges));
    const auto guarded = [&](int part) {
        try {
            work(part, bound(part), bound(part + 1));
        } catch (...) {
            failures[static_cast<size_t>(part)] = std::current_exception();
        }
    };
    // Owned and joined by the calling thread.
    std::vector<std::unique_ptr<QThread>> threads;
    for (int part = 1; part < ranges; ++part) {
        threads.emplace_back(QThread::create(guarded, part));
        threads.back()->start();
    }
    guarded(0);
    // Unbounded wait: each range is in-memory work of a known size, with no I/O to hang on.
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->wait();
    for (const std::exception_ptr &failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

} // namespace vyr::signer
