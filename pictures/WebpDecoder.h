// WebP decoding through libwebp, which scales while it decodes; an animation
// shows its first frame. The ICC profile (ICCP chunk) is applied.
#pragma once

#include <QByteArray>
#include <QImage>
#include <optional>

bool IsWebpFile(QByteArrayView data);
std::optional<QSize> WebpSize(const QByteArray& data);
// At output size, or the picture's own size when output is empty.
QImage DecodeWebp(const QByteArray& data, QSize output);
