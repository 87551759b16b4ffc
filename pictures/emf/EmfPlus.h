// EMF+ records: the drawing that many programs put into comment records of an
// enhanced metafile, with transparency, gradients and paths the plain records
// cannot carry. Where a file has them, they are drawn and the plain records
// that stand in for them are not, except those that follow a GetDC record.
#pragma once

#include "pictures/emf/EmfState.h"

#include <QFont>
#include <QHash>
#include <QPainter>
#include <QVector>
#include <optional>
#include <variant>

namespace emf::plus {

struct Brush {
    QBrush brush;
    std::optional<QColor> back;  // hatches are drawn over their background colour
};

// A line's end drawn as a shape: in pen widths, its y axis along the line.
struct Cap {
    QPainterPath path;
    bool filled = true;
};

struct Pen {
    QPen pen;  // all but the width
    Brush brush;
    double width = 0;        // 0: one pixel
    bool worldWidth = true;  // false: the width is in pixels of the device
    std::optional<Cap> startCap, endCap;
};

struct Font {
    double emSize = 12;
    uint32_t unit = 3;
    QFont font;
};

struct StringFormat {
    uint32_t alignment = 0, lineAlignment = 0;
};

// A picture that is itself an enhanced metafile (plain, EMF+ only or dual), as
// office programs keep a pasted chart or drawing: played where it is drawn.
struct NestedMetafile {
    QByteArray data;
    QSize natural;  // its frame in pixels at 96 dots per inch
};

// How a picture is drawn where its source rectangle reaches beyond it: tiled
// (wrap 0 to 3: plain, flipped across x, y or both) or clamped (wrap 4: the
// clamp colour).
struct ImageAttributes {
    uint32_t wrap = 4;
    QColor clamp = Qt::transparent;
};

using Object = std::variant<Brush, Pen, QPainterPath, QImage, Font, StringFormat, NestedMetafile,
                            ImageAttributes>;

// The state that Save and BeginContainer keep.
struct GraphicsState {
    QTransform world;
    uint32_t pageUnit = 2;
    double pageScale = 1;
    std::optional<QPainterPath> clip;  // in device pixels
};

class Renderer {
  public:
    // toOutput maps the metafile's device pixels to the painter's; dpi is the
    // reference device's resolution.
    Renderer(QPainter& painter, QTransform toOutput, QSizeF dpi);

    // The EMF+ records of one comment record.
    void Play(QByteArrayView records);
    // Whether the file's plain drawing records are to be drawn now: always in a
    // file without EMF+, and after a GetDC record in one with it.
    bool DrawsPlainRecords() const { return !seenHeader_ || afterGetDc_; }

  private:
    void Record(uint16_t type, uint16_t flags, const Reader& r);
    bool StateRecord(uint16_t type, uint16_t flags, const Reader& r);
    void DrawingRecord(uint16_t type, uint16_t flags, const Reader& r);
    void ObjectRecord(uint16_t flags, const Reader& r);
    void StoreObject(uint8_t id, uint32_t kind, const Reader& r);

    void DrawPicture(const QImage& image, QRectF src, const QTransform& place,
                     const ImageAttributes* attributes);

    // What a drawing record refers to.
    std::optional<Brush> BrushFor(uint16_t flags, uint32_t value) const;
    const Pen* PenAt(uint32_t id) const;

    double UnitToPixels(uint32_t unit, bool vertical = false) const;
    QTransform Page() const;
    QTransform ToDevice() const { return g_.world * Page(); }
    void Prepare();
    void FillWith(const QPainterPath& path, const Brush& brush);
    void StrokeWith(const QPainterPath& path, const Pen& pen);
    void DrawCaps(const QPainterPath& path, const Pen& pen, double width);
    void DrawImage(uint16_t flags, const Reader& r, bool points);
    bool PrepareText(const Font& f, const Brush& brush, const QTransform& matrix);
    void DrawString(uint16_t flags, const Reader& r);
    void DrawDriverString(uint16_t flags, const Reader& r);
    void SetClip(const QPainterPath& devicePath, uint32_t mode);
    void Save(uint32_t index);
    void Restore(uint32_t index);

    QPainter& p_;
    QTransform out_;
    double textScale_ = 16;  // how much larger than its units text is laid out
    int nestedPlays_ = 0;
    QSizeF dpi_;
    GraphicsState g_;
    QHash<uint32_t, GraphicsState> saved_;
    QHash<uint8_t, Object> objects_;
    QByteArray pending_;  // an object that continues in the next record
    uint8_t pendingId_ = 0;
    uint32_t pendingKind_ = 0, pendingTotal_ = 0;
    bool seenHeader_ = false, afterGetDc_ = false, antialias_ = true;
    QPainter::CompositionMode composition_ = QPainter::CompositionMode_SourceOver;
};

}  // namespace emf::plus
