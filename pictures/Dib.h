// Device-independent bitmaps, as found in .bmp and .ico files (and metafiles).
// Every pixel of the result is defined: what the data does not cover stays black
// (or transparent in icons).
#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QVector>
#include <optional>

struct DibHeader {
    int width = 0;
    int height = 0;  // always positive; topDown tells the row order
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    QVector<QRgb> palette;
    qint64 size = 0;  // header, masks and colour table: where the bits start in a packed DIB
};

// Reads a BITMAPCOREHEADER, BITMAPINFOHEADER or a later header with its masks
// and colour table. halfHeight is for icons, whose height counts the mask too.
std::optional<DibHeader> ParseDibHeader(QByteArrayView data, bool halfHeight = false);

// Decodes the pixel bits. Null when the header describes nothing decodable.
QImage DecodeDibBits(const DibHeader& header, QByteArrayView bits);

// The bytes of one uncompressed row.
qint64 DibStride(int width, int bitCount);
