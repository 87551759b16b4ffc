// The timing of a run, apart from any window: a panel's time counts from when
// it reached the screen, a pause throws away what had passed, the next panel
// is laid out shortly before it is due, and waiting is planned so that the
// event loop sleeps instead of spinning.
#pragma once

#include <cstdint>

class RunSchedule {
  public:
    // How long before a panel is due it is laid out and drawn: more than a
    // screen-sized drawing takes.
    static constexpr uint64_t kLayOutAheadMicros = 8000;
    // Timers can fire a few milliseconds late: the last stretch before a
    // deadline is slept exactly instead.
    static constexpr uint64_t kFinalStretchMicros = 3000;

    // The panel on screen from this moment: its whole time starts (again, after a pause).
    void StartPanel(uint64_t atMicros) { start_ = atMicros; }
    // When the panel's time is up; an interval of 0 or less ends it at once.
    uint64_t Due(int64_t intervalMs) const;
    // Whether it is time to lay the next panel out (and so to stop waiting).
    bool LayOutNextNow(uint64_t nowMicros, int64_t intervalMs) const;
    // When waiting for events should end at the latest.
    uint64_t WaitUntil(int64_t intervalMs) const { return Due(intervalMs) - kLayOutAheadMicros; }

    // How a wait until deadline is spent: a timer of whole milliseconds
    // (never 0, which would fire at once again and again) wakes the event loop
    // before the final stretch; within the final stretch, the rest is slept.
    struct WaitPlan {
        int timerMs = 0;  // 0: no timer, sleep the rest
        bool sleepRest = false;
    };
    static WaitPlan PlanWait(uint64_t nowMicros, uint64_t deadlineMicros);

  private:
    uint64_t start_ = 0;
};
