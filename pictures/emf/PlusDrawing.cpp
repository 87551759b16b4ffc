// EMF+ drawing records: filled and stroked shapes with their caps, pictures
// and text.
#include "pictures/emf/EmfPlus.h"

#include "pictures/emf/EmfPlayer.h"
#include "pictures/emf/PlusObjects.h"
#include "pictures/emf/PlusRecords.h"

#include <QFontMetricsF>
#include <QPolygonF>
#include <QtMath>

namespace emf::plus {

namespace {

// Cubic pieces through every point (a cardinal spline of the given tension).
QPainterPath Curve(const QVector<QPointF>& pts, double tension, bool closed) {
    QPainterPath path;
    const qsizetype n = pts.size();
    if (n < 2) return path;
    auto at = [&](qsizetype i) {
        if (closed) return pts[(i % n + n) % n];
        return pts[std::clamp<qsizetype>(i, 0, n - 1)];
    };
    const double t = tension / 3;
    path.moveTo(pts[0]);
    const qsizetype pieces = closed ? n : n - 1;
    for (qsizetype i = 0; i < pieces; ++i) {
        const QPointF p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
        path.cubicTo(p1 + (p2 - p0) * t, p2 - (p3 - p1) * t, p2);
    }
    if (closed) path.closeSubpath();
    return path;
}

}  // namespace

// ---- drawing ----------------------------------------------------------------------

void Renderer::FillWith(const QPainterPath& path, const Brush& brush) {
    Prepare();
    if (brush.back) p_.fillPath(path, *brush.back);
    p_.fillPath(path, brush.brush);
}

// The width is taken to pixels of the picture, where any width fits a pen:
// files scale their world by thousands (EMU) and their pens with it.
void Renderer::StrokeWith(const QPainterPath& path, const Pen& pen) {
    Prepare();
    const double scale = std::sqrt(std::abs((ToDevice() * out_).determinant()));
    const double pixels = pen.worldWidth ? pen.width * scale : pen.width;
    QPen q = pen.pen;
    q.setCosmetic(true);
    q.setWidthF(std::isfinite(pixels) ? std::clamp(pixels, 1.0, 1e4) : 1.0);
    p_.strokePath(path, q);
    if (pen.startCap || pen.endCap) DrawCaps(path, pen, q.widthF() / std::max(scale, 1e-9));
}

// Caps at the ends of each open figure, turned along its first or last piece
// and sized by the pen's width (in world units).
void Renderer::DrawCaps(const QPainterPath& path, const Pen& pen, double width) {
    QPen outline = pen.pen;
    outline.setCosmetic(true);
    outline.setWidthF(1);
    outline.setStyle(Qt::SolidLine);
    for (const QPolygonF& figure : path.toSubpathPolygons()) {
        if (figure.size() < 2 || figure.first() == figure.last()) continue;
        auto place = [&](const Cap& cap, QPointF end, QPointF before) {
            const QPointF along = end - before;
            const double length = std::hypot(along.x(), along.y());
            if (length <= 0) return;
            const QPointF y = along / length, x(-y.y(), y.x());
            const QTransform t(x.x() * width, x.y() * width, y.x() * width, y.y() * width, end.x(),
                               end.y());
            const QPainterPath placed = t.map(cap.path);
            if (cap.filled)
                p_.fillPath(placed, pen.brush.brush);
            else
                p_.strokePath(placed, outline);
        };
        if (pen.startCap) place(*pen.startCap, figure[0], figure[1]);
        if (pen.endCap) place(*pen.endCap, figure.last(), figure[figure.size() - 2]);
    }
}

void Renderer::DrawingRecord(uint16_t type, uint16_t flags, const Reader& r) {
    const bool compressed = flags & kCompressed;
    const Pen* pen = PenAt(flags & 0xFF);
    QPainterPath path;
    switch (type) {
        case kClear:
            p_.setTransform(out_);
            p_.setClipping(false);
            p_.setCompositionMode(QPainter::CompositionMode_Source);
            p_.fillRect(QRectF(-1e6, -1e6, 2e6, 2e6), Argb(r.U32(0)));
            p_.setCompositionMode(QPainter::CompositionMode_SourceOver);
            return;
        case kFillRects: {
            const std::optional<Brush> brush = BrushFor(flags, r.U32(0));
            const uint32_t n = std::min<uint32_t>(r.U32(4), kMaxPoints);
            for (uint32_t i = 0; i < n && r.Has(8 + i * (compressed ? 8 : 16), 8); ++i)
                path.addRect(RectAt(r, 8 + i * (compressed ? 8 : 16), compressed));
            if (brush) FillWith(path, *brush);
            return;
        }
        case kDrawRects: {
            const uint32_t n = std::min<uint32_t>(r.U32(0), kMaxPoints);
            for (uint32_t i = 0; i < n && r.Has(4 + i * (compressed ? 8 : 16), 8); ++i)
                path.addRect(RectAt(r, 4 + i * (compressed ? 8 : 16), compressed));
            if (pen) StrokeWith(path, *pen);
            return;
        }
        case kFillPolygon: {
            const std::optional<Brush> brush = BrushFor(flags, r.U32(0));
            path.addPolygon(QPolygonF(PointsAt(r, 8, r.U32(4), flags)));
            path.closeSubpath();
            path.setFillRule(Qt::OddEvenFill);
            if (brush) FillWith(path, *brush);
            return;
        }
        case kDrawLines:
        case kDrawBeziers: {
            const QVector<QPointF> pts = PointsAt(r, 4, r.U32(0), flags);
            if (pts.isEmpty() || !pen) return;
            path.moveTo(pts[0]);
            if (type == kDrawLines) {
                for (qsizetype i = 1; i < pts.size(); ++i) path.lineTo(pts[i]);
                if (flags & kClosed) path.closeSubpath();
            } else {
                for (qsizetype i = 1; i + 2 < pts.size(); i += 3)
                    path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            }
            StrokeWith(path, *pen);
            return;
        }
        case kFillEllipse:
        case kFillPie: {
            const std::optional<Brush> brush = BrushFor(flags, r.U32(0));
            if (type == kFillEllipse) {
                path.addEllipse(RectAt(r, 4, compressed));
            } else {
                const QRectF box = RectAt(r, 12, compressed);
                path.moveTo(box.center());
                path.arcTo(box, -r.F32(4), -r.F32(8));
                path.closeSubpath();
            }
            if (brush) FillWith(path, *brush);
            return;
        }
        case kDrawEllipse:
            path.addEllipse(RectAt(r, 0, compressed));
            if (pen) StrokeWith(path, *pen);
            return;
        case kDrawPie:
        case kDrawArc: {
            const QRectF box = RectAt(r, 8, compressed);
            path.arcMoveTo(box, -r.F32(0));
            path.arcTo(box, -r.F32(0), -r.F32(4));
            if (type == kDrawPie) {
                path.lineTo(box.center());
                path.closeSubpath();
            }
            if (pen) StrokeWith(path, *pen);
            return;
        }
        case kFillRegion:
        case kFillPath: {
            const auto it = objects_.constFind(uint8_t(flags & 0xFF));
            const std::optional<Brush> brush = BrushFor(flags, r.U32(0));
            if (it != objects_.cend() && std::holds_alternative<QPainterPath>(*it) && brush)
                FillWith(std::get<QPainterPath>(*it), *brush);
            return;
        }
        case kDrawPath: {
            const auto it = objects_.constFind(uint8_t(flags & 0xFF));
            const Pen* with = PenAt(r.U32(0));
            if (it != objects_.cend() && std::holds_alternative<QPainterPath>(*it) && with)
                StrokeWith(std::get<QPainterPath>(*it), *with);
            return;
        }
        case kFillClosedCurve: {
            const std::optional<Brush> brush = BrushFor(flags, r.U32(0));
            path = Curve(PointsAt(r, 12, r.U32(8), flags), r.F32(4), true);
            if (brush) FillWith(path, *brush);
            return;
        }
        case kDrawClosedCurve:
        case kDrawCurve: {
            const bool closed = type == kDrawClosedCurve;
            const qint64 points = closed ? 8 : 16;
            path = Curve(PointsAt(r, points, r.U32(points - 4), flags), r.F32(0), closed);
            if (pen) StrokeWith(path, *pen);
            return;
        }
        case kDrawImage:
        case kDrawImagePoints:
            return DrawImage(flags, r, type == kDrawImagePoints);
        case kDrawString:
            return DrawString(flags, r);
        case kDrawDriverString:
            return DrawDriverString(flags, r);
        default:
            return;
    }
}

// attributes, source unit, source rectangle, then a destination rectangle or
// three points (top-left, top-right, bottom-left).
void Renderer::DrawImage(uint16_t flags, const Reader& r, bool points) {
    const auto it = objects_.constFind(uint8_t(flags & 0xFF));
    if (it == objects_.cend()) return;
    const auto* bitmap = std::get_if<QImage>(&*it);
    const auto* nested = std::get_if<NestedMetafile>(&*it);
    if ((!bitmap || bitmap->isNull()) && !nested) return;
    const QSize natural = bitmap ? bitmap->size() : nested->natural;
    const auto attributesIt = objects_.constFind(uint8_t(r.U32(0)));
    const ImageAttributes* attributes =
        attributesIt == objects_.cend() ? nullptr : std::get_if<ImageAttributes>(&*attributesIt);
    const double unit = UnitToPixels(r.U32(4));
    QRectF src(r.F32(8) * unit, r.F32(12) * unit, r.F32(16) * unit, r.F32(20) * unit);
    if (src.isEmpty()) src = QRectF(QPointF(), QSizeF(natural));
    QTransform place;
    if (points) {
        const QVector<QPointF> p = PointsAt(r, 28, std::min<uint32_t>(r.U32(24), 3), flags);
        if (p.size() < 3) return;
        place = QTransform(p[1].x() - p[0].x(), p[1].y() - p[0].y(), p[2].x() - p[0].x(),
                           p[2].y() - p[0].y(), p[0].x(), p[0].y());
    } else {
        const QRectF dest = RectAt(r, 24, flags & kCompressed);
        place = QTransform(dest.width(), 0, 0, dest.height(), dest.x(), dest.y());
    }
    if (bitmap) return DrawPicture(*bitmap, src, place, attributes);
    // A nested metafile is played at the resolution it is drawn at, within the
    // limits of one picture, of nesting, and of how often a file and all that
    // is nested in it play nested metafiles, so that no file loops for long.
    static thread_local int depth = 0;
    static thread_local int playsBelow = 0;  // by everything nested in the outermost play
    if (depth >= kMaxNesting || nestedPlays_ >= kMaxNestedPlays) return;
    if (depth == 0) playsBelow = 0;
    if (depth > 0 && ++playsBelow > kMaxNestedPlays) return;
    ++nestedPlays_;
    const QTransform toOutput =
        QTransform::fromScale(1 / src.width(), 1 / src.height()) * place * ToDevice() * out_;
    const double scale = std::max(std::hypot(toOutput.m11(), toOutput.m12()),
                                  std::hypot(toOutput.m21(), toOutput.m22()));
    const double limit =
        std::sqrt(double(kMaxNestedPixels) / std::max(1, natural.width() * natural.height()));
    const double k = std::clamp(scale, 1e-3, std::min(limit, 16.0));
    const QSize size = (QSizeF(natural) * k).toSize().expandedTo(QSize(1, 1));
    ++depth;
    const QImage played = RenderEmf(nested->data, size);
    --depth;
    if (played.isNull()) return;
    const QRectF scaled(src.x() * size.width() / natural.width(),
                        src.y() * size.height() / natural.height(),
                        src.width() * size.width() / natural.width(),
                        src.height() * size.height() / natural.height());
    DrawPicture(played, scaled, place, attributes);
}

// The source rectangle of image drawn into place (the unit square's image). Where
// it reaches beyond the picture, its attributes say what shows there.
void Renderer::DrawPicture(const QImage& image, QRectF src, const QTransform& place,
                           const ImageAttributes* attributes) {
    Prepare();
    p_.setTransform(QTransform::fromScale(1 / src.width(), 1 / src.height()) * place * ToDevice() *
                    out_);
    const QRectF whole(QPointF(), QSizeF(src.size()));
    if (!attributes || QRectF(image.rect()).contains(src)) return p_.drawImage(whole, image, src);
    if (attributes->wrap >= 4) {
        p_.fillRect(whole, attributes->clamp);
        const QRectF inside = src.intersected(image.rect());
        if (!inside.isEmpty()) p_.drawImage(inside.translated(-src.topLeft()), image, inside);
        return;
    }
    // Tiled, each other tile mirrored across x, y or both (as many as a picture can show).
    const bool flipX = attributes->wrap == 1 || attributes->wrap == 3;
    const bool flipY = attributes->wrap == 2 || attributes->wrap == 3;
    const int w = image.width(), h = image.height();
    const int firstX = int(std::floor(src.left() / w)), lastX = int(std::ceil(src.right() / w));
    const int firstY = int(std::floor(src.top() / h)), lastY = int(std::ceil(src.bottom() / h));
    if (qint64(lastX - firstX) * (lastY - firstY) > kMaxTiles) return;
    p_.setClipRect(whole, Qt::IntersectClip);
    for (int ty = firstY; ty < lastY; ++ty)
        for (int tx = firstX; tx < lastX; ++tx)
            p_.drawImage(QPointF(tx * w - src.x(), ty * h - src.y()),
                         image.mirrored(flipX && (tx & 1), flipY && (ty & 1)));
}

// Sets the painter up for text in font f: the em size taken to units of the
// page, and the font laid out at the size it reaches the output (textScale_
// times larger, under a transform as much smaller), so that a small em under
// a large transform keeps its size. False for a size that draws nothing.
bool Renderer::PrepareText(const Font& f, const Brush& brush, const QTransform& matrix) {
    const double em = f.emSize * UnitToPixels(f.unit) / UnitToPixels(g_.pageUnit) / g_.pageScale;
    if (!(em > 0) || em > 1e5) return false;
    const QTransform toOutput = matrix * ToDevice() * out_;
    const double outputScale = std::sqrt(std::abs(toOutput.determinant()));
    if (!(outputScale > 0)) return false;
    const double pixels = std::clamp(em * outputScale, 1.0, kLargestFontPixels);
    textScale_ = pixels / em;
    QFont font = f.font;
    font.setPixelSize(qRound(pixels));
    Prepare();
    p_.setTransform(QTransform::fromScale(1.0 / textScale_, 1.0 / textScale_) * toOutput);
    p_.setFont(font);
    p_.setPen(QPen(brush.brush, 0));
    return true;
}

// brush, format, length, layout rectangle, the text in UTF-16.
void Renderer::DrawString(uint16_t flags, const Reader& r) {
    const auto fontIt = objects_.constFind(uint8_t(flags & 0xFF));
    const std::optional<Brush> brush = BrushFor(flags, r.U32(0));
    if (fontIt == objects_.cend() || !std::holds_alternative<Font>(*fontIt) || !brush) return;
    const Font& f = std::get<Font>(*fontIt);
    const uint32_t length = std::min<uint32_t>(r.U32(8), 1 << 16);
    const QRectF layout(r.F32(12), r.F32(16), r.F32(20), r.F32(24));
    const QByteArrayView chars = r.Bytes(28, qint64(length) * 2);
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(chars.data()), chars.size() / 2);
    StringFormat format;
    const auto formatIt = objects_.constFind(uint8_t(r.U32(4)));
    if (formatIt != objects_.cend() && std::holds_alternative<StringFormat>(*formatIt))
        format = std::get<StringFormat>(*formatIt);
    if (!PrepareText(f, *brush, QTransform())) return;
    const int horizontal = format.alignment == 1   ? Qt::AlignHCenter
                           : format.alignment == 2 ? Qt::AlignRight
                                                   : Qt::AlignLeft;
    const int vertical = format.lineAlignment == 1   ? Qt::AlignVCenter
                         : format.lineAlignment == 2 ? Qt::AlignBottom
                                                     : Qt::AlignTop;
    const QRectF box(layout.topLeft() * textScale_, layout.size() * textScale_);
    if (layout.width() <= 0 || layout.height() <= 0)
        p_.drawText(QPointF(box.x(), box.y() + QFontMetricsF(p_.font()).ascent()), text);
    else
        p_.drawText(box, horizontal | vertical | Qt::TextWordWrap, text);
}

// brush, options, matrix present, glyph count, glyphs, positions, matrix.
void Renderer::DrawDriverString(uint16_t flags, const Reader& r) {
    const auto fontIt = objects_.constFind(uint8_t(flags & 0xFF));
    const std::optional<Brush> brush = BrushFor(flags, r.U32(0));
    if (fontIt == objects_.cend() || !std::holds_alternative<Font>(*fontIt) || !brush) return;
    const uint32_t options = r.U32(4), count = std::min<uint32_t>(r.U32(12), 1 << 16);
    if (!(options & 1)) return;  // glyph numbers of a font we may not have: not drawn
    if (!r.Has(16, qint64(count) * 10)) return;
    const QTransform matrix = r.U32(8) ? MatrixAt(r, 16 + qint64(count) * 10) : QTransform();
    if (!PrepareText(std::get<Font>(*fontIt), *brush, matrix)) return;
    const qint64 positions = 16 + qint64(count) * 2;
    if (options & 4) {  // one position: the glyphs advance as the font lays them out
        QString text;
        for (uint32_t i = 0; i < count; ++i) text += QChar(char16_t(r.U16(16 + i * 2)));
        p_.drawText(QPointF(r.F32(positions), r.F32(positions + 4)) * textScale_, text);
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const qint64 at = positions + qint64(i) * 8;
        p_.drawText(QPointF(r.F32(at), r.F32(at + 4)) * textScale_,
                    QString(QChar(char16_t(r.U16(16 + i * 2)))));
    }
}

}  // namespace emf::plus
