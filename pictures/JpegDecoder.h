// JPEG decoding through libjpeg directly, at a reduced size when the picture
// will be shown smaller: the decoder scales in the frequency domain, which
// costs a fraction of a full decode.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <optional>

struct JpegInfo {
    QSize stored;  // as stored, before the orientation is applied
    QImageIOHandler::Transformations orientation = QImageIOHandler::TransformationNone;
};

bool IsJpegFile(QByteArrayView data);

// The stored size and the EXIF orientation, from the header and its markers
// only; nothing when the file is not a JPEG that libjpeg can read.
std::optional<JpegInfo> ReadJpegInfo(const QByteArray& data);

// Decodes at the smallest of libjpeg's sizes (n/8 of the stored size) that
// still covers output (in the stored orientation), averaged down to output
// row by row; the whole picture when output is empty. CMYK and YCCK pictures
// are converted through their ICC profile, RGB and grey ones to sRGB when
// their profile says another colour space. A picture cut short keeps the rows
// that came (the rest black); one damaged before any row is the null image.
QImage DecodeJpeg(const QByteArray& data, QSize output);
