#include "platform/Desktop.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {
int g_cursorCount = 0;
}  // namespace

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
