#include "pictures/BitmapFiles.h"

#include "pictures/AreaScaler.h"
#include "pictures/DecodeGate.h"
#include "pictures/Dib.h"
#include "pictures/PngDecoder.h"

#include <QtEndian>
#include <algorithm>
#include <optional>
#include <vector>

namespace {

// ---- BMP -----------------------------------------------------------------

std::optional<DibHeader> BmpHeader(const QByteArray& data) {
    if (data.size() < 14 + 12) return std::nullopt;
    return ParseDibHeader(QByteArrayView(data).sliced(14));
}

// Uncompressed rows go one by one into the scaler: a bitmap of any size costs
// only the picture it is shown as. Rows the data does not reach stay black.
QImage DecodePlainRows(const DibHeader& h, QByteArrayView bits, QSize output) {
    const QSize own(h.width, h.height);
    if (!DibDataSuffices(h, bits.size())) {
        ReportDamage(14 + 40);
        return {};
    }
    const bool alpha = !DibAlphaSaysNothing(h, bits);
    AreaScaler scaler(own, AreaScaler::TargetFor(own, output), alpha);
    if (!scaler.Ready()) return {};
    const qint64 stride = DibStride(h.width, h.bitCount);
    const qint64 rows = std::min<qint64>(h.height, stride ? bits.size() / stride : 0);
    std::vector<QRgb> row(size_t(h.width));
    for (qint64 r = 0; r < rows; ++r) {
        if (DecodeCancelled()) return {};
        DecodeDibRow(h, reinterpret_cast<const uchar*>(bits.data() + r * stride), row.data(),
                     alpha);
        if (alpha)
            for (QRgb& p : row) p = qPremultiply(p);
        scaler.AddRow(int(h.topDown ? r : h.height - 1 - r), row.data());
    }
    return scaler.Take();
}

}  // namespace

bool IsBmpFile(QByteArrayView data) {
    return data.startsWith("BM");
}

bool IsIconFile(QByteArrayView d) {
    return d.size() >= 22 && (d.startsWith(QByteArrayView("\0\0\1\0", 4)) ||
                              d.startsWith(QByteArrayView("\0\0\2\0", 4)));
}

QSize BmpSize(const QByteArray& data) {
    const auto header = BmpHeader(data);
    return header ? QSize(header->width, header->height) : QSize();
}

QImage DecodeBmp(const QByteArray& data, QSize output) {
    const auto header = BmpHeader(data);
    if (!header) {
        ReportDamage(14);
        return {};
    }
    const QByteArrayView view(data);
    qint64 bitsAt = qFromLittleEndian<uint32_t>(data.constData() + 10);
    if (bitsAt < 14 + 12 || bitsAt > data.size()) bitsAt = 14 + header->size;
    const QByteArrayView bits = view.sliced(std::min<qint64>(bitsAt, data.size()));
    if (!DibIsPlain(*header)) {
        QImage image = DecodeDibBits(*header, bits);
        if (image.isNull()) ReportDamage(14);
        return image;
    }
    return DecodePlainRows(*header, bits, output);
}

// ---- ICO -----------------------------------------------------------------

namespace {

struct IconEntry {
    QByteArrayView data;
    qint64 pixels = 0;
    int depth = 0;
};

// A PNG entry, at most as large as a picture is kept at its own size.
QImage DecodeIconPng(QByteArrayView data) {
    const QByteArray bytes = QByteArray::fromRawData(data.data(), data.size());
    const std::optional<QSize> own = PngSize(bytes);
    const std::optional<QSize> output = own ? PlanDecode(*own, QSize()) : std::nullopt;
    return output ? DecodePng(bytes, *output) : QImage();
}

// Size and depth from the entry's own image, which is more reliable than the directory.
void MeasureEntry(IconEntry& e, const uchar* dir) {
    const int dirWidth = dir[0] ? dir[0] : 256, dirHeight = dir[1] ? dir[1] : 256;
    e.pixels = qint64(dirWidth) * dirHeight;
    e.depth = qFromLittleEndian<uint16_t>(dir + 6);
    if (IsPngFile(e.data) && e.data.size() >= 26) {
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
    std::optional<DibHeader> h = ParseDibHeader(data, true);
    if (!h) return {};
    // A 32-bit entry keeps its alpha in the fourth byte of each pixel.
    if (h->bitCount == 32 && h->masks[3] == 0) h->masks[3] = 0xFF000000u;
    const QByteArrayView bits = data.sliced(std::min<qint64>(h->size, data.size()));
    QImage decoded = DecodeDibBits(*h, bits);
    // An entry whose alpha says something needs no mask (an all-zero alpha comes back opaque).
    if (decoded.isNull() || decoded.hasAlphaChannel()) return decoded;
    QImage image = decoded.convertToFormat(QImage::Format_ARGB32);
    // Otherwise the AND mask after the colour bits says which pixels are transparent.
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

}  // namespace

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
        QImage image = IsPngFile(e.data) ? DecodeIconPng(e.data) : DecodeIconDib(e.data);
        if (!image.isNull()) return image;
    }
    return {};
}
