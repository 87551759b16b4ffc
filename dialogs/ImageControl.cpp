#include "dialogs/ImageControl.h"

#include "pictures/Scaling.h"

#include <QApplication>

#include <QAccessibleWidget>
#include <QDateTime>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <cmath>

namespace {
// Stretching scales from a copy no larger than this, so that resizing the
// window stays smooth with very large pictures.
constexpr int kStretchSourceLimit = 2560;
// Pictures with more pixels than this take long enough to decode (a tenth of a
// second and more) to be decoded away from the window.
constexpr qint64 kQuickPixels = qint64(16) << 20;

// Screen readers see a picture control as a picture.
QAccessibleInterface* PictureAccessibility(const QString& className, QObject* object) {
    if (className == u"ImageControl" && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
    return nullptr;
}
}  // namespace

QString PanelName(int index) {
    static const QString names[] = {QStringLiteral("１コマ目"), QStringLiteral("２コマ目"),
                                    QStringLiteral("３コマ目"), QStringLiteral("４コマ目")};
    return names[std::clamp(index, 0, 3)];
}

QRect ToPixels(const QRectF& rect) {
    // Far beyond any screen, yet x + width still fits an int.
    static constexpr double kFar = 1e9;
    auto whole = [](double v) { return int(std::nearbyint(std::clamp(v, -kFar, kFar))); };
    return QRect(whole(rect.x()), whole(rect.y()), whole(rect.width()), whole(rect.height()));
}

ImageControl::ImageControl(QWidget* parent) : QWidget(parent) {
    static const bool accessible = (QAccessible::installFactory(PictureAccessibility), true);
    (void)accessible;
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    if (parent) parent->installEventFilter(this);
}

ImageControl::~ImageControl() {
    CancelLoading();
}

void ImageControl::CancelLoading() {
    if (loading_) *loading_ = true;
    loading_.reset();
}

bool ImageControl::Load(const QString& path, QSize displaySize,
                        std::function<void(const Picture&)> later) {
    // The same file, unchanged, at the same size is not decoded again: the
    // windows show the process again after every dialog.
    const QFileInfo file(path);
    const QString source = path + u'|' + QString::number(file.size()) + u'|' +
                           QString::number(file.lastModified().toMSecsSinceEpoch()) + u'|' +
                           QString::number(displaySize.width()) + u'x' +
                           QString::number(displaySize.height());
    if (file.isFile() && source == source_) return !loading_;
    CancelLoading();
    source_ = file.isFile() ? source : QString();
    const QSize own = MeasurePicture(path);
    if (!own.isValid() || qint64(own.width()) * own.height() <= kQuickPixels) {
        Show(LoadPicture(path, displaySize));
        return true;
    }
    Show({});
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    loading_ = cancel;
    QPointer<ImageControl> self(this);
    // The pool's threads are waited for when the program ends; a cancelled
    // decoding stops within a row.
    QThreadPool::globalInstance()->start([self, cancel, path, displaySize, later] {
        Picture picture = LoadPicture(path, displaySize, cancel.get());
        QMetaObject::invokeMethod(
            qApp,
            [self, cancel, later, picture = std::move(picture)]() mutable {
                if (!self || *cancel || self->loading_ != cancel) return;
                self->loading_.reset();
                self->Show(std::move(picture));
                if (later) later(self->picture_);
            },
            Qt::QueuedConnection);
    });
    return false;
}

bool ImageControl::LoadShown(const QString& path, bool stretched,
                             std::function<void(const Picture&)> later) {
    shownPath_ = path;
    shownLater_ = later;
    const QSize own = MeasurePicture(path);
    const QSize limit(kStretchSourceLimit, kStretchSourceLimit);
    const bool large = own.width() > limit.width() || own.height() > limit.height();
    const QSize size = stretched && large ? own.scaled(limit, Qt::KeepAspectRatio) : QSize();
    return Load(path, size, std::move(later));
}

void ImageControl::SetPicture(Picture picture) {
    CancelLoading();
    source_.clear();
    shownPath_.clear();
    Show(std::move(picture));
}

void ImageControl::Show(Picture picture) {
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

void ImageControl::SetSpokenName(const QString& which, const QString& path) {
    const QString file = QFileInfo(path).fileName();
    setAccessibleName(file.isEmpty() ? which : which + QStringLiteral("：") + file);
}

void ImageControl::SetStretch(bool stretch) {
    if (stretch == stretch_) return;
    stretch_ = stretch;
    // At its own size the picture is shown whole, not from the reduced copy.
    const bool reduced = HasPicture() && picture_.image.size() != picture_.naturalSize;
    if (!stretch_ && reduced && !shownPath_.isEmpty()) Load(shownPath_, QSize(), shownLater_);
    if (!stretch_) TakeNaturalSize();
    scaled_ = shownPart_ = QImage();
    UpdateOpacity();
    update();
}

double ImageControl::PixelRatio() const {
    return pixelRatio_ > 0 ? pixelRatio_ : devicePixelRatioF();
}

QSizeF ImageControl::OwnSize() const {
    return HasPicture() ? QSizeF(picture_.naturalSize) / PixelRatio() : logical_.size();
}

void ImageControl::TakeNaturalSize() {
    if (HasPicture()) SetLogicalSize(OwnSize());
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
                         (stretch_ || picture_.image.size() == DeviceSize());
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
    const QSize device = DeviceSize();
    if (picture_.image.size() == device) return picture_.image;
    if (scaled_.isNull() || scaled_.size() != device)
        scaled_ = ScaledSmoothly(stretchSource_, device);
    return scaled_;
}

// The visible part of the stretched picture: only the source pixels under the
// window are scaled, to the window's size, however large the whole control is.
const QImage& ImageControl::ShownPart(const QRect& key) {
    if (!shownPart_.isNull() && shownPartKey_ == key && shownPart_.size() == DeviceSize())
        return shownPart_;
    // Fractional and unclamped, so that even a control of 2^31 pixels maps right.
    const QRectF whole = logical_.translated(-QPointF(pos()));
    const QImage& source = picture_.image;
    const double sx = double(source.width()) / whole.width();
    const double sy = double(source.height()) / whole.height();
    const QRectF from(-whole.x() * sx, -whole.y() * sy, width() * sx, height() * sy);
    QImage part(DeviceSize(), QImage::Format_ARGB32_Premultiplied);
    part.fill(Qt::transparent);
    QPainter painter(&part);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(part.rect()), source, from);
    painter.end();
    shownPart_ = std::move(part);
    shownPartKey_ = key;
    return shownPart_;
}

namespace {
// A rectangle's edges, mapped to the screen, each at its nearest whole pixel.
QRect OnScreenPixels(const QTransform& toScreen, const QRect& rect) {
    static constexpr double kFar = 1e9;
    auto whole = [](double v) { return int(std::lround(std::clamp(v, -kFar, kFar))); };
    const QPointF from = toScreen.map(QPointF(rect.topLeft()));
    const QPointF to = toScreen.map(QPointF(rect.topLeft()) + QPointF(rect.width(), rect.height()));
    return QRect(QPoint(whole(from.x()), whole(from.y())), QPoint(whole(to.x()), whole(to.y())))
        .adjusted(0, 0, -1, -1);
}
}  // namespace

QSize ImageControl::DeviceSize() const {
    const double ratio = PixelRatio();
    const QPoint inWindow = mapTo(window(), QPoint());
    const QTransform toScreen =
        QTransform::fromScale(ratio, ratio).translate(inWindow.x(), inWindow.y());
    return OnScreenPixels(toScreen, rect()).size();
}

// Drawn in screen pixels, so that the picture's pixels and the border's lines
// fall on whole pixels of the screen at any scale.
void ImageControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect whole = WholeInWidget();
    if (whole.width() < 1 || whole.height() < 1 || width() < 1 || height() < 1) return;
    const QTransform toScreen = painter.deviceTransform();
    painter.setWorldTransform(toScreen.inverted());
    const QRect window = OnScreenPixels(toScreen, rect());
    const QRect wholeOnScreen = OnScreenPixels(toScreen, whole);
    if (HasPicture()) {
        if (!stretch_)
            painter.drawImage(wholeOnScreen.topLeft(), picture_.image);
        else if (whole == rect())
            painter.drawImage(window, ScaledImage());
        else
            painter.drawImage(window, ShownPart(whole));
    }
    if (border_) DrawBorder(painter, wholeOnScreen, window);
}

// Each edge is a line of whole screen pixels as thick as a pixel of the
// window's own unit, the outermost of the whole control, cut to the window so
// that no coordinate far outside it reaches the painter.
void ImageControl::DrawBorder(QPainter& painter, const QRect& r, const QRect& window) {
    const int line = std::max(1, int(std::lround(PixelRatio())));
    auto band = [&](int x, int y, int w, int h, const QColor& color) {
        painter.fillRect(QRect(x, y, w, h).intersected(window), color);
    };
    const QColor top = appearance_ == int(Look::ThreeD) ? QColor(128, 128, 128) : QColor(0, 0, 0);
    const QColor bottom =
        appearance_ == int(Look::ThreeD) ? QColor(255, 255, 255) : QColor(0, 0, 0);
    // Sunken: shadow on the top and left edges, light on the bottom and right.
    band(r.left(), r.top(), r.width(), line, top);
    band(r.left(), r.top(), line, r.height(), top);
    band(r.left(), r.bottom() - line + 1, r.width(), line, bottom);
    band(r.right() - line + 1, r.top(), line, r.height(), bottom);
}

void ImageControl::mouseReleaseEvent(QMouseEvent* event) {
    emit MouseReleased(event->button());
    QWidget::mouseReleaseEvent(event);
}
