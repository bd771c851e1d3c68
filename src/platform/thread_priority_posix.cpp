// Thread priority on Linux: each thread has its own nice value, set through
// setpriority on its thread id.
#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace NorvOS {

bool ApplyCurrentThreadPriority(int32_t priorityIndex) {
    // Nice offsets standing in for the lowest, below-normal, normal, highest
    // and time-critical thread priorities.
    static const int kNice[] = {10, 5, 0, -5, -10};
    if (priorityIndex < 0 || priorityIndex > 4 || priorityIndex == 2) {
        return true;
    }
    const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[priorityIndex]) == 0;
}

} // namespace NorvOS
