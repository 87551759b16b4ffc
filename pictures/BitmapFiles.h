// Bitmap (.bmp) and icon (.ico) files, decoded by the program itself so that
// every pixel is defined: what a damaged file does not cover stays black (or
// transparent in icons).
#pragma once

#include <QByteArray>
#include <QImage>

bool IsBmpFile(QByteArrayView data);
bool IsIconFile(QByteArrayView data);

// The bitmap's own size from its header; empty when it has none.
QSize BmpSize(const QByteArray& data);
// At output size when that is smaller (uncompressed bitmaps are averaged down
// row by row), else at the bitmap's own size.
QImage DecodeBmp(const QByteArray& data, QSize output);
// The largest entry, and among equal sizes the deepest.
QImage DecodeIcon(const QByteArray& data);
