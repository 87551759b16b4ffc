#include "pictures/PictureLoader.h"

#include "pictures/PicturesPlugin.h"
#include "pictures/Scaling.h"
#include "platform/LargeMemory.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtPlugin>

// The program's own decoders are a static image-format plugin.
Q_IMPORT_PLUGIN(PicturesPlugin)

namespace {

constexpr int kAllocationLimitMb = 2048;
constexpr qint64 kMaxFileSize = qint64(1) << 30;
constexpr qint64 kKeptBufferSize = qint64(64) << 20;
constexpr qint64 kSmallFileSize = qint64(1) << 20;
constexpr qint64 kMaxDisplayPixels = qint64(4096) * 4096;

QSize Transposed(QSize s) {
    return QSize(s.height(), s.width());
}

// One reading: the program's own handler for the formats it decodes itself,
// Qt's for the rest (decided by content, whatever the name says).
Picture Read(const QByteArray& data, const QByteArray& format, QSize displaySize) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(format.isEmpty());
    reader.setAutoTransform(true);
    reader.setAllocationLimit(kAllocationLimitMb);
    const QSize stored = reader.size();
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    Picture picture;
    picture.naturalSize = turned ? Transposed(stored) : stored;
    // The scaled size applies before the rotation, so a turned picture asks for
    // the transposed size.
    if (!displaySize.isEmpty() && stored.isValid())
        reader.setScaledSize(turned ? Transposed(displaySize) : displaySize);
    picture.image = reader.read();
    if (!picture.image.isNull() && !picture.naturalSize.isValid())
        picture.naturalSize = picture.image.size();
    return picture;
}

QImage ForDisplay(QImage image) {
    if (image.isNull()) return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

}  // namespace

Picture LoadPictureFromData(const QByteArray& data, QSize displaySize) {
    // Larger than any screen: the picture comes at its own size and the control
    // scales only what is visible of it.
    if (qint64(displaySize.width()) * displaySize.height() > kMaxDisplayPixels)
        displaySize = QSize();
    const QByteArray own = OwnFormatOf(data);
    Picture picture = Read(data, own, displaySize);
    // libjpeg leaves some colour spaces (CMYK) to Qt's own reader.
    if (picture.isNull() && own == "kadrelo-jpeg") picture = Read(data, "jpeg", displaySize);
    if (picture.isNull()) return {};
    if (!displaySize.isEmpty()) picture.image = ScaledSmoothly(picture.image, displaySize);
    picture.image = ForDisplay(std::move(picture.image));
    return picture;
}

Picture LoadPicture(const QString& path, QSize displaySize) {
    // Only regular files: a pipe or a device could block or never end.
    if (path.isEmpty() || !QFileInfo(path).isFile()) return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return {};
    // One read into memory that each thread keeps: fresh memory for every
    // picture costs more here than the read itself. Large files go to huge
    // pages, small ones to the ordinary heap.
    if (file.size() < kSmallFileSize) {
        thread_local QByteArray small;
        small.resize(file.size());
        const qint64 got = file.read(small.data(), small.size());
        if (got < 0) return {};
        small.resize(got);
        return LoadPictureFromData(small, displaySize);
    }
    thread_local std::unique_ptr<LargeBlock> block;
    if (!block || block->size() < size_t(file.size()))
        block = std::make_unique<LargeBlock>(size_t(file.size()));
    if (!block->data()) return {};
    const qint64 got = file.read(reinterpret_cast<char*>(block->data()), file.size());
    if (got < 0) return {};
    Picture picture = LoadPictureFromData(
        QByteArray::fromRawData(reinterpret_cast<const char*>(block->data()), got), displaySize);
    if (block->size() > size_t(kKeptBufferSize)) block.reset();  // do not hold on to huge files
    return picture;
}
