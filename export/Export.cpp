#include "export/Export.h"

#include "pictures/PictureLoader.h"
#include "player/PanelStage.h"

#include <QEventLoop>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <thread>

// A window of the player's size that is never shown, holding the player's stage.
class FrameRenderer::Window : public QWidget {
  public:
    Window(QSize size, double ratio) : stage(*this, ratio) {
        setAttribute(Qt::WA_DontShowOnScreen);
        resize(size);
    }
    PanelStage stage;

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        stage.PaintBackground(painter, event->region());
    }
};

FrameRenderer::FrameRenderer(const ProcessRecord& process, QSize size, double ratio)
    : window_(std::make_unique<Window>((QSizeF(size) / ratio).toSize(), ratio)),
      process_(process),
      size_(size),
      ratio_(ratio) {
    window_->stage.SetBackground(process_);
}

FrameRenderer::~FrameRenderer() = default;

QSize FrameRenderer::DecodeSize() const {
    return PanelStage::DecodeSize(process_, window_->size(), ratio_);
}

QImage FrameRenderer::Draw(int index, const Picture& picture) {
    window_->stage.ShowPanel(process_, index, picture, previous_);
    previous_ = picture;
    QImage frame(size_, QImage::Format_RGB32);
    frame.fill(window_->palette().window().color());  // any edge the window leaves at a scale
    frame.setDevicePixelRatio(ratio_);
    window_->render(&frame, QPoint(), QRegion(),
                    QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return frame;
}

bool FrameSizeAllowed(QSize size) {
    constexpr int kSide = 16384;
    constexpr qint64 kPixels = qint64(1) << 26;
    return size.width() >= 1 && size.height() >= 1 && size.width() <= kSide &&
           size.height() <= kSide && qint64(size.width()) * size.height() <= kPixels;
}

FrameTiming TimingFor(ExportFormat format, int32_t intervalMs) {
    // A time of 0 or less plays as fast as it can, as in the player.
    const int wanted = std::max(0, intervalMs);
    int kept = wanted;
    if (format == ExportFormat::Gif)
        kept = std::min(65535, int((int64_t(wanted) + 5) / 10)) * 10;  // hundredths, rounded
    else if (format == ExportFormat::WebP)
        kept = std::min(wanted, (1 << 24) - 1);  // a frame lasts at most that long
    return {kept, kept != intervalMs};
}

namespace {

// Runs work on a worker thread while this thread handles its events, and
// returns its result.
template <typename Work>
auto OffThread(Work work) -> decltype(work()) {
    decltype(work()) result{};
    QEventLoop loop;
    std::thread worker([&] {
        result = work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return result;
}

class Export {
  public:
    Export(const ProcessRecord& process, const QString& output, const ExportOptions& options,
           ExportProgress& progress)
        : process_(process),
          progress_(progress),
          renderer_(process, options.size, options.pixelRatio) {
        WriterSettings settings;
        settings.format = options.format;
        settings.output = output;
        settings.frameSize = options.size;
        settings.frameMs = TimingFor(options.format, process.IntervalMs).frameMs;
        settings.quality = options.quality;
        settings.cancel = &progress.cancel;
        writer_ = MakeFrameWriter(settings);
    }

    ExportOutcome Run() {
        if (!writer_->Begin()) return {ExportOutcome::Refused, writer_->Error()};
        for (int index = 0; index < 4; ++index) {
            const Picture picture = OffThread([&] { return Decode(index); });
            Step();
            if (progress_.cancel) return {ExportOutcome::Cancelled, {}};
            const QImage frame = renderer_.Draw(index, picture);
            Step();
            if (!OffThread([&] { return writer_->Add(frame); })) return Stopped();
            Step();
        }
        if (!OffThread([&] { return writer_->Finish(); })) return Stopped();
        Step();
        return {};
    }

  private:
    // A panel as the player decodes it; an unknown run style shows no panel.
    Picture Decode(int index) const {
        if (!RunOf(process_.RunStyle)) return {};
        return LoadPicture(TrimFixed(process_.PanelPath[index]), renderer_.DecodeSize(),
                           &progress_.cancel);
    }
    ExportOutcome Stopped() const {
        if (progress_.cancel) return {ExportOutcome::Cancelled, {}};
        return {writer_->OutputFailed() ? ExportOutcome::Refused : ExportOutcome::Failed,
                writer_->Error()};
    }
    void Step() { ++progress_.done; }

    const ProcessRecord& process_;
    ExportProgress& progress_;
    FrameRenderer renderer_;
    std::unique_ptr<FrameWriter> writer_;
};

}  // namespace

ExportOutcome ExportProcess(const ProcessRecord& process, const QString& output,
                            const ExportOptions& options, ExportProgress* progress) {
    if (!FrameSizeAllowed(options.size) || !(options.pixelRatio >= 1 && options.pixelRatio <= 8))
        return {ExportOutcome::Refused, QStringLiteral("フレームの大きさは 1×1 から 16384×16384 "
                                                       "（6400 万ピクセルまで）です")};
    ExportProgress own;
    return Export(process, output, options, progress ? *progress : own).Run();
}
