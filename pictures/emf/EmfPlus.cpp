#include "pictures/emf/EmfPlus.h"

#include "pictures/emf/EmfPlayer.h"

#include <QFontMetricsF>
#include <QPolygonF>
#include <QtMath>
#include <cstring>

namespace emf::plus {

namespace {

enum : uint16_t {
    kHeader = 0x4001,
    kEndOfFile = 0x4002,
    kGetDc = 0x4004,
    kObject = 0x4008,
    kClear = 0x4009,
    kFillRects = 0x400A,
    kDrawRects = 0x400B,
    kFillPolygon = 0x400C,
    kDrawLines = 0x400D,
    kFillEllipse = 0x400E,
    kDrawEllipse = 0x400F,
    kFillPie = 0x4010,
    kDrawPie = 0x4011,
    kDrawArc = 0x4012,
    kFillRegion = 0x4013,
    kFillPath = 0x4014,
    kDrawPath = 0x4015,
    kFillClosedCurve = 0x4016,
    kDrawClosedCurve = 0x4017,
    kDrawCurve = 0x4018,
    kDrawBeziers = 0x4019,
    kDrawImage = 0x401A,
    kDrawImagePoints = 0x401B,
    kDrawString = 0x401C,
    kSetAntiAliasMode = 0x401E,
    kSetCompositingMode = 0x4023,
    kSave = 0x4025,
    kRestore = 0x4026,
    kBeginContainer = 0x4027,
    kBeginContainerNoParams = 0x4028,
    kEndContainer = 0x4029,
    kSetWorldTransform = 0x402A,
    kResetWorldTransform = 0x402B,
    kMultiplyWorldTransform = 0x402C,
    kTranslateWorldTransform = 0x402D,
    kScaleWorldTransform = 0x402E,
    kRotateWorldTransform = 0x402F,
    kSetPageTransform = 0x4030,
    kResetClip = 0x4031,
    kSetClipRect = 0x4032,
    kSetClipPath = 0x4033,
    kSetClipRegion = 0x4034,
    kOffsetClip = 0x4035,
    kDrawDriverString = 0x4036,
};

// Flags of the drawing records.
constexpr uint16_t kSolidColour = 0x8000;  // the brush value is a colour, not an object
constexpr uint16_t kCompressed = 0x4000;   // 16-bit coordinates
constexpr uint16_t kRelative = 0x0800;     // relative coordinates, not drawn
constexpr uint16_t kAppend = 0x2000;       // transforms multiply after the present one
constexpr uint16_t kClosed = 0x2000;       // lines closed into a polygon

constexpr int kMaxObjectBytes = 64 << 20;
constexpr qint64 kMaxImagePixels = qint64(1) << 26;
constexpr int kMaxRegionDepth = 64;
constexpr int kMaxNesting = 3;                    // metafiles inside metafiles, at most this deep
constexpr qint64 kMaxNestedPixels = 4096 * 4096;  // the largest a nested one is played at
constexpr double kLargestFontPixels = 2048;

QColor Argb(uint32_t value) {
    return QColor::fromRgba(value);
}

QTransform MatrixAt(const Reader& r, qint64 at) {
    return QTransform(r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12), r.F32(at + 16),
                      r.F32(at + 20));
}

Qt::PenCapStyle CapOf(uint32_t cap) {
    switch (cap) {
        case 1:
            return Qt::SquareCap;
        case 2:
            return Qt::RoundCap;
        default:
            return Qt::FlatCap;
    }
}

Qt::PenJoinStyle JoinOf(uint32_t join) {
    switch (join) {
        case 1:
            return Qt::BevelJoin;
        case 2:
            return Qt::RoundJoin;
        default:
            return Qt::MiterJoin;
    }
}

Qt::BrushStyle HatchOf(uint32_t style) {
    switch (style) {
        case 0:
            return Qt::HorPattern;
        case 1:
            return Qt::VerPattern;
        case 2:
            return Qt::FDiagPattern;
        case 3:
            return Qt::BDiagPattern;
        case 4:
            return Qt::CrossPattern;
        case 5:
            return Qt::DiagCrossPattern;
        default:
            return Qt::Dense4Pattern;
    }
}

QGradient::Spread SpreadOf(uint32_t wrap) {
    switch (wrap) {
        case 0:
            return QGradient::RepeatSpread;
        case 1:
        case 2:
        case 3:
            return QGradient::ReflectSpread;
        default:
            return QGradient::PadSpread;
    }
}

// An arrowhead: its tip at the line's end, its base back along the line (the
// cap's y axis points along the line), in pen widths.
Cap Arrow(double width, double height, double inset, bool filled) {
    QPainterPath path;
    path.moveTo(0, 0);
    path.lineTo(-width / 2, -height);
    path.lineTo(0, -height + inset);
    path.lineTo(width / 2, -height);
    path.closeSubpath();
    return Cap{path, filled};
}

// The anchors a pen may end in: arrows, and round, square and diamond dots.
std::optional<Cap> AnchorCap(uint32_t cap) {
    QPainterPath path;
    switch (cap) {
        case 0x11:  // square anchor
            path.addRect(QRectF(-1, -1, 2, 2));
            return Cap{path, true};
        case 0x12:  // round anchor
            path.addEllipse(QPointF(0, 0), 1, 1);
            return Cap{path, true};
        case 0x13:  // diamond anchor
            path.addPolygon(QPolygonF({{0, -1.5}, {1.5, 0}, {0, 1.5}, {-1.5, 0}}));
            path.closeSubpath();
            return Cap{path, true};
        case 0x14:  // arrow anchor
            return Arrow(4, 4, 0, true);
        default:
            return std::nullopt;
    }
}

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

Renderer::Renderer(QPainter& painter, QTransform toOutput, QSizeF dpi)
    : p_(painter), out_(toOutput), dpi_(dpi) {}

void Renderer::Play(QByteArrayView records) {
    qint64 at = 0;
    while (at + 12 <= records.size()) {
        const Reader head(records.sliced(at, 12));
        const uint16_t type = head.U16(0), flags = head.U16(2);
        const uint32_t size = head.U32(4), dataSize = head.U32(8);
        if (size < 12 || size > records.size() - at || dataSize > size - 12) return;
        Record(type, flags, Reader(records.sliced(at + 12, dataSize)));
        at += size;
    }
}

void Renderer::Record(uint16_t type, uint16_t flags, const Reader& r) {
    if (type == kHeader) {
        seenHeader_ = true;
        const double x = r.U32(8), y = r.U32(12);
        if (x > 0 && y > 0 && x < 1e5 && y < 1e5) dpi_ = QSizeF(x, y);
    }
    afterGetDc_ = type == kGetDc;
    if (!seenHeader_ || type == kHeader || type == kGetDc || type == kEndOfFile) return;
    if (type == kObject) return ObjectRecord(flags, r);
    if (!StateRecord(type, flags, r)) DrawingRecord(type, flags, r);
}

// ---- objects -----------------------------------------------------------------

// An object larger than one record comes in pieces, each headed by the total size.
void Renderer::ObjectRecord(uint16_t flags, const Reader& r) {
    const uint8_t id = flags & 0xFF;
    const uint32_t kind = (flags >> 8) & 0x7F;
    const bool continues = flags & 0x8000;
    if (!continues && pending_.isEmpty()) return StoreObject(id, kind, r);
    if (continues && pending_.isEmpty()) {
        pendingTotal_ = r.U32(0);
        if (pendingTotal_ > uint32_t(kMaxObjectBytes)) return;
        pendingId_ = id, pendingKind_ = kind;
    }
    if (id != pendingId_ || kind != pendingKind_) {
        pending_.clear();
        return;
    }
    pending_ += (continues ? r.Bytes(4, r.size() - 4) : r.Bytes(0, r.size())).toByteArray();
    if (!continues || pending_.size() >= qsizetype(pendingTotal_)) {
        const QByteArray whole = std::exchange(pending_, {});
        StoreObject(id, kind, Reader(whole));
    }
}

void Renderer::StoreObject(uint8_t id, uint32_t kind, const Reader& r) {
    objects_.remove(id);
    switch (kind) {
        case 1:
            if (auto brush = ReadBrush(r, 0)) objects_.insert(id, *brush);
            return;
        case 2:
            if (auto pen = ReadPen(r)) objects_.insert(id, *pen);
            return;
        case 3:
            objects_.insert(id, ReadPath(r, 0));
            return;
        case 4:
            objects_.insert(id, ReadRegion(r));
            return;
        case 5:
            if (std::optional<NestedMetafile> nested = ReadNestedMetafile(r, 0))
                objects_.insert(id, std::move(*nested));
            else
                objects_.insert(id, ReadImage(r, 0));
            return;
        case 6:
            objects_.insert(id, ReadFont(r));
            return;
        case 7:
            objects_.insert(id, StringFormat{r.U32(12), r.U32(16)});
            return;
        default:
            return;
    }
}

// version (4), type (4), then the brush's own data.
std::optional<Brush> Renderer::ReadBrush(const Reader& r, qint64 at) const {
    const uint32_t type = r.U32(at + 4);
    const qint64 d = at + 8;
    switch (type) {
        case 0:
            return Brush{QBrush(Argb(r.U32(d))), {}};
        case 1:
            return Brush{QBrush(Argb(r.U32(d + 4)), HatchOf(r.U32(d))), Argb(r.U32(d + 8))};
        case 2: {  // texture: flags, wrap, optional transform, image
            const uint32_t flags = r.U32(d);
            const qint64 image = d + 8 + ((flags & 0x2) ? 24 : 0);
            const QImage texture = ReadImage(r, image);
            if (texture.isNull()) return Brush{QBrush(Qt::gray), {}};
            QBrush brush(texture);
            if (flags & 0x2) brush.setTransform(MatrixAt(r, d + 8));
            return Brush{brush, {}};
        }
        case 3: {  // path gradient: flags, wrap, centre colour, centre point, colours, ...
            // drawn as a radial one from the centre colour to the first edge colour
            const QColor centre = Argb(r.U32(d + 8));
            const QColor edge = r.U32(d + 20) > 0 ? Argb(r.U32(d + 24)) : centre;
            QRadialGradient g;
            g.setCoordinateMode(QGradient::ObjectMode);
            g.setCenter(0.5, 0.5), g.setFocalPoint(0.5, 0.5), g.setRadius(0.5);
            g.setColorAt(0, centre), g.setColorAt(1, edge);
            return Brush{QBrush(g), {}};
        }
        case 4: {  // linear gradient across a rectangle, left to right before its transform
            const uint32_t flags = r.U32(d);
            const QRectF rect(r.F32(d + 8), r.F32(d + 12), r.F32(d + 16), r.F32(d + 20));
            QLinearGradient g(rect.topLeft(), QPointF(rect.right(), rect.top()));
            g.setSpread(SpreadOf(r.U32(d + 4)));
            g.setColorAt(0, Argb(r.U32(d + 24)));
            g.setColorAt(1, Argb(r.U32(d + 28)));
            qint64 next = d + 40;
            QTransform transform;
            if (flags & 0x2) transform = MatrixAt(r, next), next += 24;
            if (flags & 0x4) {  // preset colours at positions
                const uint32_t n = r.U32(next);
                if (n >= 2 && n < 4096 && r.Has(next + 4, qint64(n) * 8)) {
                    QGradientStops stops;
                    for (uint32_t i = 0; i < n; ++i)
                        stops.append({std::clamp<double>(r.F32(next + 4 + i * 4), 0, 1),
                                      Argb(r.U32(next + 4 + n * 4 + i * 4))});
                    g.setStops(stops);
                }
            }
            QBrush brush(g);
            brush.setTransform(transform);
            return Brush{brush, {}};
        }
        default:
            return std::nullopt;
    }
}

// version, type, flags, unit, width, the optional fields the flags name, the brush.
std::optional<Pen> Renderer::ReadPen(const Reader& r) const {
    const uint32_t flags = r.U32(8), unit = r.U32(12);
    const double width = std::clamp<double>(r.F32(16), 0, 1e9);  // 0: one pixel
    QPen pen;
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    qint64 at = 20;
    if (flags & 0x1) at += 24;  // a transform stretching the nib: the width alone is kept
    std::optional<Cap> startCap, endCap;
    if (flags & 0x2) pen.setCapStyle(CapOf(r.U32(at))), startCap = AnchorCap(r.U32(at)), at += 4;
    if (flags & 0x4) endCap = AnchorCap(r.U32(at)), at += 4;
    if (flags & 0x8) pen.setJoinStyle(JoinOf(r.U32(at))), at += 4;
    if (flags & 0x10) pen.setMiterLimit(r.F32(at)), at += 4;
    if (flags & 0x20) {
        static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine,
                                              Qt::DashDotLine, Qt::DashDotDotLine};
        const uint32_t style = r.U32(at);
        if (style < 5) pen.setStyle(styles[style]);
        at += 4;
    }
    if (flags & 0x40) at += 4;
    if (flags & 0x80) pen.setDashOffset(r.F32(at)), at += 4;
    if (flags & 0x100) {
        const uint32_t n = r.U32(at);
        if (n > 0 && n < 1024 && r.Has(at + 4, qint64(n) * 4)) {
            QVector<qreal> dashes;
            for (uint32_t i = 0; i < n; ++i) dashes << std::max<qreal>(r.F32(at + 4 + i * 4), 0.01);
            if (dashes.size() % 2) dashes << dashes.last();
            pen.setDashPattern(dashes);
        }
        at += 4 + qint64(n) * 4;
    }
    if (flags & 0x200) at += 4;
    if (flags & 0x400) at += 4 + qint64(r.U32(at)) * 4;
    if (flags & 0x800) startCap = ReadCap(r, at + 4), at += 4 + qint64(r.U32(at));
    if (flags & 0x1000) endCap = ReadCap(r, at + 4), at += 4 + qint64(r.U32(at));
    const std::optional<Brush> brush = ReadBrush(r, at);
    if (!brush) return std::nullopt;
    pen.setBrush(brush->brush);
    return Pen{pen, *brush, width, unit != 2 && unit != 1, startCap, endCap};
}

// A custom cap (version, type, data): an adjustable arrow (width, height,
// middle inset, filled), or one drawn by its own fill path or line path.
std::optional<Cap> Renderer::ReadCap(const Reader& r, qint64 at) const {
    const qint64 data = at + 8;
    if (r.U32(at + 4) == 1)
        return Arrow(r.F32(data), r.F32(data + 4), r.F32(data + 8), r.U32(data + 12) != 0);
    const uint32_t flags = r.U32(data);
    const qint64 paths = data + 48;  // after the flags, caps, join, limits and hot spots
    if (!(flags & 0x3)) return std::nullopt;
    const QPainterPath path = ReadPath(r, paths + 4);
    if (path.isEmpty()) return std::nullopt;
    return Cap{path, bool(flags & 0x1)};
}

// version, count, flags, points, then one type byte a point.
QPainterPath Renderer::ReadPath(const Reader& r, qint64 at) const {
    const uint32_t count = r.U32(at + 4), flags = r.U32(at + 8);
    QPainterPath path;
    if (count == 0 || count > uint32_t(kMaxPoints) || (flags & kRelative)) return path;
    const QVector<QPointF> pts = PointsAt(r, at + 12, count, uint16_t(flags));
    if (pts.size() != qsizetype(count)) return path;
    qint64 types = at + 12 + qint64(count) * ((flags & kCompressed) ? 4 : 8);
    QVector<uint8_t> kinds;
    kinds.reserve(count);
    if (flags & 0x1000) {  // run-length: (run, type) pairs
        while (kinds.size() < qsizetype(count) && r.Has(types, 2)) {
            const int run = r.U8(types) & 0x3F;
            for (int i = 0; i < run && kinds.size() < qsizetype(count); ++i)
                kinds << r.U8(types + 1);
            types += 2;
        }
    } else {
        for (uint32_t i = 0; i < count && r.Has(types + i, 1); ++i) kinds << r.U8(types + i);
    }
    for (qsizetype i = 0; i < kinds.size(); ++i) {
        const int kind = kinds[i] & 0x07;
        if (kind == 0 || path.elementCount() == 0) {
            path.moveTo(pts[i]);
        } else if (kind == 3 && i + 2 < kinds.size()) {
            path.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            i += 2;
        } else {
            path.lineTo(pts[i]);
        }
        if (kinds[i] & 0x80) path.closeSubpath();
    }
    return path;
}

QPainterPath Renderer::ReadRegion(const Reader& r) const {
    qint64 at = 8;
    return RegionNode(r, at, 0);
}

// A node: a rectangle, a path, empty, everything, or two nodes combined.
QPainterPath Renderer::RegionNode(const Reader& r, qint64& at, int depth) const {
    QPainterPath result;
    if (depth > kMaxRegionDepth || !r.Has(at, 4)) return result;
    const uint32_t type = r.U32(at);
    at += 4;
    switch (type) {
        case 0x10000000:
            result.addRect(QRectF(r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12)));
            at += 16;
            return result;
        case 0x10000001: {
            const uint32_t size = r.U32(at);
            result = ReadPath(r, at + 4);
            at += 4 + qint64(size);
            return result;
        }
        case 0x10000002:
            return result;
        case 0x10000003:
            result.addRect(QRectF(-1e7, -1e7, 2e7, 2e7));
            return result;
        default:
            break;
    }
    const QPainterPath left = RegionNode(r, at, depth + 1);
    const QPainterPath right = RegionNode(r, at, depth + 1);
    switch (type) {
        case 1:
            return left.intersected(right);
        case 2:
            return left.united(right);
        case 3:
            return left.subtracted(right).united(right.subtracted(left));
        case 4:
            return left.subtracted(right);
        case 5:
            return right.subtracted(left);
        default:
            return result;
    }
}

// version, type (2: metafile), then the metafile's type, its size and its
// bytes. Enhanced metafiles are kept to be played where they are drawn; a
// Windows metafile is not drawn.
std::optional<NestedMetafile> Renderer::ReadNestedMetafile(const Reader& r, qint64 at) const {
    constexpr uint32_t kEmf = 3, kEmfPlusOnly = 4, kEmfPlusDual = 5;
    if (r.U32(at + 4) != 2) return std::nullopt;
    const uint32_t type = r.U32(at + 8), size = r.U32(at + 12);
    if ((type != kEmf && type != kEmfPlusOnly && type != kEmfPlusDual) || !r.Has(at + 16, size))
        return std::nullopt;
    const QByteArrayView data = r.Bytes(at + 16, size);
    const std::optional<EmfHeader> header = ReadEmfHeader(data);
    if (!header) return std::nullopt;
    return NestedMetafile{data.toByteArray(), EmfNaturalSize(*header)};
}

// version, type (1: bitmap), then width, height, stride, format, kind, data.
QImage Renderer::ReadImage(const Reader& r, qint64 at) const {
    if (r.U32(at + 4) != 1) return {};
    const int32_t width = r.I32(at + 8), height = r.I32(at + 12), stride = r.I32(at + 16);
    const uint32_t format = r.U32(at + 20), kind = r.U32(at + 24);
    const qint64 data = at + 28;
    if (kind == 1) return QImage::fromData(r.Bytes(data, r.size() - data));
    if (width <= 0 || height <= 0 || qint64(width) * height > kMaxImagePixels) return {};
    QImage::Format qtFormat;
    int bytes;
    switch (format) {
        case 0x0026200A:
            qtFormat = QImage::Format_ARGB32, bytes = 4;
            break;
        case 0x000E200B:
            qtFormat = QImage::Format_ARGB32_Premultiplied, bytes = 4;
            break;
        case 0x00022009:
            qtFormat = QImage::Format_RGB32, bytes = 4;
            break;
        case 0x00021808:
            qtFormat = QImage::Format_BGR888, bytes = 3;
            break;
        default:
            return {};
    }
    if (stride < width * bytes || !r.Has(data, qint64(stride) * height)) return {};
    QImage image(width, height, qtFormat);
    if (image.isNull()) return {};
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), r.Bytes(data + qint64(y) * stride, width * bytes).data(),
                    size_t(width) * bytes);
    // 24 bits a pixel are stored blue first, as QImage's BGR888 keeps them.
    if (format == 0x00021808) image = image.convertToFormat(QImage::Format_RGB32);
    return image;
}

// version, em size, unit, style, reserved, length, the family's name in UTF-16.
Font Renderer::ReadFont(const Reader& r) const {
    Font f;
    f.emSize = r.F32(4);
    f.unit = r.U32(8);
    const uint32_t style = r.U32(12), length = std::min<uint32_t>(r.U32(20), 64);
    const QByteArrayView name = r.Bytes(24, qint64(length) * 2);
    f.font.setFamily(
        QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()), name.size() / 2));
    f.font.setBold(style & 1);
    f.font.setItalic(style & 2);
    f.font.setUnderline(style & 4);
    f.font.setStrikeOut(style & 8);
    return f;
}

// ---- what drawing records refer to ------------------------------------------------

std::optional<Brush> Renderer::BrushFor(uint16_t flags, uint32_t value) const {
    if (flags & kSolidColour) return Brush{QBrush(Argb(value)), {}};
    const auto it = objects_.constFind(uint8_t(value));
    if (it == objects_.cend() || !std::holds_alternative<Brush>(*it)) return std::nullopt;
    return std::get<Brush>(*it);
}

const Pen* Renderer::PenAt(uint32_t id) const {
    const auto it = objects_.constFind(uint8_t(id));
    return it != objects_.cend() ? std::get_if<Pen>(&*it) : nullptr;
}

QVector<QPointF> Renderer::PointsAt(const Reader& r, qint64 at, uint32_t count,
                                    uint16_t flags) const {
    QVector<QPointF> pts;
    const qint64 step = (flags & kCompressed) ? 4 : 8;
    if ((flags & kRelative) || count > uint32_t(kMaxPoints) || !r.Has(at, qint64(count) * step))
        return pts;
    pts.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const qint64 o = at + i * step;
        pts << ((flags & kCompressed) ? QPointF(r.I16(o), r.I16(o + 2))
                                      : QPointF(r.F32(o), r.F32(o + 4)));
    }
    return pts;
}

QRectF Renderer::RectAt(const Reader& r, qint64 at, bool compressed) const {
    if (compressed) return QRectF(r.I16(at), r.I16(at + 2), r.I16(at + 4), r.I16(at + 6));
    return QRectF(r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12));
}

// ---- mapping, state and clipping ------------------------------------------------

// Device pixels of one unit: world and display units are taken as pixels.
double Renderer::UnitToPixels(uint32_t unit, bool vertical) const {
    const double dpi = vertical ? dpi_.height() : dpi_.width();
    switch (unit) {
        case 3:
            return dpi / 72;
        case 4:
            return dpi;
        case 5:
            return dpi / 300;
        case 6:
            return dpi / 25.4;
        default:
            return 1;
    }
}

QTransform Renderer::Page() const {
    return QTransform::fromScale(UnitToPixels(g_.pageUnit) * g_.pageScale,
                                 UnitToPixels(g_.pageUnit, true) * g_.pageScale);
}

void Renderer::Prepare() {
    p_.setTransform(out_);
    if (g_.clip)
        p_.setClipPath(*g_.clip);
    else
        p_.setClipping(false);
    p_.setTransform(ToDevice() * out_);
    p_.setRenderHint(QPainter::Antialiasing, antialias_);
    p_.setCompositionMode(composition_);
}

void Renderer::SetClip(const QPainterPath& devicePath, uint32_t mode) {
    const QPainterPath now = g_.clip.value_or(QPainterPath());
    const bool everything = !g_.clip;
    switch (mode) {
        case 0:
            g_.clip = devicePath;
            return;
        case 1:
            g_.clip = everything ? devicePath : now.intersected(devicePath);
            return;
        case 2:
            if (!everything) g_.clip = now.united(devicePath);
            return;
        case 3:
            if (!everything)
                g_.clip = now.subtracted(devicePath).united(devicePath.subtracted(now));
            return;
        case 4: {
            QPainterPath all;
            all.addRect(QRectF(-1e7, -1e7, 2e7, 2e7));
            g_.clip = (everything ? all : now).subtracted(devicePath);
            return;
        }
        case 5:
            g_.clip = everything ? QPainterPath() : devicePath.subtracted(now);
            return;
        default:
            return;
    }
}

void Renderer::Save(uint32_t index) {
    if (saved_.size() < kMaxSaveDepth || saved_.contains(index)) saved_.insert(index, g_);
}

void Renderer::Restore(uint32_t index) {
    const auto it = saved_.constFind(index);
    if (it != saved_.cend()) g_ = *it;
}

bool Renderer::StateRecord(uint16_t type, uint16_t flags, const Reader& r) {
    const bool append = flags & kAppend;
    auto multiply = [&](const QTransform& m) { g_.world = append ? g_.world * m : m * g_.world; };
    switch (type) {
        case kSetAntiAliasMode:
            antialias_ = flags & 1;
            return true;
        case kSetCompositingMode:
            composition_ = (flags & 0xFF) == 1 ? QPainter::CompositionMode_Source
                                               : QPainter::CompositionMode_SourceOver;
            return true;
        case kSave:
            Save(r.U32(0));
            return true;
        case kRestore:
        case kEndContainer:
            Restore(r.U32(0));
            return true;
        case kBeginContainerNoParams:
            Save(r.U32(0));
            return true;
        case kBeginContainer: {
            const QRectF dest(r.F32(0), r.F32(4), r.F32(8), r.F32(12));
            const QRectF src(r.F32(16), r.F32(20), r.F32(24), r.F32(28));
            Save(r.U32(32));
            if (src.width() == 0 || src.height() == 0) return true;
            const double unit = UnitToPixels(flags & 0xFF) / UnitToPixels(g_.pageUnit);
            const double sx = dest.width() / src.width() * unit;
            const double sy = dest.height() / src.height() * unit;
            multiply(QTransform(sx, 0, 0, sy, dest.x() - src.x() * sx, dest.y() - src.y() * sy));
            return true;
        }
        case kSetWorldTransform:
            g_.world = MatrixAt(r, 0);
            return true;
        case kResetWorldTransform:
            g_.world = QTransform();
            return true;
        case kMultiplyWorldTransform:
            multiply(MatrixAt(r, 0));
            return true;
        case kTranslateWorldTransform:
            multiply(QTransform::fromTranslate(r.F32(0), r.F32(4)));
            return true;
        case kScaleWorldTransform:
            multiply(QTransform::fromScale(r.F32(0), r.F32(4)));
            return true;
        case kRotateWorldTransform:
            multiply(QTransform().rotate(r.F32(0)));
            return true;
        case kSetPageTransform:
            g_.pageUnit = flags & 0xFF;
            g_.pageScale = r.F32(0) > 0 ? r.F32(0) : 1;
            return true;
        case kResetClip:
            g_.clip.reset();
            return true;
        case kSetClipRect: {
            QPainterPath rect;
            rect.addRect(RectAt(r, 0, false));
            SetClip(ToDevice().map(rect), (flags >> 8) & 0xF);
            return true;
        }
        case kSetClipPath:
        case kSetClipRegion: {
            const auto it = objects_.constFind(uint8_t(flags & 0xFF));
            if (it != objects_.cend() && std::holds_alternative<QPainterPath>(*it))
                SetClip(ToDevice().map(std::get<QPainterPath>(*it)), (flags >> 8) & 0xF);
            return true;
        }
        case kOffsetClip:
            if (g_.clip) {
                const QPointF by =
                    ToDevice().map(QPointF(r.F32(0), r.F32(4))) - ToDevice().map(QPointF(0, 0));
                g_.clip->translate(by);
            }
            return true;
        default:
            return false;
    }
}

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
    if (bitmap) return DrawPicture(*bitmap, src, place);
    // A nested metafile is played at the resolution it is drawn at, within the
    // limits of one picture and of nesting.
    static thread_local int depth = 0;
    if (depth >= kMaxNesting) return;
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
    DrawPicture(played, scaled, place);
}

void Renderer::DrawPicture(const QImage& image, QRectF src, const QTransform& place) {
    Prepare();
    p_.setTransform(QTransform::fromScale(1 / src.width(), 1 / src.height()) * place * ToDevice() *
                    out_);
    p_.drawImage(QRectF(0, 0, src.width(), src.height()), image, src);
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
