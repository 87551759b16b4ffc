// JPEG decoding through libjpeg directly, at a reduced size when the picture
// will be shown smaller: the decoder scales in the frequency domain, which
// costs a fraction of a full decode.
#pragma once

#include <QByteArray>
#include <QImage>
#include <optional>

// Decodes at the smallest of libjpeg's sizes (n/8 of the stored size) that
// still covers atLeast (in the stored orientation); the whole picture when
// atLeast is empty. Nothing for colour spaces it leaves to Qt (CMYK).
std::optional<QImage> DecodeJpeg(const QByteArray& data, QSize atLeast, QSize* storedSize);
