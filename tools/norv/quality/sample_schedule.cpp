#include <algorithm>
#include <cmath>

#include "quality/samples.h"

namespace norv {

SampleSchedule ScheduleFor(double titleSeconds) {
    SampleSchedule schedule;
    if (!(titleSeconds > 0)) {
        return schedule;
    }
    double total = 0, each = 0;
    if (titleSeconds >= 60) {
        total = std::min(120.0, std::max(2.4, 0.035 * titleSeconds));
        each = 2.0;
    } else {
        total = std::min(titleSeconds, std::max(2.0, 0.25 * titleSeconds));
        each = 1.5;
    }
    const double count = std::max(1.0, std::round(total / each));
    schedule.count = static_cast<unsigned>(titleSeconds >= 60 ? std::max(2.0, count) : count);
    schedule.seconds = total / schedule.count;
    return schedule;
}

} // namespace norv
