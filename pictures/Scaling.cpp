#include "pictures/Scaling.h"

#include "platform/LargeMemory.h"

#include <QPainter>

namespace {

// Interpolation samples every source pixel only while no side shrinks to half or less.
bool Interpolates(QSize from, QSize to) {
    return to.width() * 2 > from.width() && to.height() * 2 > from.height();
}

}  // namespace

QImage ScaledSmoothly(const QImage& image, QSize size) {
    if (image.isNull() || size.isEmpty() || image.size() == size) return image;
    const bool opaque = image.format() == QImage::Format_RGB32;
    if (!opaque || !Interpolates(image.size(), size))
        return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage scaled = NewLargeImage(size, QImage::Format_RGB32);
    if (scaled.isNull()) return {};
    QPainter painter(&scaled);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), image);
    return scaled;
}
