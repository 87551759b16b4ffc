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
// still covers atLeast (in the stored orientation); the whole picture when
// atLeast is empty. Nothing for colour spaces it leaves to Qt (CMYK).
std::optional<QImage> DecodeJpeg(const QByteArray& data, QSize atLeast);
