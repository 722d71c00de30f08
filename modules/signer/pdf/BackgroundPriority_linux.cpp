#include "BackgroundPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {
// Low enough that a thread of the usual priority gets nine tenths of a shared processor, not
// so low that a busy machine starves the work until the person has confirmed.
constexpr int kBackgroundNice = 10;
} // namespace

void yieldToForegroundWork()
{
    // The nice value is a thread's own on Linux when the thread is named by its id.
    static_cast<void>(setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBackgroundNice));
}
