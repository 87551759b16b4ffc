// How the player's frames reach the screen, which is what differs from one
// window system to another: whether a frame can be drawn into the window's
// memory ahead of time and shown later, how to know that a frame is on the
// screen, and how the window leaves it.
#pragma once

#include <memory>

class QWidget;

class FramePresenter {
  public:
    virtual ~FramePresenter() = default;
    // The presenter for the window system the program runs on.
    static std::unique_ptr<FramePresenter> ForThisDisplay();

    // Whether what is drawn into the window's memory stays there until the
    // next drawing, so that a frame can be drawn ahead and shown when due.
    virtual bool KeepsDrawingMemory() const = 0;
    // Returns once everything drawn so far is on the screen, as far as the
    // window system tells.
    virtual void WaitUntilOnScreen() {}
    // Gives the shown window its (empty) name.
    virtual void NameWindow(QWidget*) {}
    // Takes the player off the screen now, with its owner's window shown again.
    virtual void TakeOffScreen(QWidget* player);
};

// The presenters of the window systems that need their own.
std::unique_ptr<FramePresenter> MakeX11Presenter();
std::unique_ptr<FramePresenter> MakeWaylandPresenter();
