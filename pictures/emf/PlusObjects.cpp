// EMF+ objects decoded from their records, with no painter: brushes, pens
// and their caps, paths, regions, pictures (bitmaps and nested metafiles) and fonts.
#include "pictures/emf/PlusObjects.h"

#include "pictures/emf/EmfPlayer.h"
#include "pictures/emf/PlusRecords.h"
#include "pictures/emf/WmfPlayer.h"

#include <QtMath>
#include <cstring>

namespace emf::plus {

namespace {

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

}  // namespace

// version (4), type (4), then the brush's own data.
std::optional<Brush> ReadBrush(const Reader& r, qint64 at) {
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
std::optional<Pen> ReadPen(const Reader& r) {
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
std::optional<Cap> ReadCap(const Reader& r, qint64 at) {
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
QPainterPath ReadPath(const Reader& r, qint64 at) {
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

QPainterPath ReadRegion(const Reader& r) {
    qint64 at = 8;
    return RegionNode(r, at, 0);
}

// A node: a rectangle, a path, empty, everything, or two nodes combined.
QPainterPath RegionNode(const Reader& r, qint64& at, int depth) {
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
            return Everything();
        default:
            break;
    }
    const QPainterPath left = RegionNode(r, at, depth + 1);
    const QPainterPath right = RegionNode(r, at, depth + 1);
    if (type < uint32_t(Combine::Intersect) || type > uint32_t(Combine::Complement)) return result;
    return Combined(left, right, Combine(type));
}

// version, type (2: metafile), then the metafile's type (1 and 2 Windows,
// placeable or not; 3 to 5 enhanced), its size and its bytes, kept to be
// played where they are drawn.
std::optional<NestedMetafile> ReadNestedMetafile(const Reader& r, qint64 at) {
    constexpr uint32_t kWmf = 1, kWmfPlaceable = 2, kEmfPlusDual = 5;
    if (r.U32(at + 4) != 2) return std::nullopt;
    const uint32_t type = r.U32(at + 8), size = r.U32(at + 12);
    if (type < kWmf || type > kEmfPlusDual || !r.Has(at + 16, size)) return std::nullopt;
    const QByteArrayView data = r.Bytes(at + 16, size);
    // A Windows metafile is played as the enhanced metafile it translates to.
    const QByteArray enhanced = type == kWmf || type == kWmfPlaceable
                                    ? WmfToEmf(data).value_or(QByteArray())
                                    : data.toByteArray();
    const std::optional<EmfHeader> header = ReadEmfHeader(enhanced);
    if (!header) return std::nullopt;
    return NestedMetafile{enhanced, EmfNaturalSize(*header)};
}

namespace {

// The pixel formats of EMF+ bitmaps, as their numbers say: bits a pixel in
// the second byte, indexed, alpha and premultiplied flags above.
enum PixelFormat : uint32_t {
    k1bppIndexed = 0x00030101,
    k4bppIndexed = 0x00030402,
    k8bppIndexed = 0x00030803,
    k16bppRgb555 = 0x00021005,
    k16bppRgb565 = 0x00021006,
    k16bppArgb1555 = 0x00061007,
    k24bppRgb = 0x00021808,
    k32bppRgb = 0x00022009,
    k32bppArgb = 0x0026200A,
    k32bppPArgb = 0x000E200B,
};

// A palette object: flags, count, then the colours as 0xAARRGGBB.
QVector<QRgb> ReadPalette(const Reader& r, qint64& at) {
    const uint32_t count = std::min<uint32_t>(r.U32(at + 4), 256);
    QVector<QRgb> colours;
    if (!r.Has(at + 8, qint64(count) * 4)) return colours;
    for (uint32_t i = 0; i < count; ++i) colours << r.U32(at + 8 + i * 4);
    at += 8 + qint64(count) * 4;
    return colours;
}

// The colour of pixel x of a row, for the formats that are not copied whole.
QRgb PixelAt(const Reader& r, qint64 row, int x, uint32_t format, const QVector<QRgb>& palette) {
    const int bits = (format >> 8) & 0xFF;
    if (format & 0x00010000) {  // indexed
        const int perByte = 8 / bits, shift = 8 - bits * (x % perByte + 1);
        const int index = (r.U8(row + x / perByte) >> shift) & ((1 << bits) - 1);
        return index < palette.size() ? palette[index] : qRgb(0, 0, 0);
    }
    const uint16_t p = r.U16(row + qint64(x) * 2);
    const auto scale5 = [](int v) { return (v << 3) | (v >> 2); };
    if (format == k16bppRgb565)
        return qRgb(scale5(p >> 11), ((p >> 5 & 0x3F) << 2) | ((p >> 5 & 0x3F) >> 4),
                    scale5(p & 0x1F));
    const int alpha = format == k16bppArgb1555 && !(p & 0x8000) ? 0 : 255;
    return qRgba(scale5(p >> 10 & 0x1F), scale5(p >> 5 & 0x1F), scale5(p & 0x1F), alpha);
}

}  // namespace

// version, type (1: bitmap), then width, height, stride, format, kind, data
// (an indexed one's palette first).
QImage ReadImage(const Reader& r, qint64 at) {
    if (r.U32(at + 4) != 1) return {};
    const int32_t width = r.I32(at + 8), height = r.I32(at + 12), stride = r.I32(at + 16);
    const uint32_t format = r.U32(at + 20), kind = r.U32(at + 24);
    qint64 data = at + 28;
    if (kind == 1) return QImage::fromData(r.Bytes(data, r.size() - data));
    if (width <= 0 || height <= 0 || qint64(width) * height > kMaxImagePixels) return {};
    QImage::Format qtFormat = QImage::Format_ARGB32;
    switch (format) {
        case k32bppArgb:
            break;
        case k32bppPArgb:
            qtFormat = QImage::Format_ARGB32_Premultiplied;
            break;
        case k32bppRgb:
            qtFormat = QImage::Format_RGB32;
            break;
        case k24bppRgb:  // stored blue first, as QImage's BGR888 keeps them
            qtFormat = QImage::Format_BGR888;
            break;
        case k1bppIndexed:
        case k4bppIndexed:
        case k8bppIndexed:
        case k16bppRgb555:
        case k16bppRgb565:
        case k16bppArgb1555:
            break;
        default:
            return {};
    }
    const QVector<QRgb> palette = format & 0x00010000 ? ReadPalette(r, data) : QVector<QRgb>();
    const int bits = (format >> 8) & 0xFF;
    const qint64 rowBytes = (qint64(width) * bits + 7) / 8;
    if (stride < rowBytes || !r.Has(data, qint64(stride) * (height - 1) + rowBytes)) return {};
    QImage image(width, height, qtFormat);
    if (image.isNull()) return {};
    const bool copied = bits >= 24;
    for (int y = 0; y < height; ++y) {
        const qint64 row = data + qint64(y) * stride;
        if (copied) {
            std::memcpy(image.scanLine(y), r.Bytes(row, rowBytes).data(), size_t(rowBytes));
            continue;
        }
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) line[x] = PixelAt(r, row, x, format, palette);
    }
    if (format == k24bppRgb) image = image.convertToFormat(QImage::Format_RGB32);
    return image;
}

// version, em size, unit, style, reserved, length, the family's name in UTF-16.
Font ReadFont(const Reader& r) {
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

QVector<QPointF> PointsAt(const Reader& r, qint64 at, uint32_t count, uint16_t flags) {
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

QRectF RectAt(const Reader& r, qint64 at, bool compressed) {
    if (compressed) return QRectF(r.I16(at), r.I16(at + 2), r.I16(at + 4), r.I16(at + 6));
    return QRectF(r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12));
}

std::optional<Object> DecodeObject(uint32_t kind, const Reader& r) {
    switch (kind) {
        case kBrushObject:
            if (auto brush = ReadBrush(r, 0)) return *brush;
            return std::nullopt;
        case kPenObject:
            if (auto pen = ReadPen(r)) return *pen;
            return std::nullopt;
        case kPathObject:
            return ReadPath(r, 0);
        case kRegionObject:
            return ReadRegion(r);
        case kImageObject:
            if (std::optional<NestedMetafile> nested = ReadNestedMetafile(r, 0)) return *nested;
            return ReadImage(r, 0);
        case kFontObject:
            return ReadFont(r);
        case kStringFormatObject:
            return StringFormat{r.U32(12), r.U32(16)};
        case kImageAttributesObject:  // version, reserved, wrap mode, clamp colour
            return ImageAttributes{std::min<uint32_t>(r.U32(8), 4), Argb(r.U32(12))};
        default:
            return std::nullopt;
    }
}

}  // namespace emf::plus
