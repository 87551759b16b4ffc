// The monotonic clock, sleeping until a moment, and thread priority: timing
// services that need no window system.
#pragma once

#include <cstdint>
#include <functional>

// A monotonic clock in microseconds since an arbitrary start. Being 64 bits
// wide it never wraps, so elapsed times stay right however long the program runs.
uint64_t ClockMicros();
// Replaces the clock (tests); an empty function restores the real one.
void SetClockSource(std::function<uint64_t()> source);
// Sleeps until the clock reads deadline (microseconds), to within the
// system's timer slack; returns at once for a deadline in the past.
void SleepUntil(uint64_t deadlineMicros);

// Lowers the calling thread's scheduling priority, so that background work
// (decoding pictures ahead) gives way to drawing and to the display server.
void LowerThreadPriority();
