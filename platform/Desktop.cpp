#include "platform/Desktop.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace {
std::function<uint64_t()> g_clockSource;
int g_cursorCount = 0;

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

int ShowCursor(bool show) {
    const bool wasHidden = g_cursorCount < 0;
    g_cursorCount += show ? 1 : -1;
    const bool hidden = g_cursorCount < 0;
    if (hidden && !wasHidden) QGuiApplication::setOverrideCursor(Qt::BlankCursor);
    if (!hidden && wasHidden) QGuiApplication::restoreOverrideCursor();
    return g_cursorCount;
}

int CursorDisplayCount() {
    return g_cursorCount;
}

void SetWindowTopMost(QWidget* window, bool topMost) {
    window->show();
    if (QWindow* handle = window->windowHandle())
        handle->setFlag(Qt::WindowStaysOnTopHint, topMost);
}
