#include "dialogs/ImageControl.h"

#include "pictures/Scaling.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {
// Stretching scales from a copy no larger than this, so that resizing the
// window stays smooth with very large pictures.
constexpr int kStretchSourceLimit = 2560;
}  // namespace

QRect ToPixels(const QRectF& rect) {
    // Far beyond any screen, yet x + width still fits an int.
    static constexpr double kFar = 1e9;
    auto whole = [](double v) { return int(std::nearbyint(std::clamp(v, -kFar, kFar))); };
    return QRect(whole(rect.x()), whole(rect.y()), whole(rect.width()), whole(rect.height()));
}

ImageControl::ImageControl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    if (parent) parent->installEventFilter(this);
}

void ImageControl::SetPicture(Picture picture) {
    picture_ = std::move(picture);
    stretchSource_ = picture_.image;
    const QSize limit(kStretchSourceLimit, kStretchSourceLimit);
    if (stretchSource_.width() > limit.width() || stretchSource_.height() > limit.height())
        stretchSource_ =
            stretchSource_.scaled(limit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled_ = shownPart_ = QImage();
    if (!stretch_) TakeNaturalSize();
    UpdateOpacity();
    update();
}

void ImageControl::SetStretch(bool stretch) {
    if (stretch == stretch_) return;
    stretch_ = stretch;
    if (!stretch_) TakeNaturalSize();
    scaled_ = shownPart_ = QImage();
    UpdateOpacity();
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
    PlaceInParent();
    update();
}

void ImageControl::SetLogicalSize(const QSizeF& size) {
    SetLogicalGeometry(QRectF(logical_.topLeft(), size));
}

void ImageControl::SetLogicalPos(const QPointF& pos) {
    SetLogicalGeometry(QRectF(pos, logical_.size()));
}

QRect ImageControl::PixelGeometry() const {
    return ToPixels(logical_);
}

void ImageControl::PlaceInParent() {
    const QRect whole = PixelGeometry();
    const QRect shown = parentWidget() ? whole.intersected(parentWidget()->rect()) : whole;
    setGeometry(shown.isEmpty() ? QRect(whole.topLeft(), QSize(0, 0)) : shown);
    UpdateOpacity();
}

// An opaque picture that covers the whole window hides what lies beneath,
// which then is not drawn first.
void ImageControl::UpdateOpacity() {
    const bool covered = HasPicture() && !picture_.image.hasAlphaChannel() &&
                         PixelGeometry() == geometry() &&
                         (stretch_ || picture_.image.size() == size());
    setAttribute(Qt::WA_OpaquePaintEvent, covered);
}

// The whole control in this window's coordinates.
QRect ImageControl::WholeInWidget() const {
    return PixelGeometry().translated(-pos());
}

bool ImageControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) PlaceInParent();
    return QWidget::eventFilter(watched, event);
}

// Pictures are kept in the formats the raster engine draws fastest, so a
// picture of the control's size is drawn as it is, without a converted copy.
const QImage& ImageControl::ScaledImage() {
    if (picture_.image.size() == size()) return picture_.image;
    if (scaled_.isNull() || scaled_.size() != size())
        scaled_ = ScaledSmoothly(stretchSource_, size());
    return scaled_;
}

// The visible part of the stretched picture: only the source pixels under the
// window are scaled, to the window's size, however large the whole control is.
const QImage& ImageControl::ShownPart(const QRect& key) {
    if (!shownPart_.isNull() && shownPartKey_ == key && shownPart_.size() == size())
        return shownPart_;
    // Fractional and unclamped, so that even a control of 2^31 pixels maps right.
    const QRectF whole = logical_.translated(-QPointF(pos()));
    const QImage& source = picture_.image;
    const double sx = double(source.width()) / whole.width();
    const double sy = double(source.height()) / whole.height();
    const QRectF from(-whole.x() * sx, -whole.y() * sy, width() * sx, height() * sy);
    QImage part(size(), QImage::Format_ARGB32_Premultiplied);
    part.fill(Qt::transparent);
    QPainter painter(&part);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(part.rect()), source, from);
    painter.end();
    shownPart_ = std::move(part);
    shownPartKey_ = key;
    return shownPart_;
}

void ImageControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect whole = WholeInWidget();
    if (whole.width() < 1 || whole.height() < 1 || width() < 1 || height() < 1) return;
    if (HasPicture()) {
        if (!stretch_)
            painter.drawImage(whole.topLeft(), picture_.image);
        else if (whole == rect())
            painter.drawImage(0, 0, ScaledImage());
        else
            painter.drawImage(0, 0, ShownPart(whole));
    }
    if (border_) DrawBorder(painter, whole);
}

// Each edge is the outermost row or column of the whole control, cut to the
// window, so that no coordinate far outside it reaches the painter.
void ImageControl::DrawBorder(QPainter& painter, const QRect& r) {
    auto band = [&](int x1, int y1, int x2, int y2, const QColor& color) {
        painter.fillRect(QRect(QPoint(x1, y1), QPoint(x2, y2)).intersected(rect()), color);
    };
    const QColor top = appearance_ == int(Look::ThreeD) ? QColor(128, 128, 128) : QColor(0, 0, 0);
    const QColor bottom =
        appearance_ == int(Look::ThreeD) ? QColor(255, 255, 255) : QColor(0, 0, 0);
    // Sunken: shadow on the top and left edges, light on the bottom and right.
    band(r.left(), r.top(), r.right(), r.top(), top);
    band(r.left(), r.top(), r.left(), r.bottom(), top);
    band(r.left(), r.bottom(), r.right(), r.bottom(), bottom);
    band(r.right(), r.top(), r.right(), r.bottom(), bottom);
}

void ImageControl::mouseReleaseEvent(QMouseEvent* event) {
    emit MouseReleased(event->button());
    QWidget::mouseReleaseEvent(event);
}
