#include "pictures/Dib.h"

#include <QtEndian>
#include <bit>

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kJpeg = 4, kPng = 5,
                   kAlphaBitfields = 6;
constexpr qint64 kMaxDibPixels = qint64(1) << 26;
constexpr uint32_t kLargestHeader = 256;  // BITMAPV5HEADER is 124 bytes

uint32_t U32(QByteArrayView d, qint64 at) {
    return qFromLittleEndian<uint32_t>(d.data() + at);
}
int32_t I32(QByteArrayView d, qint64 at) {
    return qFromLittleEndian<int32_t>(d.data() + at);
}
uint16_t U16(QByteArrayView d, qint64 at) {
    return qFromLittleEndian<uint16_t>(d.data() + at);
}

// Scales a masked channel value to 0..255.
int Channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t max = mask >> shift;
    const uint32_t v = (pixel & mask) >> shift;
    return int((v * 255 + max / 2) / max);
}

void ReadPalette(DibHeader& h, QByteArrayView data, qint64 at, int entrySize, int count) {
    h.palette.fill(qRgb(0, 0, 0), count);
    for (int i = 0; i < count && at + entrySize <= data.size(); ++i, at += entrySize) {
        const uchar* p = reinterpret_cast<const uchar*>(data.data() + at);
        h.palette[i] = qRgb(p[2], p[1], p[0]);
    }
}

void DefaultMasks(DibHeader& h) {
    if (h.bitCount == 16) {
        h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
    } else {
        h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
    }
}

QRgb PaletteColor(const DibHeader& h, int index) {
    return index < h.palette.size() ? h.palette[index] : qRgb(0, 0, 0);
}

QRgb PixelAt(const DibHeader& h, const uchar* row, int x, bool useAlpha) {
    switch (h.bitCount) {
        case 1:
            return PaletteColor(h, (row[x >> 3] >> (7 - (x & 7))) & 1);
        case 4:
            return PaletteColor(h, (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF);
        case 8:
            return PaletteColor(h, row[x]);
        case 24:
            return qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        default: {
            const uint32_t p = h.bitCount == 16 ? qFromLittleEndian<uint16_t>(row + 2 * x)
                                                : qFromLittleEndian<uint32_t>(row + 4 * x);
            const int a = useAlpha ? Channel(p, h.masks[3]) : 255;
            return qRgba(Channel(p, h.masks[0]), Channel(p, h.masks[1]), Channel(p, h.masks[2]), a);
        }
    }
}

int ImageRow(const DibHeader& h, int fileRow) {
    return h.topDown ? fileRow : h.height - 1 - fileRow;
}

void DecodeUncompressed(const DibHeader& h, QByteArrayView bits, QImage& image, bool useAlpha) {
    const qint64 stride = DibStride(h.width, h.bitCount);
    const qint64 rows = std::min<qint64>(h.height, stride ? bits.size() / stride : 0);
    for (int r = 0; r < rows; ++r) {
        const uchar* row = reinterpret_cast<const uchar*>(bits.data() + r * stride);
        DecodeDibRow(h, row, reinterpret_cast<QRgb*>(image.scanLine(ImageRow(h, r))), useAlpha);
    }
}

// Run-length bits: a count and a colour, or an escape (end of line, end of
// bitmap, move, or a run of literal pixels). Pixels the runs skip stay black.
void DecodeRle(const DibHeader& h, QByteArrayView bits, QImage& image) {
    const bool four = h.compression == kRle4;
    const uchar* p = reinterpret_cast<const uchar*>(bits.data());
    const uchar* end = p + bits.size();
    int x = 0, y = 0;
    auto put = [&](int index) {
        if (x < h.width && y < h.height)
            reinterpret_cast<QRgb*>(image.scanLine(ImageRow(h, y)))[x] = PaletteColor(h, index);
        ++x;
    };
    while (end - p >= 2 && y < h.height) {
        const int count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(four ? ((i & 1) ? value & 0xF : value >> 4) : value);
        } else if (value == 0) {
            x = 0, ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (end - p < 2) break;
            x += p[0], y += p[1];
            p += 2;
        } else {
            const qint64 bytes = four ? (value + 1) / 2 : value;
            const qint64 padded = (bytes + 1) & ~qint64(1);
            if (end - p < bytes) break;
            for (int i = 0; i < value; ++i)
                put(four ? ((i & 1) ? p[i / 2] & 0xF : p[i / 2] >> 4) : p[i]);
            p += std::min<qint64>(padded, end - p);
        }
    }
}

// Writers that leave the alpha bytes zero mean an opaque picture.
bool AllTransparent(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) != 0) return false;
    }
    return true;
}

QImage OpaqueCopy(const QImage& image) {
    QImage opaque = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < opaque.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(opaque.scanLine(y));
        for (int x = 0; x < opaque.width(); ++x) row[x] |= 0xFF000000u;
    }
    return opaque;
}

// How many pixels the data can fill, with room for a file cut short: plain
// bits must be at least half there; a run fills at most 255 pixels from two
// bytes. A header that claims more lies, and nothing is allocated for it.
qint64 FillablePixels(const DibHeader& h, qint64 bytes, bool rle) {
    constexpr qint64 kSmall = 1 << 16;
    if (rle) return kSmall + bytes * 128;
    return kSmall + 2 * bytes * 8 / h.bitCount;
}

bool SupportedBitCount(int b) {
    return b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32;
}

}  // namespace

qint64 DibStride(int width, int bitCount) {
    return ((qint64(width) * bitCount + 31) / 32) * 4;
}

std::optional<DibHeader> ParseDibHeader(QByteArrayView data, bool halfHeight) {
    if (data.size() < 12) return std::nullopt;
    DibHeader h;
    const uint32_t headerSize = U32(data, 0);
    int32_t height = 0;
    uint32_t colorsUsed = 0;
    if (headerSize == 12) {
        h.width = U16(data, 4);
        height = int16_t(U16(data, 6));
        h.bitCount = U16(data, 10);
    } else if (headerSize >= 40 && headerSize <= kLargestHeader && data.size() >= 40) {
        h.width = I32(data, 4);
        height = I32(data, 8);
        h.bitCount = U16(data, 14);
        h.compression = U32(data, 16);
        colorsUsed = U32(data, 32);
    } else {
        return std::nullopt;
    }
    h.topDown = height < 0;
    h.height = int(std::min<qint64>(std::abs(qint64(height)), INT32_MAX));
    if (halfHeight) h.height /= 2;
    if (h.width <= 0 || h.height <= 0) return std::nullopt;
    if (h.compression == kJpeg || h.compression == kPng) {
        h.size = headerSize;
        return h;
    }
    if (!SupportedBitCount(h.bitCount)) return std::nullopt;

    qint64 at = headerSize;
    DefaultMasks(h);
    if (h.compression == kBitfields || h.compression == kAlphaBitfields) {
        if (headerSize >= 52 && data.size() >= 56) {
            for (int i = 0; i < (headerSize >= 56 ? 4 : 3); ++i) h.masks[i] = U32(data, 40 + 4 * i);
        } else {
            const int n = h.compression == kAlphaBitfields ? 4 : 3;
            for (int i = 0; i < n && at + 4 <= data.size(); ++i, at += 4)
                h.masks[i] = U32(data, at);
        }
    } else if (headerSize >= 56 && data.size() >= 56 && h.bitCount == 32) {
        h.masks[3] = U32(data, 52);  // the alpha mask of a V4 or V5 header
    }
    if (h.bitCount <= 8) {
        const int maxColors = 1 << h.bitCount;
        const int count =
            (colorsUsed == 0 || colorsUsed > uint32_t(maxColors)) ? maxColors : int(colorsUsed);
        const int entrySize = headerSize == 12 ? 3 : 4;
        ReadPalette(h, data, at, entrySize, count);
        at += qint64(count) * entrySize;
    }
    h.size = at;
    return h;
}

void DecodeDibRow(const DibHeader& h, const uchar* row, QRgb* out, bool useAlpha) {
    for (int x = 0; x < h.width; ++x) out[x] = PixelAt(h, row, x, useAlpha);
}

bool DibIsPlain(const DibHeader& h) {
    const bool fields = (h.compression == kBitfields || h.compression == kAlphaBitfields) &&
                        (h.bitCount == 16 || h.bitCount == 32);
    return h.compression == kRgb || fields;
}

bool DibDataSuffices(const DibHeader& h, qint64 bytes) {
    return qint64(h.width) * h.height <= FillablePixels(h, bytes, false);
}

bool DibAlphaSaysNothing(const DibHeader& h, QByteArrayView bits) {
    if (h.masks[3] == 0 || !DibIsPlain(h) || h.bitCount < 16) return true;
    const qint64 stride = DibStride(h.width, h.bitCount);
    const qint64 rows = std::min<qint64>(h.height, stride ? bits.size() / stride : 0);
    for (qint64 r = 0; r < rows; ++r) {
        const uchar* row = reinterpret_cast<const uchar*>(bits.data() + r * stride);
        for (int x = 0; x < h.width; ++x) {
            const uint32_t p = h.bitCount == 16 ? qFromLittleEndian<uint16_t>(row + 2 * x)
                                                : qFromLittleEndian<uint32_t>(row + 4 * x);
            if (p & h.masks[3]) return false;
        }
    }
    return true;
}

QImage DecodeDibBits(const DibHeader& h, QByteArrayView bits) {
    if (h.compression == kJpeg || h.compression == kPng) return QImage::fromData(bits);
    if (qint64(h.width) * h.height > kMaxDibPixels) return {};
    const bool rle =
        (h.compression == kRle8 && h.bitCount == 8) || (h.compression == kRle4 && h.bitCount == 4);
    if (!rle && !DibIsPlain(h)) return {};
    if (qint64(h.width) * h.height > FillablePixels(h, bits.size(), rle)) return {};
    const bool useAlpha = h.masks[3] != 0;
    QImage image(h.width, h.height, useAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) return {};
    image.fill(qRgb(0, 0, 0));
    if (rle)
        DecodeRle(h, bits, image);
    else
        DecodeUncompressed(h, bits, image, useAlpha);
    if (useAlpha && AllTransparent(image)) image = OpaqueCopy(image);
    return image;
}
