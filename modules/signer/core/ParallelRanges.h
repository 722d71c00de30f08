#pragma once

#include <QtGlobal>
#include <functional>

namespace vyr::signer {

// Splits `count` items into at most `parts` contiguous ranges of at least `minimumPerPart`
// items and runs work(part, begin, end) for each: range 0 on the calling thread, every other on
// a thread of its own. Returns once all have ended; then rethrows the first range's failure.
void runInRanges(qsizetype count, int parts, qsizetype minimumPerPart,
                 const std::function<void(int part, qsizetype begin, qsizetype end)> &work);

} // namespace vyr::signer
