// The player's frames on Wayland: the window's memory is handed out only
// inside a paint cycle and what is to be drawn is cleared at its start, so a
// frame cannot be drawn ahead; each panel is drawn when due. The compositor
// keeps the windows beneath as they were, so leaving the screen is a plain hide.
#include "player/FramePresenter.h"

namespace {

class WaylandPresenter : public FramePresenter {
  public:
    bool KeepsDrawingMemory() const override { return false; }
};

}  // namespace

std::unique_ptr<FramePresenter> MakeWaylandPresenter() {
    return std::make_unique<WaylandPresenter>();
}
