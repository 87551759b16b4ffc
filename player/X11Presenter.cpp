// The player's frames on an X11 display: the window's memory (shared with the
// X server) keeps what was drawn, a request with a reply tells when the server
// has put a frame on the screen, and the window is unmapped ahead of the
// toolkit's own hiding.
#include "platform/X11.h"
#include "player/FramePresenter.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QWidget>

namespace {

class X11Presenter : public FramePresenter {
  public:
    bool KeepsDrawingMemory() const override { return true; }
    void WaitUntilOnScreen() override { WaitForDisplay(); }
    void NameWindow(QWidget* player) override { SetEmptyWindowName(player); }

    // The owner's window, beneath, is put back from what it last drew in the
    // same batch of requests as the unmapping, so that it shows right after,
    // without waiting for the X server to ask nor for the replies that hiding
    // waits for.
    void TakeOffScreen(QWidget* player) override {
        QueueUnmap(player);
        QWidget* below = player->parentWidget() ? player->parentWidget()->window() : nullptr;
        if (below && below->isVisible() && below->backingStore() && below->windowHandle())
            below->backingStore()->flush(QRegion(below->rect()), below->windowHandle());
        player->hide();
        WaitForDisplay();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        WaitForDisplay();
    }
};

}  // namespace

std::unique_ptr<FramePresenter> MakeX11Presenter() {
    return std::make_unique<X11Presenter>();
}
