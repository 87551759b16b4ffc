#include "platform/Clock.h"

#include <sys/resource.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <chrono>
#include <thread>

namespace {
std::function<uint64_t()> g_clockSource;

uint64_t RealMicros() {
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return uint64_t(clock.nsecsElapsed() / 1000);
}
}  // namespace

uint64_t ClockMicros() {
    return g_clockSource ? g_clockSource() : RealMicros();
}

void SetClockSource(std::function<uint64_t()> source) {
    g_clockSource = std::move(source);
}

void SleepUntil(uint64_t deadlineMicros) {
    const uint64_t now = ClockMicros();
    if (now >= deadlineMicros) return;
    // A replaced clock moves at its own pace: it is looked at again soon.
    const uint64_t step =
        g_clockSource ? std::min<uint64_t>(deadlineMicros - now, 200) : deadlineMicros - now;
    std::this_thread::sleep_for(std::chrono::microseconds(step));
}

void LowerThreadPriority() {
    setpriority(PRIO_PROCESS, id_t(gettid()), 10);  // on Linux a nice value is per thread
}
