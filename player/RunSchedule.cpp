#include "player/RunSchedule.h"

#include <algorithm>
#include <cstdint>

uint64_t RunSchedule::Due(int64_t intervalMs) const {
    return start_ + uint64_t(std::max<int64_t>(intervalMs, 0)) * 1000;
}

bool RunSchedule::LayOutNextNow(uint64_t nowMicros, int64_t intervalMs) const {
    return nowMicros + kLayOutAheadMicros >= Due(intervalMs);
}

RunSchedule::WaitPlan RunSchedule::PlanWait(uint64_t nowMicros, uint64_t deadlineMicros) {
    if (nowMicros >= deadlineMicros) return {};
    const uint64_t timerMs = (deadlineMicros - nowMicros) / 1000;
    if (timerMs * 1000 > kFinalStretchMicros)
        return {int(std::min<uint64_t>(timerMs - kFinalStretchMicros / 1000, INT32_MAX)), false};
    return {0, true};
}
