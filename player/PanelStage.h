// What the player's window shows of a run while one panel is on: the
// background colour, the panel's picture laid out by the run style and fit
// mode with its border, and in the iconize style the thumbnails of the panels
// shown before it. The player's window and the export of a process's frames
// both draw through it, so that a frame is exactly what the player shows.
#pragma once

#include "model/ProcessRecord.h"

#include <QRegion>
#include <QSize>
#include <array>

class ImageControl;
class QPainter;
class QWidget;
struct Picture;

class PanelStage {
  public:
    // Makes the picture controls inside window, hidden until a panel is shown.
    // A pixel ratio of 0 draws at the window's screen's; the export gives 1.
    explicit PanelStage(QWidget& window, double pixelRatio = 0);

    ImageControl* Img = nullptr;
    std::array<ImageControl*, 4> PreIcon{};  // index 0 is never shown

    // The window's background: the process's colour.
    void SetBackground(const ProcessRecord& process);
    void PaintBackground(QPainter& painter, const QRegion& region) const;

    // Lays out panel index with its picture (and, iconized, the thumbnail of
    // the panel before it, from that panel's picture). Returns what has to be
    // drawn again.
    QRegion ShowPanel(const ProcessRecord& process, int index, const Picture& picture,
                      const Picture& previous);
    // Shows no panel picture (the thumbnails stay); returns where it was.
    QRegion HidePanel();

    // The size in screen pixels to decode a panel at for a client area of
    // client (in the window's unit) at ratio: the size its picture control
    // will have when it lies wholly inside. Otherwise empty: the panel is
    // decoded at its own size, and the control scales only its visible part.
    static QSize DecodeSize(const ProcessRecord& process, QSize client, double ratio);

  private:
    void ShowPanelFitted(const ProcessRecord& process, int16_t fitMode);
    void ShowPanelFull(const ProcessRecord& process);
    void ShowPanelIcon(const ProcessRecord& process, int index, const Picture& previous);

    QWidget& window_;
};
