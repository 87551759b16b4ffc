// PNG decoding through libpng, row by row into an area-averaging scaler, so
// that a picture far larger than the screen costs only the picture it is shown
// as. Colour profiles (iCCP, or cHRM with gAMA) are applied; sRGB is as is.
#pragma once

#include <QByteArray>
#include <QImage>
#include <optional>

bool IsPngFile(QByteArrayView data);

// The size from the header; nothing when there is no valid header.
std::optional<QSize> PngSize(const QByteArray& data);

// The picture at output size (averaged down when that is smaller, else at its
// own size for the caller to enlarge). The null image when the file is
// damaged before any row; a file cut short later keeps what was decoded.
QImage DecodePng(const QByteArray& data, QSize output);
