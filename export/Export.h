// Exports a process as the player shows it: frame k is the player's window,
// W x H pixels, while panel k is on, drawn by the player's own stage (without
// the status line and the pointer). Written as a strip of four frames, four
// numbered PNGs, an animated WebP or an animated GIF.
#pragma once

#include "export/FrameWriters.h"
#include "model/ProcessRecord.h"
#include "pictures/PictureLoader.h"

#include <QImage>
#include <QSize>
#include <atomic>
#include <memory>

// Draws the frames of a process off the screen: frames of size pixels, for a
// screen of ratio pixels to a pixel of the player's window (whose client area
// is then size / ratio). Lives on the thread of the widgets.
class FrameRenderer {
  public:
    FrameRenderer(const ProcessRecord& process, QSize size, double ratio = 1);
    ~FrameRenderer();

    // The size each panel is decoded at for these frames, as the player does.
    QSize DecodeSize() const;
    // The frame of panel index (in play order, 0 to 3) with its picture.
    QImage Draw(int index, const Picture& picture);

  private:
    class Window;
    std::unique_ptr<Window> window_;
    ProcessRecord process_;
    QSize size_;
    double ratio_;
    Picture previous_;  // the panel before, for its thumbnail
};

// The largest frame an export makes: 16384 pixels a side, 64 megapixels.
bool FrameSizeAllowed(QSize size);

// How a format keeps the frame time: the time it keeps, and whether that
// differs from the process's interval (GIF counts hundredths of a second).
struct FrameTiming {
    int frameMs;
    bool changed;
};
FrameTiming TimingFor(ExportFormat format, int32_t intervalMs);

struct ExportOptions {
    ExportFormat format = ExportFormat::Strip;
    QSize size{800, 600};  // each frame's size in pixels
    // Pixels to a pixel of the player's window: above 1 for a frame of a
    // scaled screen, drawn as sharply as the player draws there.
    double pixelRatio = 1;
    int quality = -1;  // WebP: 0 to 100 for lossy, -1 for lossless
};

// What the export is doing, for a progress bar, and its cancel switch.
struct ExportProgress {
    static constexpr int kSteps = 13;  // 4 x (decode, draw, encode), then the file
    std::atomic<int> done{0};
    std::atomic<bool> cancel{false};
};

struct ExportOutcome {
    enum Status { Done, Cancelled, Refused, Failed } status = Done;
    QString reason;  // in Japanese, when not done
};

// Exports the process to output. Must run on the widgets' thread: decoding
// and encoding go to a worker while this thread goes on handling its events.
ExportOutcome ExportProcess(const ProcessRecord& process, const QString& output,
                            const ExportOptions& options, ExportProgress* progress = nullptr);
