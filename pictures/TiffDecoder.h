// TIFF decoding through libtiff, in bands of rows into the area-averaging
// scaler; the first page is shown, its ICC profile applied.
#pragma once

#include <QByteArray>
#include <QImage>
#include <optional>

bool IsTiffFile(QByteArrayView data);
std::optional<QSize> TiffSize(const QByteArray& data);
QImage DecodeTiff(const QByteArray& data, QSize output);
