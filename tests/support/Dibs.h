// Device-independent bitmaps made by hand, for the BMP and metafile tests.
#pragma once

#include <QByteArray>
#include <QRgb>
#include <QVector>
#include <QtEndian>

// A bottom-up 8-bit BITMAPINFOHEADER followed by its colour table.
inline QByteArray DibInfo8(int w, int h, uint32_t compression, const QVector<QRgb>& palette) {
    QByteArray info(40, '\0');
    qToLittleEndian<uint32_t>(40, info.data());
    qToLittleEndian<int32_t>(w, info.data() + 4);
    qToLittleEndian<int32_t>(h, info.data() + 8);
    qToLittleEndian<uint16_t>(1, info.data() + 12);
    qToLittleEndian<uint16_t>(8, info.data() + 14);
    qToLittleEndian<uint32_t>(compression, info.data() + 16);
    qToLittleEndian<uint32_t>(palette.size(), info.data() + 32);
    for (QRgb c : palette) {
        const char entry[4] = {char(qBlue(c)), char(qGreen(c)), char(qRed(c)), 0};
        info.append(entry, 4);
    }
    return info;
}
