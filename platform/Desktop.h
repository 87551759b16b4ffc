// Mouse pointer, window order and window placement.
#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

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
