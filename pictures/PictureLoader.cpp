#include "pictures/PictureLoader.h"

#include "pictures/PicturesPlugin.h"
#include "pictures/Scaling.h"
#include "platform/LargeMemory.h"

#include <fcntl.h>
#include <unistd.h>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>
#include <QtPlugin>
#include <cerrno>

// The program's own decoders are a static image-format plugin.
Q_IMPORT_PLUGIN(PicturesPlugin)

namespace {

constexpr qint64 kMaxFileSize = qint64(1) << 30;
constexpr qint64 kKeptBufferSize = qint64(64) << 20;
constexpr qint64 kSmallFileSize = qint64(1) << 20;

QSize Transposed(QSize s) {
    return QSize(s.height(), s.width());
}

Picture Failed(LoadError error) {
    Picture picture;
    picture.error = error;
    return picture;
}

// Why Qt's reader failed, where no decoder of ours said.
LoadError ReaderError(const QImageReader& reader, const QBuffer& buffer, QSize natural) {
    switch (reader.error()) {
        case QImageReader::UnsupportedFormatError:
            return {LoadError::UnknownFormat, -1, {}, 0};
        case QImageReader::InvalidDataError:
            if (natural.isValid() &&
                qint64(natural.width()) * natural.height() * 4 > kMaxWholeDecodeBytes)
                return {LoadError::TooLarge, -1, natural, 0};
            return {LoadError::Damaged, buffer.pos(), {}, 0};
        default:
            return {LoadError::Damaged, -1, {}, 0};
    }
}

// The size a picture is read at, the scaled size applying before the
// rotation; nothing when the picture is too large for any display.
std::optional<QSize> ScaledSizeFor(QSize natural, bool turned, QSize displaySize) {
    const std::optional<QSize> output = PlanDecode(natural, displaySize);
    if (!output) return std::nullopt;
    return turned ? Transposed(*output) : *output;
}

// As QImageReader's automatic transformation: mirrored or flipped first, then
// turned a quarter clockwise.
QImage Oriented(QImage image, QImageIOHandler::Transformations t) {
    if (t == QImageIOHandler::TransformationNone || image.isNull()) return image;
    image = image.mirrored(t & QImageIOHandler::TransformationMirror,
                           t & QImageIOHandler::TransformationFlip);
    if (t & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

// One reading by the program's own handler, asked for directly: Qt's reader
// would let another plugin that recognises the content (GIF) take it.
Picture ReadOwn(const QByteArray& data, const QByteArray& format, QSize displaySize) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    const std::unique_ptr<QImageIOHandler> handler(PicturesPlugin().create(&buffer, format));
    const QSize stored = handler->option(QImageIOHandler::Size).toSize();
    const auto orientation = QImageIOHandler::Transformations(
        handler->option(QImageIOHandler::ImageTransformation).toInt());
    const bool turned = orientation & QImageIOHandler::TransformationRotate90;
    Picture picture;
    picture.naturalSize = turned ? Transposed(stored) : stored;
    if (stored.isValid()) {
        const std::optional<QSize> scaled = ScaledSizeFor(picture.naturalSize, turned, displaySize);
        if (!scaled) return Failed({LoadError::TooLarge, -1, picture.naturalSize, 0});
        if (*scaled != stored) handler->setOption(QImageIOHandler::ScaledSize, *scaled);
    }
    QImage image;
    if (!handler->read(&image)) return Failed({LoadError::Damaged, -1, {}, 0});
    picture.image = Oriented(std::move(image), orientation);
    if (!picture.naturalSize.isValid()) picture.naturalSize = picture.image.size();
    return picture;
}

// One reading by Qt's handlers, the format decided by content.
Picture ReadByQt(const QByteArray& data, const QByteArray& format, QSize displaySize) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(format.isEmpty());
    reader.setAutoTransform(true);
    reader.setAllocationLimit(int(kMaxWholeDecodeBytes >> 20));
    const QSize stored = reader.size();
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize natural = turned ? Transposed(stored) : stored;
    if (stored.isValid()) {
        const std::optional<QSize> scaled = ScaledSizeFor(natural, turned, displaySize);
        if (!scaled) return Failed({LoadError::TooLarge, -1, natural, 0});
        if (*scaled != stored) reader.setScaledSize(*scaled);
    }
    Picture picture;
    picture.naturalSize = natural;
    picture.image = reader.read();
    if (picture.image.isNull()) return Failed(ReaderError(reader, buffer, natural));
    if (!picture.naturalSize.isValid()) picture.naturalSize = picture.image.size();
    return picture;
}

QImage ForDisplay(QImage image) {
    if (image.isNull()) return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

// Qt's own handler for a format one of ours reads first.
QByteArray QtFormatFor(const QByteArray& own) {
    for (const char* format : {"jpeg", "png", "gif", "tiff", "webp"})
        if (own == QByteArray("kadrelo-") + format) return format;
    return {};
}

bool Shown(QSize displaySize) {
    return !displaySize.isEmpty() &&
           qint64(displaySize.width()) * displaySize.height() <= kMaxDisplayPixels;
}

Picture LoadWithin(const QByteArray& data, QSize displaySize) {
    if (data.isEmpty()) return Failed({LoadError::UnknownFormat, -1, {}, 0});
    const QByteArray own = OwnFormatOf(data);
    Picture picture =
        own.isEmpty() ? ReadByQt(data, {}, displaySize) : ReadOwn(data, own, displaySize);
    // What a library leaves aside (16-bit CMYK TIFF, say), Qt's reader of the
    // same format may still read, within the whole-decode limit.
    if (picture.isNull() && picture.error.kind != LoadError::TooLarge && !DecodeCancelled()) {
        const QByteArray qts = QtFormatFor(own);
        if (!qts.isEmpty()) {
            Picture second = ReadByQt(data, qts, displaySize);
            if (!second.isNull()) picture = std::move(second);
        }
    }
    if (picture.isNull()) return picture;
    if (Shown(displaySize)) picture.image = ScaledSmoothly(picture.image, displaySize);
    picture.image = ForDisplay(std::move(picture.image));
    if (picture.isNull()) return Failed({LoadError::TooLarge, -1, picture.naturalSize, 0});
    return picture;
}

// Reads the whole file, refusing what is not a regular file (a pipe or a
// device could block or never end).
LoadError ReadFile(const QString& path, QByteArray& small, std::unique_ptr<LargeBlock>& block,
                   QByteArray& data) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) return {LoadError::Missing, -1, {}, 0};
    if (!info.isFile()) return {LoadError::NotAFile, -1, {}, 0};
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {LoadError::Unreadable, -1, {}, errno};
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (file.size() > kMaxFileSize) return {LoadError::TooLarge, -1, {}, 0};
    // One read into memory that each thread keeps: fresh memory for every
    // picture costs more here than the read itself. Large files go to huge
    // pages, small ones to the ordinary heap.
    char* into = nullptr;
    if (file.size() < kSmallFileSize) {
        small.resize(file.size());
        into = small.data();
    } else {
        if (!block || block->size() < size_t(file.size()))
            block = std::make_unique<LargeBlock>(size_t(file.size()));
        if (!block->data()) return {LoadError::TooLarge, -1, {}, 0};
        into = reinterpret_cast<char*>(block->data());
    }
    const qint64 size = file.read(into, file.size());
    if (size < 0) return {LoadError::Unreadable, -1, {}, EIO};
    data = QByteArray::fromRawData(into, size);
    return {};
}

}  // namespace

Picture LoadPictureFromData(const QByteArray& data, QSize displaySize,
                            const std::atomic<bool>* cancel) {
    DecodeScope scope(cancel);
    Picture picture = LoadWithin(data, displaySize);
    if (picture.isNull() && scope.Error().kind != LoadError::None) picture.error = scope.Error();
    if (picture.isNull() && picture.error.kind == LoadError::None)
        picture.error = {LoadError::Damaged, -1, {}, 0};
    return picture;
}

Picture LoadPicture(const QString& path, QSize displaySize, const std::atomic<bool>* cancel) {
    thread_local QByteArray small;
    thread_local std::unique_ptr<LargeBlock> block;
    QByteArray data;
    const LoadError error = ReadFile(path, small, block, data);
    if (error.kind != LoadError::None) return Failed(error);
    Picture picture = LoadPictureFromData(data, displaySize, cancel);
    if (block && block->size() > size_t(kKeptBufferSize))
        block.reset();  // do not hold on to huge files
    return picture;
}

QSize MeasurePicture(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return {};
    // Qt's handlers read only the header; the program's own read the file.
    const QSize fromHeader = QImageReader(&file).size();
    if (fromHeader.isValid() || !file.seek(0)) return fromHeader;
    return QImageReader(&file, OwnFormatOf(file.peek(128))).size();
}
