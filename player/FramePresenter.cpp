#include "player/FramePresenter.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

namespace {

// Off any screen (tests, measurements): the window's memory is a plain picture
// that keeps what was drawn.
class OffscreenPresenter : public FramePresenter {
  public:
    bool KeepsDrawingMemory() const override { return true; }
};

// Any other window system: nothing is assumed of the window's memory.
class PlainPresenter : public FramePresenter {
  public:
    bool KeepsDrawingMemory() const override { return false; }
};

}  // namespace

std::unique_ptr<FramePresenter> FramePresenter::ForThisDisplay() {
    const QString platform = QGuiApplication::platformName();
    if (platform == u"xcb") return MakeX11Presenter();
    if (platform.startsWith(u"wayland")) return MakeWaylandPresenter();
    if (platform == u"offscreen") return std::make_unique<OffscreenPresenter>();
    return std::make_unique<PlainPresenter>();
}

void FramePresenter::TakeOffScreen(QWidget* player) {
    player->hide();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
