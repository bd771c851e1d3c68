// Thread priority on Windows: SetThreadPriority on the calling thread.
#include "platform/thread_priority.h"

#include <windows.h>

namespace NorvOS {

bool ApplyCurrentThreadPriority(int32_t priorityIndex) {
    // Index 3 is THREAD_PRIORITY_HIGHEST, one step above ABOVE_NORMAL.
    static const int kPriority[] = {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL,
                                    THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_HIGHEST,
                                    THREAD_PRIORITY_TIME_CRITICAL};
    if (priorityIndex < 0 || priorityIndex > 4 || priorityIndex == 2) {
        return true;
    }
    return ::SetThreadPriority(::GetCurrentThread(), kPriority[priorityIndex]) != FALSE;
}

} // namespace NorvOS
