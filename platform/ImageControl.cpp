#include "platform/ImageControl.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {
// Stretching scales from a copy no larger than this, so that resizing the
// window stays smooth with very large pictures.
constexpr int kStretchSourceLimit = 2560;
}  // namespace

QRect ToPixels(const QRectF& rect) {
    auto whole = [](double v) { return int(std::nearbyint(v)); };
    return QRect(whole(rect.x()), whole(rect.y()), whole(rect.width()), whole(rect.height()));
}

ImageControl::ImageControl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void ImageControl::SetPicture(Picture picture, QPixmap prepared) {
    picture_ = std::move(picture);
    stretchSource_ = picture_.image;
    const QSize limit(kStretchSourceLimit, kStretchSourceLimit);
    if (stretchSource_.width() > limit.width() || stretchSource_.height() > limit.height())
        stretchSource_ =
            stretchSource_.scaled(limit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled_ = std::move(prepared);
    if (!stretch_) TakeNaturalSize();
    update();
}

void ImageControl::SetStretch(bool stretch) {
    if (stretch == stretch_) return;
    stretch_ = stretch;
    if (!stretch_) TakeNaturalSize();
    scaled_ = QPixmap();
    update();
}

void ImageControl::TakeNaturalSize() {
    if (HasPicture()) SetLogicalSize(QSizeF(picture_.naturalSize));
}

void ImageControl::SetBorder(bool border) {
    border_ = border;
    update();
}

void ImageControl::SetAppearance(int appearance) {
    appearance_ = appearance;
    update();
}

void ImageControl::SetLogicalGeometry(const QRectF& rect) {
    logical_ = rect;
    setGeometry(ToPixels(rect));
}

void ImageControl::SetLogicalSize(const QSizeF& size) {
    SetLogicalGeometry(QRectF(logical_.topLeft(), size));
}

void ImageControl::SetLogicalPos(const QPointF& pos) {
    SetLogicalGeometry(QRectF(pos, logical_.size()));
}

const QPixmap& ImageControl::ScaledPixmap() {
    if (scaled_.isNull() || scaled_.size() != size()) {
        const QImage& source = picture_.image.size() == size() ? picture_.image : stretchSource_;
        scaled_ = QPixmap::fromImage(
            source.size() == size()
                ? source
                : source.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    return scaled_;
}

void ImageControl::resizeEvent(QResizeEvent*) {
    if (scaled_.size() != size()) scaled_ = QPixmap();
}

void ImageControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (HasPicture() && width() > 0 && height() > 0) {
        if (stretch_)
            painter.drawPixmap(0, 0, ScaledPixmap());
        else
            painter.drawImage(0, 0, picture_.image);
    }
    if (!border_ || width() < 1 || height() < 1) return;
    const QRect r = rect().adjusted(0, 0, -1, -1);
    if (appearance_ == ThreeD) {
        // Sunken: shadow on the top and left edges, light on the bottom and right.
        painter.setPen(QColor(128, 128, 128));
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(QColor(255, 255, 255));
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    } else {
        painter.setPen(QColor(0, 0, 0));
        painter.drawRect(r);
    }
}

void ImageControl::mouseReleaseEvent(QMouseEvent* event) {
    emit MouseReleased(event->button());
    QWidget::mouseReleaseEvent(event);
}
