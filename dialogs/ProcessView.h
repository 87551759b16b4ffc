// What the dialogs and the player ask of the window that shows the current
// process. The main window is the one that implements it; tests may give a
// stand-in. Nothing below the application's own folder knows the main window.
#pragma once

#include "model/ProcessRecord.h"

class ImageControl;
class ProcessStore;
class QWidget;

class ProcessView {
  public:
    virtual ~ProcessView() = default;

    // The window that owns the dialogs and the player.
    virtual QWidget* Owner() = 0;
    // Shows the process again: caption, background colour, first panel's
    // picture, border look and tooltip. Does not lay the picture out again.
    virtual void ApplyProcess(const ProcessRecord& record) = 0;
    // Lays the picture out again by the current process's fit mode.
    virtual void FitImage() = 0;
    // The picture control, whose present size the image fit dialog keeps.
    virtual const ImageControl& Picture() const = 0;
    // The store that Save writes and the process list reads.
    virtual const ProcessStore& Store() const = 0;

  protected:
    ProcessView() = default;
    ProcessView(const ProcessView&) = default;
    ProcessView& operator=(const ProcessView&) = default;
};
