// Plays the records of an enhanced metafile onto a painter: the device
// context's state, and drawing for each family of records (shapes, objects,
// clipping, text, bitmaps), each family in a file of its own.
#pragma once

#include "pictures/emf/EmfPlayer.h"
#include "pictures/emf/EmfPlus.h"
#include "pictures/emf/EmfState.h"

#include <QHash>
#include <QPainter>
#include <optional>

namespace emf {

class MetafileRenderer {
  public:
    MetafileRenderer(QPainter& painter, const EmfHeader& header, QSize size);
    void Play(QByteArrayView data);

  private:
    // Record dispatch, by family.
    void Dispatch(uint32_t type, const Reader& r);
    void Comment(const Reader& r);
    // Whether a record only draws (and changes no state the records after it use).
    static bool OnlyDraws(uint32_t type);
    bool DispatchSettings(uint32_t type, const Reader& r);
    void DispatchDrawing(uint32_t type, const Reader& r);
    void SetMapping(uint32_t type, const Reader& r);
    void SetDrawingMode(uint32_t type, const Reader& r);
    void ClipRecord(uint32_t type, const Reader& r);
    void StateRecord(uint32_t type, const Reader& r);
    void ObjectRecord(uint32_t type, const Reader& r);
    void MoveOrLine(uint32_t type, const Reader& r);
    void SetPixel(const Reader& r);
    void AngleArc(const Reader& r);
    void PathRecord(uint32_t type);
    void PaintRegion(uint32_t type, const Reader& r);

    QTransform PageTransform() const;
    const QTransform& ToDevice() const;
    QTransform Full() const { return ToDevice() * out_; }
    void Apply();
    QPen MakePen() const;
    QBrush MakeBrush() const;
    void Fill(const QPainterPath& path);
    void Stroke(const QPainterPath& path);
    void Draw(const QPainterPath& path, bool fill);
    bool DrawPlainPolygon(const QVector<QPointF>& pts);
    QVector<QPointF> Points(const Reader& r, qint64 at, uint32_t count, bool small) const;
    // Poly records: bounds (16), count (4), points.
    void Poly(uint32_t type, const Reader& r);
    // Continues the figure being built in a path instead of starting a new one.
    void AppendToFigure(const QPainterPath& piece);
    // bounds (16), number of polys (4), total points (4), counts, points.
    void PolyPoly(uint32_t kind, const Reader& r, bool small);
    double AngleOf(const QRectF& box, QPointF p) const;
    double Sweep(double start, double end) const;
    void ArcRecord(uint32_t type, const Reader& r);
    void CreatePen(const Reader& r);
    // Dash style, end cap and join from a pen style's three fields.
    void SetPenStyle(Pen& pen, uint32_t style);
    // ihPen, offBmi, cbBmi, offBits, cbBits, then the extended pen.
    void ExtCreatePen(const Reader& r);
    Brush SolidOrHatch(uint32_t style, QColor color, uint32_t hatch) const;
    void CreateBrush(const Reader& r);
    // ihBrush, iUsage, offBmi, cbBmi, offBits, cbBits.
    void CreatePatternBrush(const Reader& r, bool mono);
    void CreateFont(const Reader& r);
    void SelectStock(uint32_t index);
    void SelectObject(uint32_t handle);
    void Combine(const QPainterPath& region, uint32_t mode);
    QPainterPath DeviceRect(const QRectF& logical) const;
    // cbRgnData, iMode, then a region: a 32-byte header and rectangles in device pixels.
    void ExtSelectClipRgn(const Reader& r);
    QPainterPath Region(const Reader& r, qint64 at) const;
    void SelectClipPath(const Reader& r);
    QFont MakeFont(double pixelHeight) const;
    QString DecodeAnsi(QByteArrayView bytes) const;
    // bounds (16), graphics mode, x and y scale, then the text: reference
    // point, count, offset of the string, options, rectangle, offset of the widths.
    void ExtTextOut(const Reader& r, bool wide);
    QVector<double> AnsiWidths(const Reader& r, const QVector<double>& dx, uint32_t offString,
                               uint32_t count) const;
    double GlyphStretch(QPointF reference, double xUnit, double yUnit,
                        const QFontMetricsF& metrics) const;
    void DrawText(QPointF reference, const QString& text, const QVector<double>& dx,
                  const QRectF& clipRect, bool clipped, double glyphTurn = 0);
    QImage Dib(const Reader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
               uint32_t cbBits) const;
    QPainter::CompositionMode ModeFor(uint32_t rop) const;
    // Draws src (a part of image, top-down) into dest (logical).
    void Blit(const QRectF& dest, QImage image, QRectF src, uint32_t rop, double opacity = 1);
    // A raster operation with no source: fill with the brush, black, white or inverted.
    void PatternBlt(const QRectF& dest, uint32_t rop);
    // bounds, dest x y cx cy, rop, src x y, xform (24), bk colour, usage, bmi and bits,
    // and for the stretching kinds the source size.
    void BitBlt(uint32_t type, const Reader& r);
    QImage DecodeWithAlpha(const Reader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
                           uint32_t cbBits) const;
    // bounds, dest x y, src x y cx cy, bmi and bits, usage, rop, dest cx cy.
    void StretchDiBits(const Reader& r);
    // bounds, dest x y, src x y cx cy, bmi and bits, usage, first scan, scans.
    void SetDiBitsToDevice(const Reader& r);
    struct Vertex {
        QPointF at;
        QColor color;
    };
    void GradientFill(const Reader& r);
    // Gouraud shading approximated by flat-shaded sub-triangles.
    void ShadeTriangle(const Vertex& a, const Vertex& b, const Vertex& c, int depth);
    void SaveDc();
    void RestoreDc(int32_t which);
    void ModifyWorldTransform(const Reader& r);
    void ScaleExtent(QSizeF& extent, const Reader& r);
    void Shape(uint32_t type, const Reader& r);
    QPainter& p_;
    EmfHeader header_;
    QSizeF pxPerMm_;
    QTransform out_;
    // The last logical-to-device mapping and the state it was made from: most
    // records draw under the mapping of the record before.
    struct Mapping {
        int mapMode = 0;
        QPointF windowOrg, viewportOrg;
        QSizeF windowExt, viewportExt;
        QTransform world;
        QTransform toDevice;
    };
    mutable std::optional<Mapping> mapping_;
    // The last pen and brush made for the painter, kept so that drawing with an
    // unchanged one hands the painter the very same object (which it then
    // does not set up again).
    struct MadePen {
        Pen pen;
        double scale = 0, miterLimit = 0;
        QPen made;
    };
    struct MadeBrush {
        Brush brush;
        QBrush made;
    };
    mutable std::optional<MadePen> madePen_;
    mutable std::optional<MadeBrush> madeBrush_;
    double outScale_ = 1;
    DcState s_;
    QVector<DcState> saved_;
    QHash<uint32_t, Object> objects_;
    QPainterPath path_;
    bool inPath_ = false;
    bool clipDirty_ = true;
    // EMF+ drawing, where the file has it; the plain drawing is muted then.
    std::optional<plus::Renderer> plus_;
    bool muted_ = false;
};

}  // namespace emf
