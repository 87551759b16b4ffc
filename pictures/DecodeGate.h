// The one gate every picture decoder goes through: it decides the size a
// picture is decoded at from the size it is shown at (never more than a
// screen's worth of pixels, whatever the file's own size), refuses what no
// display can use, carries the reason a decoding failed, and lets a decoding
// be cancelled between rows.
#pragma once

#include <QSize>
#include <QString>
#include <atomic>
#include <optional>

// Why a picture is not there.
struct LoadError {
    enum Kind {
        None,
        Missing,
        NotAFile,
        Unreadable,
        UnknownFormat,
        Unsupported,  // a known format, in a variant no decoder reads
        Damaged,
        TooLarge,
        Cancelled
    };
    Kind kind = None;
    qint64 atByte = -1;   // where damaged data was found, when the decoder knows
    QSize size;           // the picture's own size, for TooLarge
    int systemError = 0;  // errno, for Unreadable
};

// A short Japanese sentence for the reason.
QString DescribeLoadError(const LoadError& error);

// The size a picture of the given own size is decoded at for showing at
// displaySize; nothing when it is too large for any display. An empty or
// over-large display size means the picture's own size, reduced to at most
// kMaxKeptPixels.
std::optional<QSize> PlanDecode(QSize source, QSize displaySize);

// A display size larger than any screen counts as none.
constexpr qint64 kMaxDisplayPixels = qint64(4096) * 4096;
// A picture shown at its own size is kept at most this large (larger ones are
// reduced, keeping their proportions): a 64-megapixel camera's photo fits.
constexpr qint64 kMaxKeptPixels = qint64(8192) * 8192;
// A picture decoded whole before it is scaled (by decoders that cannot read
// row by row) may take at most this many bytes.
constexpr qint64 kMaxWholeDecodeBytes = qint64(256) << 20;

// The decoding of one picture on this thread: the reason a decoder gives for
// failing, and the flag that cancels it. Decoders call these while a scope lives.
class DecodeScope {
  public:
    explicit DecodeScope(const std::atomic<bool>* cancel = nullptr);
    ~DecodeScope();
    DecodeScope(const DecodeScope&) = delete;
    DecodeScope& operator=(const DecodeScope&) = delete;
    const LoadError& Error() const { return error_; }

  private:
    friend void ReportDecodeError(const LoadError& error);
    friend bool DecodeCancelled();
    const std::atomic<bool>* cancel_;
    LoadError error_;
    DecodeScope* outer_;
};

// Records why the present decoding fails (the first reason given wins).
void ReportDecodeError(const LoadError& error);
void ReportDamage(qint64 atByte);
// True once the present decoding is to stop; it reports the cancellation.
bool DecodeCancelled();
