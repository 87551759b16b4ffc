// Lines, polygons, arcs and paths, and the pens and brushes they are drawn with.
#include "pictures/emf/MetafileRenderer.h"

#include "pictures/emf/EmfRecords.h"

#include <QtMath>

namespace emf {

QPen MetafileRenderer::MakePen() const {
    const Pen& pen = s_.pen;
    if (pen.style == Qt::NoPen) return QPen(Qt::NoPen);
    const double scale = std::sqrt(std::abs(Full().determinant()));
    if (madePen_ && madePen_->pen == pen && madePen_->scale == scale &&
        madePen_->miterLimit == s_.miterLimit)
        return madePen_->made;
    QPen q(pen.color);
    q.setCapStyle(pen.cap);
    q.setJoinStyle(pen.join);
    q.setMiterLimit(s_.miterLimit);
    // One reference-device pixel (at least one pixel of the picture), whatever the mapping.
    const double width = pen.cosmetic || pen.width <= 0
                             ? std::max(1.0, outScale_) / std::max(scale, 1e-9)
                             : pen.width;
    const double deviceWidth = width * scale;
    if (!std::isfinite(deviceWidth) || !std::isfinite(width)) {
        q.setCosmetic(true);  // a mapping that collapses or explodes: one pixel
        q.setWidthF(1);
    } else if (deviceWidth < 1.5 && pen.dashes.isEmpty() && pen.style == Qt::SolidLine) {
        // Lines come in whole pixels, and a solid line of one pixel has no
        // visible joins or caps: the painter's one-pixel line drawing draws it
        // many times quicker than outlining it would.
        q.setCosmetic(true);
        q.setWidthF(std::min(deviceWidth, 1.0));
    } else {
        q.setWidthF(width);
    }
    if (!pen.dashes.isEmpty()) {
        q.setDashPattern(pen.dashes);
    } else {
        q.setStyle(pen.style);
    }
    madePen_ = MadePen{pen, scale, s_.miterLimit, q};
    return q;
}

QBrush MetafileRenderer::MakeBrush() const {
    const Brush& b = s_.brush;
    if (b.null) return Qt::NoBrush;
    if (madeBrush_ && madeBrush_->brush == b) return madeBrush_->made;
    const QBrush made = b.pattern.isNull() ? QBrush(b.color, b.style) : QBrush(b.pattern);
    madeBrush_ = MadeBrush{b, made};
    return made;
}

namespace {

// What the drawing mode (SetROP2) does with a pen's or brush's pixels: a
// raster operation on the pixels beneath, a fixed colour, or nothing at all.
struct Rop2Effect {
    bool draws = true;
    std::optional<QPainter::CompositionMode> mode;
    std::optional<QColor> colour;
};

Rop2Effect EffectOf(int rop2) {
    using P = QPainter;
    switch (rop2) {
        case 1:  // R2_BLACK
            return {true, {}, QColor(Qt::black)};
        case 2:  // R2_NOTMERGEPEN
            return {true, P::RasterOp_NotSourceAndNotDestination, {}};
        case 3:  // R2_MASKNOTPEN
            return {true, P::RasterOp_NotSourceAndDestination, {}};
        case 4:  // R2_NOTCOPYPEN
            return {true, P::RasterOp_NotSource, {}};
        case 5:  // R2_MASKPENNOT
            return {true, P::RasterOp_SourceAndNotDestination, {}};
        case 6:  // R2_NOT
            return {true, P::RasterOp_NotDestination, {}};
        case 7:  // R2_XORPEN
            return {true, P::RasterOp_SourceXorDestination, {}};
        case 8:  // R2_NOTMASKPEN
            return {true, P::RasterOp_NotSourceOrNotDestination, {}};
        case 9:  // R2_MASKPEN
            return {true, P::RasterOp_SourceAndDestination, {}};
        case 10:  // R2_NOTXORPEN
            return {true, P::RasterOp_NotSourceXorDestination, {}};
        case 11:  // R2_NOP
            return {false, {}, {}};
        case 12:  // R2_MERGENOTPEN
            return {true, P::RasterOp_NotSourceOrDestination, {}};
        case 14:  // R2_MERGEPENNOT
            return {true, P::RasterOp_SourceOrNotDestination, {}};
        case 15:  // R2_MERGEPEN
            return {true, P::RasterOp_SourceOrDestination, {}};
        case 16:  // R2_WHITE
            return {true, {}, QColor(Qt::white)};
        default:  // R2_COPYPEN and unknown modes
            return {};
    }
}

// Applies a raster operation for one drawing: whole pixels only, as the
// operation combines colours bit by bit.
class RasterScope {
  public:
    RasterScope(QPainter& painter, const Rop2Effect& effect)
        : p_(painter), active_(bool(effect.mode)) {
        if (!active_) return;
        p_.save();
        p_.setRenderHint(QPainter::Antialiasing, false);
        p_.setCompositionMode(*effect.mode);
    }
    ~RasterScope() {
        if (active_) p_.restore();
    }

  private:
    QPainter& p_;
    bool active_;
};

}  // namespace

void MetafileRenderer::Fill(const QPainterPath& path) {
    const Rop2Effect effect = EffectOf(s_.rop2);
    if (s_.brush.null || !effect.draws || muted_) return;
    Apply();
    QPainterPath filled = path;
    if (filled.fillRule() != s_.fillRule) filled.setFillRule(s_.fillRule);
    RasterScope raster(p_, effect);
    if (s_.brush.style != Qt::SolidPattern && s_.brush.pattern.isNull() && s_.opaqueBk)
        p_.fillPath(filled, s_.bkColor);
    QBrush brush = MakeBrush();
    if (effect.colour) brush.setColor(*effect.colour);
    // Hatches and patterns keep their size in pixels.
    if (s_.brush.style != Qt::SolidPattern || !s_.brush.pattern.isNull()) {
        p_.setTransform(out_);
        p_.fillPath(Full().map(filled) * out_.inverted(), brush);
        return;
    }
    p_.fillPath(filled, brush);
}

void MetafileRenderer::Stroke(const QPainterPath& path) {
    const Rop2Effect effect = EffectOf(s_.rop2);
    if (s_.pen.style == Qt::NoPen || !effect.draws || muted_) return;
    Apply();
    RasterScope raster(p_, effect);
    QPen pen = MakePen();
    if (effect.colour) pen.setColor(*effect.colour);
    p_.strokePath(path, pen);
}

// A polygon with a solid brush and plain drawing mode goes to the painter as
// it is, filled and outlined in one call: metafiles often hold tens of
// thousands of small ones. Anything else is drawn through a path.
bool MetafileRenderer::DrawPlainPolygon(const QVector<QPointF>& pts) {
    if (inPath_) return false;  // part of a path, drawn when the path is
    if (muted_) return true;    // drawn by the file's EMF+ records instead
    const Brush& b = s_.brush;
    const bool plainBrush = b.null || (b.style == Qt::SolidPattern && b.pattern.isNull());
    if (s_.rop2 != 13 || !plainBrush) return false;  // R2_COPYPEN only
    Apply();
    p_.setPen(s_.pen.style == Qt::NoPen ? QPen(Qt::NoPen) : MakePen());
    p_.setBrush(MakeBrush());
    p_.drawPolygon(pts.constData(), int(pts.size()), s_.fillRule);
    return true;
}

void MetafileRenderer::Draw(const QPainterPath& path, bool fill) {
    if (inPath_) {
        path_.addPath(path);
        return;
    }
    if (fill) Fill(path);
    Stroke(path);
}

QVector<QPointF> MetafileRenderer::Points(const Reader& r, qint64 at, uint32_t count,
                                          bool small) const {
    QVector<QPointF> pts;
    const qint64 step = small ? 4 : 8;
    if (count > uint32_t(kMaxPoints) || !r.Has(at, qint64(count) * step)) return pts;
    pts.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const qint64 o = at + i * step;
        pts << (small ? QPointF(r.I16(o), r.I16(o + 2)) : r.Point32(o));
    }
    return pts;
}

// Poly records: bounds (16), count (4), points.
void MetafileRenderer::Poly(uint32_t type, const Reader& r) {
    const bool small = type >= kPolyBezier16 && type <= kPolyPolygon16;
    const uint32_t kind = small ? type - (kPolyBezier16 - kPolyBezier) : type;
    if (kind == kPolyPolyline || kind == kPolyPolygon) return PolyPoly(kind, r, small);
    const QVector<QPointF> pts = Points(r, 28, r.U32(24), small);
    if (pts.isEmpty()) return;
    if (kind == kPolygon && DrawPlainPolygon(pts)) return;
    QPainterPath path;
    path.reserve(int(pts.size()) + 2);
    path.setFillRule(s_.fillRule);
    const bool to = kind == kPolyBezierTo || kind == kPolylineTo;
    if (to) {
        path.moveTo(s_.position);
    } else {
        path.moveTo(pts[0]);
    }
    const int first = to ? 0 : 1;
    if (kind == kPolyBezier || kind == kPolyBezierTo) {
        for (int i = first; i + 2 < pts.size(); i += 3)
            path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
    } else {
        for (int i = first; i < pts.size(); ++i) path.lineTo(pts[i]);
    }
    if (kind == kPolygon) path.closeSubpath();
    if (to) {
        s_.position = pts.last();
        if (inPath_) {
            AppendToFigure(path);
            return;
        }
    }
    Draw(path, kind == kPolygon);
}

// Continues the figure being built in a path instead of starting a new one.
void MetafileRenderer::AppendToFigure(const QPainterPath& piece) {
    if (path_.elementCount() == 0) path_.moveTo(piece.elementAt(0));
    for (int i = 1; i < piece.elementCount(); ++i) {
        const QPainterPath::Element e = piece.elementAt(i);
        if (e.type == QPainterPath::LineToElement) path_.lineTo(e);
        if (e.type == QPainterPath::CurveToElement && i + 2 < piece.elementCount()) {
            path_.cubicTo(e, piece.elementAt(i + 1), piece.elementAt(i + 2));
            i += 2;
        }
    }
}

// bounds (16), number of polys (4), total points (4), counts, points.
void MetafileRenderer::PolyPoly(uint32_t kind, const Reader& r, bool small) {
    const uint32_t polys = r.U32(24), total = r.U32(28);
    if (polys > uint32_t(kMaxPoints) || !r.Has(32, qint64(polys) * 4)) return;
    const QVector<QPointF> pts = Points(r, 32 + qint64(polys) * 4, total, small);
    QPainterPath path;
    path.reserve(int(pts.size()) + int(polys));
    path.setFillRule(s_.fillRule);
    qint64 next = 0;
    for (uint32_t i = 0; i < polys; ++i) {
        const uint32_t n = r.U32(32 + i * 4);
        if (n == 0 || next + n > pts.size()) break;
        path.moveTo(pts[next]);
        for (uint32_t k = 1; k < n; ++k) path.lineTo(pts[next + k]);
        if (kind == kPolyPolygon) path.closeSubpath();
        next += n;
    }
    Draw(path, kind == kPolyPolygon);
}

double MetafileRenderer::AngleOf(const QRectF& box, QPointF p) const {
    const QPointF c = box.center();
    // Points on the ellipse's own scale, so that radial points give true angles.
    const double x = (p.x() - c.x()) / std::max(box.width() / 2, 1e-9);
    const double y = (p.y() - c.y()) / std::max(box.height() / 2, 1e-9);
    return qRadiansToDegrees(std::atan2(-y, x));
}

double MetafileRenderer::Sweep(double start, double end) const {
    double sweep = end - start;
    if (!s_.clockwise) {
        while (sweep <= 0) sweep += 360;
    } else {
        while (sweep >= 0) sweep -= 360;
    }
    return sweep;
}

void MetafileRenderer::ArcRecord(uint32_t type, const Reader& r) {
    const QRectF box = r.Box(8).normalized();
    const double start = AngleOf(box, r.Point32(24)), end = AngleOf(box, r.Point32(32));
    const double sweep = Sweep(start, end);
    QPainterPath path;
    if (type == kPie) {
        path.moveTo(box.center());
        path.arcTo(box, start, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(box, start);
        if (type == kArcTo) {
            QPainterPath line;
            line.moveTo(s_.position);
            line.lineTo(path.currentPosition());
            path = line;
        }
        path.arcTo(box, start, sweep);
        if (type == kChord) path.closeSubpath();
    }
    if (type == kArcTo) s_.position = path.currentPosition();
    if (type == kArcTo && inPath_) return AppendToFigure(path);
    Draw(path, type == kChord || type == kPie);
}

void MetafileRenderer::MoveOrLine(uint32_t type, const Reader& r) {
    const QPointF to = r.Point32(8);
    if (type == kMoveToEx) {
        s_.position = to;
        if (inPath_) path_.moveTo(s_.position);
        return;
    }
    if (inPath_) {
        if (path_.elementCount() == 0) path_.moveTo(s_.position);
        path_.lineTo(to);
    } else {
        QPainterPath line;
        line.moveTo(s_.position);
        line.lineTo(to);
        Stroke(line);
    }
    s_.position = to;
}

void MetafileRenderer::SetPixel(const Reader& r) {
    Apply();
    p_.setTransform(out_);
    const QPointF at = ToDevice().map(r.Point32(8));
    p_.fillRect(QRectF(at, QSizeF(1, 1)), ColorFromValue(r.U32(16)));
}

void MetafileRenderer::AngleArc(const Reader& r) {
    const QPointF c = r.Point32(8);
    const double radius = r.U32(16), start = r.F32(20), sweep = r.F32(24);
    QPainterPath path;
    path.moveTo(s_.position);
    const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
    path.arcTo(box, start, sweep);
    s_.position = path.currentPosition();
    if (inPath_) return AppendToFigure(path);
    Stroke(path);
}

void MetafileRenderer::PathRecord(uint32_t type) {
    switch (type) {
        case kBeginPath:
            inPath_ = true;
            path_ = QPainterPath();
            return;
        case kEndPath:
            inPath_ = false;
            return;
        case kAbortPath:
            inPath_ = false;
            path_ = QPainterPath();
            return;
        case kCloseFigure:
            if (inPath_) path_.closeSubpath();
            return;
        default:  // fill, stroke, or both
            if (type != kStrokePath) Fill(path_);
            if (type != kFillPath) Stroke(path_);
            path_ = QPainterPath();
            return;
    }
}

void MetafileRenderer::PaintRegion(uint32_t type, const Reader& r) {
    const QPainterPath region = Region(r, type == kFillRgn ? 32 : 28);
    Apply();
    p_.setTransform(out_);
    if (type == kFillRgn) {
        const auto it = objects_.constFind(r.U32(28));
        if (it != objects_.cend() && std::holds_alternative<Brush>(*it) &&
            !std::get<Brush>(*it).null)
            p_.fillPath(region, std::get<Brush>(*it).color);
    } else if (!s_.brush.null) {
        p_.fillPath(region, MakeBrush());
    }
}

}  // namespace emf
