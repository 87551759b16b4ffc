#include "platform/Desktop.h"

#include <QtGui/qguiapplication_platform.h>
#include <sys/resource.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

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

void SleepUntil(uint64_t deadlineMicros) {
    const uint64_t now = ClockMicros();
    if (now >= deadlineMicros) return;
    // A replaced clock moves at its own pace: it is looked at again soon.
    const uint64_t step =
        g_clockSource ? std::min<uint64_t>(deadlineMicros - now, 200) : deadlineMicros - now;
    std::this_thread::sleep_for(std::chrono::microseconds(step));
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
    // Taking a closing window out of the top position must not show it again.
    if (topMost || !window->isHidden()) window->show();
    if (QWindow* handle = window->windowHandle())
        handle->setFlag(Qt::WindowStaysOnTopHint, topMost);
}

QPoint CenteredFramePos(const QSize& frame, const QRect& over) {
    return over.topLeft() +
           QPoint((over.width() - frame.width()) / 2, (over.height() - frame.height()) / 2);
}

namespace {

// Keeps a window centred while the window manager frames it: the frame's
// size is known only some time after the window is shown, and it comes with no
// event of its own, so the frame is looked at a few times.
class Centerer : public QObject {
  public:
    Centerer(QWidget* window, QWidget* owner) : QObject(window), window_(window), owner_(owner) {
        window->installEventFilter(this);
        connect(&settle_, &QTimer::timeout, this, &Centerer::Settle);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            shown_.start();
            Center();
            settle_.start(kPollMs);
        }
        return false;
    }

  private:
    static constexpr int kPollMs = 20, kSettleMs = 600;

    QRect Over() const {
        if (owner_) return owner_->frameGeometry();
        QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
        return screen ? screen->availableGeometry() : QRect();
    }

    void Center() {
        centeredFrame_ = window_->frameGeometry().size();
        const QPoint at = CenteredFramePos(centeredFrame_, Over());
        if (at != window_->frameGeometry().topLeft()) window_->move(at);
    }

    void Settle() {
        if (window_->frameGeometry().size() != centeredFrame_) Center();
        if (shown_.elapsed() > kSettleMs || !window_->isVisible()) settle_.stop();
    }

    QWidget* window_;
    QPointer<QWidget> owner_;
    QElapsedTimer shown_;
    QTimer settle_;
    QSize centeredFrame_;
};

}  // namespace

void CenterOnShow(QWidget* window, QWidget* owner) {
    new Centerer(window, owner ? owner->window() : nullptr);
}

namespace {
xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

xcb_connection_t* XConnection() {
    if (QGuiApplication::platformName() != u"xcb") return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}
}  // namespace

void SetEmptyWindowName(QWidget* window) {
    xcb_connection_t* connection = XConnection();
    if (!connection || !window->windowHandle()) return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                        Atom(connection, "_NET_WM_NAME"), Atom(connection, "UTF8_STRING"), 8, 0,
                        nullptr);
    xcb_flush(connection);
}

void QueueUnmap(QWidget* window) {
    xcb_connection_t* connection = XConnection();
    if (!connection || !window->windowHandle()) return;
    xcb_unmap_window(connection, xcb_window_t(window->winId()));
}

// A request with a reply is carried out after every request before it, so its
// reply means the drawing has reached the screen.
void WaitForDisplay() {
    xcb_connection_t* connection = XConnection();
    if (!connection) return;
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

bool DrawingMemoryKeptBetweenPaints() {
    const QString platform = QGuiApplication::platformName();
    return platform == u"xcb" || platform == u"offscreen";
}

void LowerThreadPriority() {
    setpriority(PRIO_PROCESS, id_t(gettid()), 10);  // on Linux a nice value is per thread
}
