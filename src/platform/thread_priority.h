// Per-thread scheduling priority, applied best effort.
#pragma once

#include <cstdint>

namespace NorvOS {

/// Applies a priority index (0 lowest, 1 below normal, 2 normal, 3 highest,
/// 4 time critical) to the calling thread. Index 2 and unknown indices change
/// nothing. Returns false when the system refused the change.
bool ApplyCurrentThreadPriority(int32_t priorityIndex);

} // namespace NorvOS
