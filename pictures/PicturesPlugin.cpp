#include "pictures/PicturesPlugin.h"

#include "pictures/BitmapFiles.h"
#include "pictures/GifDecoder.h"
#include "pictures/JpegDecoder.h"
#include "pictures/PngDecoder.h"
#include "pictures/Scaling.h"
#include "pictures/TiffDecoder.h"
#include "pictures/WebpDecoder.h"
#include "pictures/emf/EmfPlayer.h"
#include "pictures/emf/WmfPlayer.h"

#include <QBuffer>
#include <optional>

namespace {

// What every handler shares: the whole file in memory (a buffer's own data,
// so nothing is copied), its size and orientation before reading, and a
// picture delivered at exactly the scaled size when one is set.
class FileHandler : public QImageIOHandler {
  public:
    explicit FileHandler(QByteArray format) : format_(std::move(format)) {}

    bool canRead() const override {
        if (!device() || OwnFormatOf(device()->peek(128)) != format_) return false;
        setFormat(format_);
        return true;
    }

    bool read(QImage* image) override {
        const QByteArray data = Data();
        QImage decoded = Decode(data, scaled_);
        if (decoded.isNull()) return false;
        if (!scaled_.isEmpty()) decoded = ScaledSmoothly(decoded, scaled_);
        if (decoded.isNull()) return false;
        *image = std::move(decoded);
        return true;
    }

    bool supportsOption(ImageOption option) const override {
        return option == Size || option == ScaledSize || option == ImageTransformation;
    }

    QVariant option(ImageOption option) const override {
        if (option == Size) return Measurement().stored;
        if (option == ImageTransformation) return int(Measurement().orientation);
        if (option == ScaledSize) return scaled_;
        return {};
    }

    void setOption(ImageOption option, const QVariant& value) override {
        if (option == ScaledSize) scaled_ = value.toSize();
    }

  protected:
    struct Measured {
        QSize stored;  // before the orientation is applied
        Transformations orientation = TransformationNone;
    };
    virtual Measured Measure(const QByteArray& data) const = 0;
    // At scaled when it is given (or larger: read() scales the rest), else at the own size.
    virtual QImage Decode(const QByteArray& data, QSize scaled) const = 0;

  private:
    // Measured once: the reader asks for the size and the orientation apart.
    const Measured& Measurement() const {
        if (!measured_) measured_ = Measure(Data());
        return *measured_;
    }

    QByteArray Data() const {
        if (auto* buffer = qobject_cast<QBuffer*>(device())) return buffer->data();
        return device()->peek(device()->size());
    }

    QByteArray format_;
    QSize scaled_;
    mutable std::optional<Measured> measured_;
};

class BmpHandler : public FileHandler {
  public:
    BmpHandler() : FileHandler("kadrelo-bmp") {}
    Measured Measure(const QByteArray& data) const override { return {BmpSize(data), {}}; }
    QImage Decode(const QByteArray& data, QSize scaled) const override {
        return DecodeBmp(data, scaled);
    }
};

// The formats whose libraries tell the size from the header and decode at
// (or down to) the size the picture is shown at.
template <std::optional<QSize> (*SizeOf)(const QByteArray&),
          QImage (*DecodeAt)(const QByteArray&, QSize)>
class LibraryHandler : public FileHandler {
  public:
    explicit LibraryHandler(QByteArray format) : FileHandler(std::move(format)) {}
    Measured Measure(const QByteArray& data) const override {
        return {SizeOf(data).value_or(QSize()), {}};
    }
    QImage Decode(const QByteArray& data, QSize scaled) const override {
        return DecodeAt(data, scaled);
    }
};

// The chosen entry is known only by decoding, so it is decoded once for the
// size and kept for the reading.
class IconHandler : public FileHandler {
  public:
    IconHandler() : FileHandler("kadrelo-ico") {}
    Measured Measure(const QByteArray& data) const override { return {Decoded(data).size(), {}}; }
    QImage Decode(const QByteArray& data, QSize) const override { return Decoded(data); }

  private:
    const QImage& Decoded(const QByteArray& data) const {
        if (!done_) decoded_ = DecodeIcon(data), done_ = true;
        return decoded_;
    }
    mutable QImage decoded_;
    mutable bool done_ = false;
};

// A metafile, enhanced or Windows (played as the enhanced metafile it
// translates to), drawn at the size it is shown, so it stays sharp at any size.
class EmfHandler : public FileHandler {
  public:
    EmfHandler() : FileHandler("kadrelo-emf") {}
    Measured Measure(const QByteArray& data) const override {
        const auto header = ReadEmfHeader(Enhanced(data));
        return {header ? EmfNaturalSize(*header) : QSize(), {}};
    }
    QImage Decode(const QByteArray& data, QSize scaled) const override {
        return RenderEmf(Enhanced(data), scaled.isEmpty() ? Measure(data).stored : scaled);
    }

  private:
    const QByteArray& Enhanced(const QByteArray& data) const {
        if (!LooksLikeWmf(data)) return data;
        if (translated_.isEmpty()) translated_ = WmfToEmf(data).value_or(QByteArray());
        return translated_;
    }
    mutable QByteArray translated_;
};

// Decoded by libjpeg at the smallest of its scales that covers the shown size.
class JpegHandler : public FileHandler {
  public:
    JpegHandler() : FileHandler("kadrelo-jpeg") {}
    Measured Measure(const QByteArray& data) const override {
        const std::optional<JpegInfo> info = ReadJpegInfo(data);
        return info ? Measured{info->stored, info->orientation} : Measured{};
    }
    QImage Decode(const QByteArray& data, QSize scaled) const override {
        return DecodeJpeg(data, scaled);
    }
};

}  // namespace

QByteArray OwnFormatOf(QByteArrayView data) {
    if (IsBmpFile(data)) return "kadrelo-bmp";
    if (IsIconFile(data)) return "kadrelo-ico";
    if (LooksLikeEmf(data) || LooksLikeWmf(data)) return "kadrelo-emf";
    if (IsJpegFile(data)) return "kadrelo-jpeg";
    if (IsPngFile(data)) return "kadrelo-png";
    if (IsGifFile(data)) return "kadrelo-gif";
    if (IsTiffFile(data)) return "kadrelo-tiff";
    if (IsWebpFile(data)) return "kadrelo-webp";
    return {};
}

QImageIOPlugin::Capabilities PicturesPlugin::capabilities(QIODevice*,
                                                          const QByteArray& format) const {
    return format.startsWith("kadrelo-") ? CanRead : Capabilities();
}

QImageIOHandler* PicturesPlugin::create(QIODevice* device, const QByteArray& format) const {
    QImageIOHandler* handler = nullptr;
    if (format == "kadrelo-bmp") handler = new BmpHandler;
    if (format == "kadrelo-ico") handler = new IconHandler;
    if (format == "kadrelo-emf") handler = new EmfHandler;
    if (format == "kadrelo-jpeg") handler = new JpegHandler;
    if (format == "kadrelo-png") handler = new LibraryHandler<PngSize, DecodePng>(format);
    if (format == "kadrelo-gif") handler = new LibraryHandler<GifSize, DecodeGif>(format);
    if (format == "kadrelo-tiff") handler = new LibraryHandler<TiffSize, DecodeTiff>(format);
    if (format == "kadrelo-webp") handler = new LibraryHandler<WebpSize, DecodeWebp>(format);
    if (handler) {
        handler->setDevice(device);
        handler->setFormat(format);
    }
    return handler;
}
