// GIF decoding through giflib, row by row into the area-averaging scaler; the
// first frame is shown on the picture's canvas (transparent where the frame
// does not reach).
#pragma once

#include <QByteArray>
#include <QImage>
#include <optional>

bool IsGifFile(QByteArrayView data);
std::optional<QSize> GifSize(const QByteArray& data);
QImage DecodeGif(const QByteArray& data, QSize output);
