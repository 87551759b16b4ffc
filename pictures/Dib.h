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

// Decodes the pixel bits. Null when the header describes nothing decodable,
// or more than 2^26 pixels (pictures inside icons and metafiles).
QImage DecodeDibBits(const DibHeader& header, QByteArrayView bits);

// Uncompressed bits (plain or bit fields; with fewer than 16 bits a pixel the
// bit-fields number means OS/2 Huffman coding, which is not decoded), which can
// be decoded row by row.
bool DibIsPlain(const DibHeader& header);
// Whether uncompressed bits of this many bytes fill at least half the picture:
// a header that claims much more than its data lies, and is refused.
bool DibDataSuffices(const DibHeader& header, qint64 bytes);
// One row of uncompressed bits, header.width pixels, as ARGB32.
void DecodeDibRow(const DibHeader& header, const uchar* row, QRgb* out, bool useAlpha);
// True when the picture has no alpha channel, or every alpha value is zero:
// writers that leave the alpha bytes zero mean an opaque picture.
bool DibAlphaSaysNothing(const DibHeader& header, QByteArrayView bits);

// The bytes of one uncompressed row.
qint64 DibStride(int width, int bitCount);
