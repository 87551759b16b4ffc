#include "pictures/PictureLoader.h"

#include "pictures/Dib.h"
#include "pictures/EmfPlayer.h"
#include "pictures/JpegDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

namespace {

constexpr int kAllocationLimitMb = 2048;
constexpr qint64 kMaxFileSize = qint64(1) << 30;
constexpr qint64 kKeptBufferSize = qint64(64) << 20;
constexpr qint64 kMaxDisplayPixels = qint64(4096) * 4096;

bool StartsWith(const QByteArray& data, QByteArrayView magic) {
    return data.startsWith(magic);
}

bool IsIcon(const QByteArray& d) {
    return d.size() >= 22 && (StartsWith(d, QByteArrayView("\0\0\1\0", 4)) ||
                              StartsWith(d, QByteArrayView("\0\0\2\0", 4)));
}

// ---- BMP -----------------------------------------------------------------

QImage DecodeBmp(const QByteArray& data) {
    if (data.size() < 14 + 12) return {};
    const QByteArrayView view(data);
    const auto header = ParseDibHeader(view.sliced(14));
    if (!header) return {};
    qint64 bitsAt = qFromLittleEndian<uint32_t>(data.constData() + 10);
    if (bitsAt < 14 + 12 || bitsAt > data.size()) bitsAt = 14 + header->size;
    return DecodeDibBits(*header, view.sliced(std::min<qint64>(bitsAt, data.size())));
}

// ---- ICO -----------------------------------------------------------------

struct IconEntry {
    QByteArrayView data;
    qint64 pixels = 0;
    int depth = 0;
};

bool IsPng(QByteArrayView d) {
    return d.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8));
}

// Size and depth from the entry's own image, which is more reliable than the directory.
void MeasureEntry(IconEntry& e, const uchar* dir) {
    const int dirWidth = dir[0] ? dir[0] : 256, dirHeight = dir[1] ? dir[1] : 256;
    e.pixels = qint64(dirWidth) * dirHeight;
    e.depth = qFromLittleEndian<uint16_t>(dir + 6);
    if (IsPng(e.data) && e.data.size() >= 26) {
        // PNG allows sides up to 2^31; anything that large only needs to rank first.
        const qint64 side = qint64(1) << 24;
        e.pixels = std::min<qint64>(qFromBigEndian<uint32_t>(e.data.data() + 16), side) *
                   std::min<qint64>(qFromBigEndian<uint32_t>(e.data.data() + 20), side);
        const int channels[] = {1, 0, 3, 1, 2, 0, 4};
        const int type = uchar(e.data[25]);
        if (e.depth == 0) e.depth = uchar(e.data[24]) * (type < 7 ? channels[type] : 1);
    } else if (const auto h = ParseDibHeader(e.data, true)) {
        e.pixels = qint64(h->width) * h->height;
        e.depth = h->bitCount;
    }
}

QImage DecodeIconDib(QByteArrayView data) {
    const auto h = ParseDibHeader(data, true);
    if (!h) return {};
    const QByteArrayView bits = data.sliced(std::min<qint64>(h->size, data.size()));
    QImage image = DecodeDibBits(*h, bits).convertToFormat(QImage::Format_ARGB32);
    if (image.isNull() || (h->bitCount == 32 && h->masks[3] != 0)) return image;
    // Below 32 bits (or with no alpha), the AND mask after the colour bits says
    // which pixels are transparent.
    const qint64 xorSize = DibStride(h->width, h->bitCount) * h->height;
    const qint64 maskStride = DibStride(h->width, 1);
    for (int r = 0; r < h->height; ++r) {
        const qint64 at = xorSize + r * maskStride;
        if (at + maskStride > bits.size()) break;
        const uchar* mask = reinterpret_cast<const uchar*>(bits.data() + at);
        QRgb* out = reinterpret_cast<QRgb*>(image.scanLine(h->topDown ? r : h->height - 1 - r));
        for (int x = 0; x < h->width; ++x)
            if ((mask[x >> 3] >> (7 - (x & 7))) & 1) out[x] = 0;
    }
    return image;
}

QImage DecodeIcon(const QByteArray& data) {
    const int count = qFromLittleEndian<uint16_t>(data.constData() + 4);
    QVector<IconEntry> entries;
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= data.size(); ++i) {
        const uchar* dir = reinterpret_cast<const uchar*>(data.constData()) + 6 + 16 * i;
        const quint32 size = qFromLittleEndian<uint32_t>(dir + 8);
        const quint32 offset = qFromLittleEndian<uint32_t>(dir + 12);
        if (offset >= quint32(data.size())) continue;
        IconEntry e;
        e.data = QByteArrayView(data).sliced(offset, std::min<qint64>(size, data.size() - offset));
        MeasureEntry(e, dir);
        entries.append(e);
    }
    // Largest first; among equal sizes, the deepest.
    std::stable_sort(entries.begin(), entries.end(), [](const IconEntry& a, const IconEntry& b) {
        return a.pixels != b.pixels ? a.pixels > b.pixels : a.depth > b.depth;
    });
    for (const IconEntry& e : entries) {
        QImage image = IsPng(e.data) ? QImage::fromData(e.data) : DecodeIconDib(e.data);
        if (!image.isNull()) return image;
    }
    return {};
}

// ---- everything else, through Qt ---------------------------------------

QSize Transposed(QSize s) {
    return QSize(s.height(), s.width());
}

Picture DecodeWithQt(const QByteArray& data, QSize displaySize) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
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

bool IsJpeg(const QByteArray& d) {
    return d.startsWith(QByteArrayView("\xff\xd8\xff", 3));
}

QImageIOHandler::Transformations OrientationOf(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    return reader.transformation();
}

// Mirror and flip first, then a quarter turn clockwise: the EXIF orientations.
QImage Oriented(QImage image, QImageIOHandler::Transformations t) {
    if (t & (QImageIOHandler::TransformationMirror | QImageIOHandler::TransformationFlip))
        image = image.mirrored(t & QImageIOHandler::TransformationMirror,
                               t & QImageIOHandler::TransformationFlip);
    if (t & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

std::optional<Picture> DecodeJpegPicture(const QByteArray& data, QSize displaySize) {
    const QImageIOHandler::Transformations orientation = OrientationOf(data);
    const bool turned = orientation & QImageIOHandler::TransformationRotate90;
    QSize stored;
    std::optional<QImage> image =
        DecodeJpeg(data, turned ? Transposed(displaySize) : displaySize, &stored);
    if (!image) return std::nullopt;
    return Picture{Oriented(std::move(*image), orientation), turned ? Transposed(stored) : stored};
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
    Picture picture;
    if (const auto emf = ReadEmfHeader(data)) {
        // Drawn at the size it is shown, so it stays sharp at any size.
        picture.naturalSize = EmfNaturalSize(*emf);
        picture.image = RenderEmf(data, displaySize.isEmpty() ? picture.naturalSize : displaySize);
        return picture.isNull() ? Picture{} : picture;
    }
    if (StartsWith(data, "BM") || IsIcon(data)) {
        picture.image = StartsWith(data, "BM") ? DecodeBmp(data) : DecodeIcon(data);
        picture.naturalSize = picture.image.size();
    } else if (auto jpeg = IsJpeg(data) ? DecodeJpegPicture(data, displaySize) : std::nullopt) {
        picture = std::move(*jpeg);
    } else {
        picture = DecodeWithQt(data, displaySize);
    }
    if (picture.isNull()) return {};
    if (!displaySize.isEmpty() && picture.image.size() != displaySize)
        picture.image =
            picture.image.scaled(displaySize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.image = ForDisplay(std::move(picture.image));
    return picture;
}

Picture LoadPicture(const QString& path, QSize displaySize) {
    // Only regular files: a pipe or a device could block or never end.
    if (path.isEmpty() || !QFileInfo(path).isFile()) return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return {};
    // One read into a buffer that each thread keeps: fresh memory for every
    // picture costs more here than the read itself.
    thread_local QByteArray buffer;
    if (buffer.capacity() < file.size()) buffer.reserve(file.size());
    buffer.resize(file.size());
    const qint64 got = file.read(buffer.data(), buffer.size());
    if (got < 0) return {};
    buffer.resize(got);
    Picture picture = LoadPictureFromData(buffer, displaySize);
    if (buffer.capacity() > kKeptBufferSize) buffer = QByteArray();  // do not hold on to huge files
    return picture;
}
