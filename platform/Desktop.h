// Clock, mouse pointer and window-order services.
#pragma once

#include <QPoint>
#include <QRect>
#include <cstdint>
#include <functional>

class QWidget;

// A monotonic clock in microseconds since an arbitrary start. Being 64 bits
// wide it never wraps, so elapsed times stay right however long the program runs.
uint64_t ClockMicros();
// Replaces the clock (tests); an empty function restores the real one.
void SetClockSource(std::function<uint64_t()> source);
// Sleeps until the clock reads deadline (microseconds), to within the
// system's timer slack; returns at once for a deadline in the past.
void SleepUntil(uint64_t deadlineMicros);

// Raises (show) or lowers (hide) the pointer's display counter and returns the
// new value; the pointer is hidden over the program's windows while it is below 0.
int ShowCursor(bool show);
int CursorDisplayCount();

// Puts a window into or out of the stay-on-top position in place, keeping its
// place and size, and shows it (a hidden window stays hidden when taken out).
void SetWindowTopMost(QWidget* window, bool topMost);

// Centres the window's frame on its owner's frame (or, without an owner, on
// the screen) when it is shown, and again once the window manager has framed
// it, so that the title bar counts in the centring.
void CenterOnShow(QWidget* window, QWidget* owner);
// Where CenterOnShow puts a frame of that size.
QPoint CenteredFramePos(const QSize& frame, const QRect& over);

// Gives a shown window the empty name, where the window system would otherwise
// name an untitled window after the application.
void SetEmptyWindowName(QWidget* window);

// Asks the window system to take the window off the screen with the next
// requests that go out, before the toolkit's own hiding, which waits for
// replies before it lets anything else be sent.
void QueueUnmap(QWidget* window);

// Sends everything drawn so far to the display server and waits until it has
// carried it out, so that what was drawn is on the screen when this returns.
// Delivers no events. Does nothing where there is no display server.
void WaitForDisplay();

// Whether a window's drawing memory keeps what was drawn into it from one
// paint cycle to the next, so that a frame can be drawn ahead and shown later.
// X11 keeps it; Wayland clears what is to be drawn at the start of each cycle.
bool DrawingMemoryKeptBetweenPaints();

// Lowers the calling thread's scheduling priority, so that background work
// (decoding pictures ahead) gives way to drawing and to the display server.
void LowerThreadPriority();
