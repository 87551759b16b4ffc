// The files an export writes its four frames to: one tall strip PNG, four
// numbered PNGs, an animated WebP or an animated GIF. Each writes beside its
// final name and puts the file in place only when it is whole.
#pragma once

#include <QImage>
#include <QString>
#include <atomic>
#include <memory>

class NewFile;

enum class ExportFormat { Strip, Frames, WebP, Gif };

struct WriterSettings {
    ExportFormat format = ExportFormat::Strip;
    QString output;    // the file; for numbered frames, the name they are numbered from
    QSize frameSize;   // every frame's size in pixels
    int frameMs = 0;   // each frame's time, as the format keeps it
    int quality = -1;  // WebP: 0 to 100 for lossy, -1 for lossless
    const std::atomic<bool>* cancel = nullptr;
};

class FrameWriter {
  public:
    virtual ~FrameWriter() = default;
    // Makes the output file(s); false with the reason when they cannot be made.
    virtual bool Begin() = 0;
    // Adds the next frame, in play order (Format_RGB32, the frame's size).
    virtual bool Add(const QImage& frame) = 0;
    // Completes the file(s) and gives them their names.
    virtual bool Finish() = 0;
    const QString& Error() const { return error_; }
    // Whether it was the output file(s) that failed (not the encoding).
    bool OutputFailed() const { return outputFailed_; }

  protected:
    bool Fail(const QString& reason) {
        if (error_.isEmpty()) error_ = reason;
        return false;
    }
    // The file's reason when the file failed, else the encoder's.
    bool FailWith(const NewFile& file, const QString& encoderReason);

  private:
    QString error_;
    bool outputFailed_ = false;
};

std::unique_ptr<FrameWriter> MakeFrameWriter(const WriterSettings& settings);

// The four names numbered frames are written to: NAME-1.png to NAME-4.png
// beside NAME.png.
QString FramePath(const QString& output, int index);
