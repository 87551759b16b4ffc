// An image control: shows a picture stretched to its own size or at the
// picture's natural size, with an optional one-line border, flat or 3D. It keeps
// its position and size as fractional pixels and sits at the nearest whole ones.
// However large it is laid out, its window covers only the part of it that lies
// inside its parent, and only that part is ever scaled and drawn.
// Pictures are drawn at the screen's own resolution: a picture shown at its
// natural size puts one of its pixels on each pixel of the screen, and a
// stretched one is scaled to the screen pixels the control covers.
#pragma once

#include "model/ProcessRecord.h"
#include "pictures/PictureLoader.h"

#include <QImage>
#include <QRectF>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class ImageControl : public QWidget {
    Q_OBJECT
  public:
    explicit ImageControl(QWidget* parent = nullptr);
    ~ImageControl() override;

    // A picture of the control's size is drawn as it is, with no copy.
    void SetPicture(Picture picture);
    // Loads the picture at path for the control, at displaySize (empty: its own
    // size). A picture quick to decode is loaded at once (true); a large one on
    // a worker thread, the control empty and the window drawing meanwhile, and
    // later is called once it is set. A later load, a picture set, or the
    // control's end cancels one still running. The same file, unchanged, at
    // the same size is not loaded again (true when it is there already).
    bool Load(const QString& path, QSize displaySize,
              std::function<void(const Picture&)> later = {});
    const Picture& CurrentPicture() const { return picture_; }
    // Loads the picture at path as the control shows it: stretched, at most
    // as large as the copy stretching scales from (a picture far larger than
    // the screen costs no more than that); at its own size, whole. A control
    // that stops stretching loads its picture again at its own size, and calls
    // later when it is there.
    bool LoadShown(const QString& path, bool stretched,
                   std::function<void(const Picture&)> later = {});
    void ClearPicture() { SetPicture({}); }
    bool HasPicture() const { return !picture_.isNull(); }
    QSize NaturalSize() const { return picture_.naturalSize; }
    // The size the control takes with stretching off: its picture's own size
    // (one picture pixel to a screen pixel), or its present size while it has no picture.
    QSizeF OwnSize() const;
    // The control's present size in screen pixels: the size to load a picture at.
    QSize DeviceSize() const;

    // With stretching off the control takes its picture's natural size.
    void SetStretch(bool stretch);
    bool Stretch() const { return stretch_; }
    void SetBorder(bool border);
    // The screen pixels to a pixel of the window's unit the control draws for;
    // 0 (the default) takes its screen's. A picture drawn off the screen at a
    // chosen resolution sets it.
    void SetPixelRatio(double ratio) { pixelRatio_ = ratio; }
    void SetAppearance(int appearance);
    int Appearance() const { return appearance_; }

    // Names the picture for screen readers: which picture it is, and the file
    // it shows, if any.
    void SetSpokenName(const QString& which, const QString& path = {});

    void SetLogicalGeometry(const QRectF& rect);
    const QRectF& LogicalGeometry() const { return logical_; }
    // The whole control in whole pixels of its parent, also the part that lies outside it.
    QRect PixelGeometry() const;
    void SetLogicalSize(const QSizeF& size);
    void SetLogicalPos(const QPointF& pos);

  signals:
    void MouseReleased(Qt::MouseButton button);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    double PixelRatio() const;
    void TakeNaturalSize();
    void PlaceInParent();
    void UpdateOpacity();
    QRect WholeInWidget() const;
    const QImage& ScaledImage();
    const QImage& ShownPart(const QRect& key);
    void DrawBorder(QPainter& painter, const QRect& whole, const QRect& window);

    void CancelLoading();
    void Show(Picture picture);

    Picture picture_;
    std::shared_ptr<std::atomic<bool>> loading_;  // set to cancel the load under way
    QString source_;     // the file, its size and time, and the size it was loaded for
    QString shownPath_;  // what LoadShown loaded, for loading it again at its own size
    std::function<void(const Picture&)> shownLater_;
    QImage stretchSource_;  // the picture reduced to a sensible size for stretching
    QImage scaled_;         // the whole picture at the control's size, when it is all visible
    QImage shownPart_;      // the visible part only, when the control is larger than that
    QRect shownPartKey_;
    bool stretch_ = true;
    bool border_ = true;
    double pixelRatio_ = 0;
    int appearance_ = int(Look::ThreeD);
    QRectF logical_;
};

// A whole-pixel rectangle for fractional coordinates, rounding halves to even.
QRect ToPixels(const QRectF& rect);

// The name of panel index (0 to 3) as the windows show it: "１コマ目" and so on.
QString PanelName(int index);
