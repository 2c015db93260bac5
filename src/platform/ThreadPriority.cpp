#include "platform/ThreadPriority.h"

#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

void RaiseCurrentThreadPriority(int steps) {
    const auto tid = static_cast<id_t>(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) {
        return;
    }
    // Unprivileged users may not lower their nice value: then the thread keeps its priority.
    [[maybe_unused]] const int ignored = setpriority(PRIO_PROCESS, tid, current - steps);
}
