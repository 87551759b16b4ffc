#include "pictures/EmfPlayer.h"

#include "pictures/Dib.h"
#include "platform/CodePage932.h"

#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>
#include <QtMath>
#include <cmath>
#include <variant>

namespace {

// ---- record types ----------------------------------------------------------

enum Record : uint32_t {
    kHeader = 1,
    kPolyBezier = 2,
    kPolygon = 3,
    kPolyline = 4,
    kPolyBezierTo = 5,
    kPolylineTo = 6,
    kPolyPolyline = 7,
    kPolyPolygon = 8,
    kSetWindowExtEx = 9,
    kSetWindowOrgEx = 10,
    kSetViewportExtEx = 11,
    kSetViewportOrgEx = 12,
    kEof = 14,
    kSetPixelV = 15,
    kSetMapMode = 17,
    kSetBkMode = 18,
    kSetPolyFillMode = 19,
    kSetRop2 = 20,
    kSetTextAlign = 22,
    kSetTextColor = 24,
    kSetBkColor = 25,
    kOffsetClipRgn = 26,
    kMoveToEx = 27,
    kExcludeClipRect = 29,
    kIntersectClipRect = 30,
    kScaleViewportExtEx = 31,
    kScaleWindowExtEx = 32,
    kSaveDc = 33,
    kRestoreDc = 34,
    kSetWorldTransform = 35,
    kModifyWorldTransform = 36,
    kSelectObject = 37,
    kCreatePen = 38,
    kCreateBrushIndirect = 39,
    kDeleteObject = 40,
    kAngleArc = 41,
    kEllipse = 42,
    kRectangle = 43,
    kRoundRect = 44,
    kArc = 45,
    kChord = 46,
    kPie = 47,
    kLineTo = 54,
    kArcTo = 55,
    kSetArcDirection = 57,
    kSetMiterLimit = 58,
    kBeginPath = 59,
    kEndPath = 60,
    kCloseFigure = 61,
    kFillPath = 62,
    kStrokeAndFillPath = 63,
    kStrokePath = 64,
    kSelectClipPath = 67,
    kAbortPath = 68,
    kFillRgn = 71,
    kPaintRgn = 74,
    kExtSelectClipRgn = 75,
    kBitBlt = 76,
    kStretchBlt = 77,
    kSetDiBitsToDevice = 80,
    kStretchDiBits = 81,
    kExtCreateFontIndirectW = 82,
    kExtTextOutA = 83,
    kExtTextOutW = 84,
    kPolyBezier16 = 85,
    kPolygon16 = 86,
    kPolyline16 = 87,
    kPolyBezierTo16 = 88,
    kPolylineTo16 = 89,
    kPolyPolyline16 = 90,
    kPolyPolygon16 = 91,
    kCreateMonoBrush = 93,
    kCreateDibPatternBrushPt = 94,
    kExtCreatePen = 95,
    kAlphaBlend = 114,
    kTransparentBlt = 116,
    kGradientFill = 118,
};

constexpr uint32_t kSrcCopy = 0x00CC0020, kSrcPaint = 0x00EE0086, kSrcAnd = 0x008800C6,
                   kSrcInvert = 0x00660046, kNotSrcCopy = 0x00330008, kPatCopy = 0x00F00021,
                   kBlackness = 0x00000042, kWhiteness = 0x00FF0062, kDstInvert = 0x00550009,
                   kSrcErase = 0x00440328, kMergePaint = 0x00BB0226, kPatInvert = 0x005A0049;

constexpr int kMaxRecords = 2'000'000;
constexpr int kMaxPoints = 1 << 22;
constexpr int kMaxSaveDepth = 4096;

// ---- bounds-checked reading of one record ---------------------------------

class Reader {
  public:
    explicit Reader(QByteArrayView record) : d_(record) {}
    qsizetype size() const { return d_.size(); }
    bool Has(qint64 offset, qint64 length) const {
        return offset >= 0 && length >= 0 && offset <= d_.size() && length <= d_.size() - offset;
    }
    int32_t I32(qint64 at) const {
        return Has(at, 4) ? qFromLittleEndian<int32_t>(d_.data() + at) : 0;
    }
    uint32_t U32(qint64 at) const { return uint32_t(I32(at)); }
    int16_t I16(qint64 at) const {
        return Has(at, 2) ? qFromLittleEndian<int16_t>(d_.data() + at) : 0;
    }
    uint16_t U16(qint64 at) const { return uint16_t(I16(at)); }
    uint8_t U8(qint64 at) const { return Has(at, 1) ? uint8_t(d_[at]) : 0; }
    float F32(qint64 at) const {
        const uint32_t bits = U32(at);
        float f;
        std::memcpy(&f, &bits, 4);
        return std::isfinite(f) ? f : 0.0f;
    }
    QByteArrayView Bytes(qint64 at, qint64 length) const {
        return Has(at, length) ? d_.sliced(at, length) : QByteArrayView();
    }
    QPointF Point32(qint64 at) const { return QPointF(I32(at), I32(at + 4)); }
    QRectF Box(qint64 at) const {  // a RECTL as left, top, right, bottom
        return QRectF(QPointF(I32(at), I32(at + 4)), QPointF(I32(at + 8), I32(at + 12)));
    }

  private:
    QByteArrayView d_;
};

QColor ColorRef(uint32_t c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// ---- graphics objects ------------------------------------------------------

struct Pen {
    Qt::PenStyle style = Qt::SolidLine;
    QVector<qreal> dashes;  // user styles, in pen widths
    double width = 0;       // logical units; 0 draws one device pixel
    bool cosmetic = true;
    QColor color = Qt::black;
    Qt::PenCapStyle cap = Qt::RoundCap;
    Qt::PenJoinStyle join = Qt::RoundJoin;
};

struct Brush {
    bool null = false;
    QColor color = Qt::white;
    Qt::BrushStyle style = Qt::SolidPattern;
    QImage pattern;
};

struct Font {
    double height = 12;     // logical units; negative: character height, positive: cell height
    double escapement = 0;  // tenths of a degree
    int weight = 400;
    bool italic = false, underline = false, strikeOut = false;
    int charset = 0;
    QString face;
};

using Object = std::variant<Pen, Brush, Font>;

struct DcState {
    int mapMode = 1;
    QPointF windowOrg, viewportOrg;
    QSizeF windowExt{1, 1}, viewportExt{1, 1};
    QTransform world;
    Pen pen;
    Brush brush;
    Font font;
    QColor textColor = Qt::black, bkColor = Qt::white;
    bool opaqueBk = true;
    uint32_t textAlign = 0;
    Qt::FillRule fillRule = Qt::OddEvenFill;
    int rop2 = 13;  // R2_COPYPEN
    bool clockwise = false;
    double miterLimit = 10;
    QPointF position;
    std::optional<QPainterPath> clip;  // reference-device pixels
};

// ---- the player ------------------------------------------------------------

class Player {
  public:
    Player(QPainter& painter, const EmfHeader& header, QSize size) : p_(painter), header_(header) {
        // The frame, taken to reference-device pixels, fills the picture.
        const double pxPerMmX =
            double(header.device.width()) / std::max(1, header.millimeters.width());
        const double pxPerMmY =
            double(header.device.height()) / std::max(1, header.millimeters.height());
        QRectF frame(header.frame.left() * pxPerMmX / 100.0, header.frame.top() * pxPerMmY / 100.0,
                     (header.frame.width()) * pxPerMmX / 100.0,
                     (header.frame.height()) * pxPerMmY / 100.0);
        if (frame.width() < 1 || frame.height() < 1) frame = QRectF(header.bounds);
        pxPerMm_ = QSizeF(pxPerMmX, pxPerMmY);
        out_ = QTransform::fromTranslate(-frame.left(), -frame.top()) *
               QTransform::fromScale(size.width() / std::max(1e-6, frame.width()),
                                     size.height() / std::max(1e-6, frame.height()));
        outScale_ = std::sqrt(std::abs(out_.determinant()));
        p_.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                          QPainter::TextAntialiasing);
    }

    void Play(QByteArrayView data) {
        qint64 offset = 0;
        for (int n = 0; n < kMaxRecords && offset + 8 <= data.size(); ++n) {
            const uint32_t type = qFromLittleEndian<uint32_t>(data.data() + offset);
            const uint32_t size = qFromLittleEndian<uint32_t>(data.data() + offset + 4);
            if (size < 8 || size > data.size() - offset) return;  // a lying size ends playback
            const Reader r(data.sliced(offset, size));
            if (type == kEof) return;
            Dispatch(type, r);
            offset += size;
        }
    }

  private:
    // ---- transforms --------------------------------------------------------

    QTransform PageTransform() const {
        QSizeF wExt = s_.windowExt, vExt = s_.viewportExt;
        switch (s_.mapMode) {
            case 2:
                wExt = {1, 1}, vExt = {pxPerMm_.width() / 10, -pxPerMm_.height() / 10};
                break;
            case 3:
                wExt = {1, 1}, vExt = {pxPerMm_.width() / 100, -pxPerMm_.height() / 100};
                break;
            case 4:
                wExt = {1, 1}, vExt = {pxPerMm_.width() * 0.254, -pxPerMm_.height() * 0.254};
                break;
            case 5:
                wExt = {1, 1}, vExt = {pxPerMm_.width() * 0.0254, -pxPerMm_.height() * 0.0254};
                break;
            case 6:
                wExt = {1, 1},
                vExt = {pxPerMm_.width() * 25.4 / 1440, -pxPerMm_.height() * 25.4 / 1440};
                break;
            case 7:
            case 8:
                break;
            default:
                wExt = {1, 1}, vExt = {1, 1};
                break;
        }
        if (wExt.width() == 0 || wExt.height() == 0) wExt = {1, 1};
        double sx = vExt.width() / wExt.width(), sy = vExt.height() / wExt.height();
        if (s_.mapMode == 7) {  // isotropic: the smaller scale in both directions
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        return QTransform::fromTranslate(-s_.windowOrg.x(), -s_.windowOrg.y()) *
               QTransform::fromScale(sx, sy) *
               QTransform::fromTranslate(s_.viewportOrg.x(), s_.viewportOrg.y());
    }

    QTransform ToDevice() const { return s_.world * PageTransform(); }
    QTransform Full() const { return ToDevice() * out_; }

    void Apply() {
        if (clipDirty_) {
            p_.setTransform(out_);
            if (s_.clip)
                p_.setClipPath(*s_.clip);
            else
                p_.setClipping(false);
            clipDirty_ = false;
        }
        p_.setTransform(Full());
    }

    // ---- pens and brushes --------------------------------------------------

    QPen MakePen() const {
        const Pen& pen = s_.pen;
        if (pen.style == Qt::NoPen) return QPen(Qt::NoPen);
        QPen q(pen.color);
        q.setCapStyle(pen.cap);
        q.setJoinStyle(pen.join);
        q.setMiterLimit(s_.miterLimit);
        if (pen.cosmetic || pen.width <= 0) {
            // One reference-device pixel (at least one pixel of the picture), whatever the mapping.
            const double scale = std::sqrt(std::abs(Full().determinant()));
            q.setWidthF(std::max(1.0, outScale_) / std::max(scale, 1e-9));
        } else {
            q.setWidthF(pen.width);
        }
        if (!pen.dashes.isEmpty()) {
            q.setDashPattern(pen.dashes);
        } else {
            q.setStyle(pen.style);
        }
        return q;
    }

    QBrush MakeBrush() const {
        const Brush& b = s_.brush;
        if (b.null) return Qt::NoBrush;
        if (!b.pattern.isNull()) return QBrush(b.pattern);
        return QBrush(b.color, b.style);
    }

    void Fill(const QPainterPath& path) {
        if (s_.brush.null) return;
        Apply();
        QPainterPath filled = path;
        filled.setFillRule(s_.fillRule);
        if (s_.brush.style != Qt::SolidPattern && s_.brush.pattern.isNull() && s_.opaqueBk)
            p_.fillPath(filled, s_.bkColor);
        // Hatches and patterns keep their size in pixels.
        if (s_.brush.style != Qt::SolidPattern || !s_.brush.pattern.isNull()) {
            p_.setTransform(out_);
            p_.fillPath(Full().map(filled) * out_.inverted(), MakeBrush());
            return;
        }
        p_.fillPath(filled, MakeBrush());
    }

    void Stroke(const QPainterPath& path) {
        if (s_.pen.style == Qt::NoPen) return;
        Apply();
        p_.strokePath(path, MakePen());
    }

    void Draw(const QPainterPath& path, bool fill) {
        if (inPath_) {
            path_.addPath(path);
            return;
        }
        if (fill) Fill(path);
        Stroke(path);
    }

    // ---- points ------------------------------------------------------------

    QVector<QPointF> Points(const Reader& r, qint64 at, uint32_t count, bool small) const {
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
    void Poly(uint32_t type, const Reader& r) {
        const bool small = type >= kPolyBezier16 && type <= kPolyPolygon16;
        const uint32_t kind = small ? type - (kPolyBezier16 - kPolyBezier) : type;
        if (kind == kPolyPolyline || kind == kPolyPolygon) return PolyPoly(kind, r, small);
        const QVector<QPointF> pts = Points(r, 28, r.U32(24), small);
        if (pts.isEmpty()) return;
        QPainterPath path;
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
    void AppendToFigure(const QPainterPath& piece) {
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
    void PolyPoly(uint32_t kind, const Reader& r, bool small) {
        const uint32_t polys = r.U32(24), total = r.U32(28);
        if (polys > uint32_t(kMaxPoints) || !r.Has(32, qint64(polys) * 4)) return;
        const QVector<QPointF> pts = Points(r, 32 + qint64(polys) * 4, total, small);
        QPainterPath path;
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

    // ---- arcs --------------------------------------------------------------

    double AngleOf(const QRectF& box, QPointF p) const {
        const QPointF c = box.center();
        // Points on the ellipse's own scale, so that radial points give true angles.
        const double x = (p.x() - c.x()) / std::max(box.width() / 2, 1e-9);
        const double y = (p.y() - c.y()) / std::max(box.height() / 2, 1e-9);
        return qRadiansToDegrees(std::atan2(-y, x));
    }

    double Sweep(double start, double end) const {
        double sweep = end - start;
        if (!s_.clockwise) {
            while (sweep <= 0) sweep += 360;
        } else {
            while (sweep >= 0) sweep -= 360;
        }
        return sweep;
    }

    void ArcRecord(uint32_t type, const Reader& r) {
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

    // ---- objects -----------------------------------------------------------

    void CreatePen(const Reader& r) {
        Pen pen;
        const uint32_t style = r.U32(12);
        pen.width = r.I32(16);
        pen.color = ColorRef(r.U32(24));
        pen.cosmetic = pen.width <= 1;
        SetPenStyle(pen, style);
        objects_[r.U32(8)] = pen;
    }

    // Dash style, end cap and join from a pen style's three fields.
    void SetPenStyle(Pen& pen, uint32_t style) {
        constexpr Qt::PenStyle dashes[] = {Qt::SolidLine,   Qt::DashLine,       Qt::DotLine,
                                           Qt::DashDotLine, Qt::DashDotDotLine, Qt::NoPen};
        constexpr Qt::PenCapStyle caps[] = {Qt::RoundCap, Qt::SquareCap, Qt::FlatCap};
        constexpr Qt::PenJoinStyle joins[] = {Qt::RoundJoin, Qt::BevelJoin, Qt::MiterJoin};
        const uint32_t dash = style & 0xF, cap = (style >> 8) & 0xF, join = (style >> 12) & 0xF;
        pen.style = dash < 6 ? dashes[dash] : Qt::SolidLine;
        pen.cap = cap < 3 ? caps[cap] : Qt::RoundCap;
        pen.join = join < 3 ? joins[join] : Qt::RoundJoin;
    }

    // ihPen, offBmi, cbBmi, offBits, cbBits, then the extended pen.
    void ExtCreatePen(const Reader& r) {
        Pen pen;
        const uint32_t style = r.U32(28);
        pen.width = r.U32(32);
        pen.cosmetic = !(style & 0x10000);
        const uint32_t brushStyle = r.U32(36);
        pen.color = ColorRef(r.U32(40));
        SetPenStyle(pen, style);
        if (brushStyle == 1) pen.style = Qt::NoPen;
        const uint32_t entries = r.U32(48);
        if ((style & 0xF) == 7 && entries > 0 && entries <= 64 && r.Has(52, entries * 4)) {
            const double unit = std::max(pen.width, 1.0);
            for (uint32_t i = 0; i < entries; ++i)
                pen.dashes << std::max(r.U32(52 + i * 4) / unit, 0.01);
            if (pen.dashes.size() % 2) pen.dashes << pen.dashes;  // an odd count repeats
        }
        objects_[r.U32(8)] = pen;
    }

    Brush SolidOrHatch(uint32_t style, QColor color, uint32_t hatch) const {
        Brush b;
        b.color = color;
        if (style == 1) b.null = true;
        if (style == 2) {
            const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                              Qt::FDiagPattern, Qt::BDiagPattern,
                                              Qt::CrossPattern, Qt::DiagCrossPattern};
            b.style = hatch < 6 ? hatches[hatch] : Qt::SolidPattern;
        }
        return b;
    }

    void CreateBrush(const Reader& r) {
        objects_[r.U32(8)] = SolidOrHatch(r.U32(12), ColorRef(r.U32(16)), r.U32(20));
    }

    // ihBrush, iUsage, offBmi, cbBmi, offBits, cbBits.
    void CreatePatternBrush(const Reader& r, bool mono) {
        Brush b;
        b.pattern = Dib(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28));
        if (mono && !b.pattern.isNull()) {
            // A monochrome pattern takes the text and background colours.
            QImage colored(b.pattern.size(), QImage::Format_RGB32);
            for (int y = 0; y < colored.height(); ++y)
                for (int x = 0; x < colored.width(); ++x)
                    colored.setPixel(
                        x, y,
                        qGray(b.pattern.pixel(x, y)) < 128 ? s_.textColor.rgb() : s_.bkColor.rgb());
            b.pattern = colored;
        }
        if (b.pattern.isNull()) b.color = Qt::black;
        objects_[r.U32(8)] = b;
    }

    void CreateFont(const Reader& r) {
        Font f;
        f.height = r.I32(12);
        f.escapement = r.I32(20);
        f.weight = r.I32(28);
        f.italic = r.U8(32);
        f.underline = r.U8(33);
        f.strikeOut = r.U8(34);
        f.charset = r.U8(35);
        const QByteArrayView face = r.Bytes(40, 64);
        QString name;
        for (int i = 0; i + 1 < face.size(); i += 2) {
            const char16_t c = qFromLittleEndian<char16_t>(face.data() + i);
            if (c == 0) break;
            name += QChar(c);
        }
        f.face = name;
        objects_[r.U32(8)] = f;
    }

    void SelectStock(uint32_t index) {
        switch (index) {
            case 0:
                s_.brush = SolidOrHatch(0, Qt::white, 0);
                break;
            case 1:
                s_.brush = SolidOrHatch(0, QColor(192, 192, 192), 0);
                break;
            case 2:
                s_.brush = SolidOrHatch(0, QColor(128, 128, 128), 0);
                break;
            case 3:
                s_.brush = SolidOrHatch(0, QColor(64, 64, 64), 0);
                break;
            case 4:
                s_.brush = SolidOrHatch(0, Qt::black, 0);
                break;
            case 5:
                s_.brush = SolidOrHatch(1, Qt::black, 0);
                break;
            case 6:
                s_.pen = Pen{Qt::SolidLine, {}, 0, true, Qt::white};
                break;
            case 7:
                s_.pen = Pen{};
                break;
            case 8:
                s_.pen = Pen{Qt::NoPen, {}, 0, true, Qt::black};
                break;
            case 10:
            case 11:
            case 12:
            case 13:
            case 14:
            case 16:
            case 17:
                s_.font = Font{};
                break;
            default:
                break;
        }
    }

    void SelectObject(uint32_t handle) {
        if (handle & 0x80000000u) return SelectStock(handle & 0x7FFFFFFFu);
        const auto it = objects_.constFind(handle);
        if (it == objects_.cend()) return;
        if (const Pen* pen = std::get_if<Pen>(&*it)) s_.pen = *pen;
        if (const Brush* brush = std::get_if<Brush>(&*it)) s_.brush = *brush;
        if (const Font* font = std::get_if<Font>(&*it)) s_.font = *font;
    }

    // ---- clipping ----------------------------------------------------------

    QPainterPath Everything() const {
        QPainterPath all;
        all.addRect(QRectF(-1e7, -1e7, 2e7, 2e7));
        return all;
    }

    void Combine(const QPainterPath& region, uint32_t mode) {
        const QPainterPath current = s_.clip.value_or(Everything());
        switch (mode) {
            case 1:
                s_.clip = current.intersected(region);
                break;
            case 2:
                s_.clip = s_.clip ? current.united(region) : current;
                break;
            case 3:
                s_.clip = current.subtracted(region).united(region.subtracted(current));
                break;
            case 4:
                s_.clip = current.subtracted(region);
                break;
            default:
                s_.clip = region;
                break;
        }
        clipDirty_ = true;
    }

    QPainterPath DeviceRect(const QRectF& logical) const {
        QPainterPath path;
        path.addRect(logical.normalized());
        return ToDevice().map(path);
    }

    // cbRgnData, iMode, then a region: a 32-byte header and rectangles in device pixels.
    void ExtSelectClipRgn(const Reader& r) {
        const uint32_t bytes = r.U32(8), mode = r.U32(12);
        if (bytes == 0 || !r.Has(16, 32)) {
            if (mode == 5) {
                s_.clip.reset();
                clipDirty_ = true;
            }
            return;
        }
        Combine(Region(r, 16), mode);
    }

    QPainterPath Region(const Reader& r, qint64 at) const {
        const uint32_t count = r.U32(at + 8);
        QPainterPath region;
        if (count > uint32_t(kMaxPoints) || !r.Has(at + 32, qint64(count) * 16)) return region;
        for (uint32_t i = 0; i < count; ++i) region.addRect(r.Box(at + 32 + i * 16).normalized());
        return region.simplified();
    }

    void SelectClipPath(const Reader& r) {
        QPainterPath device = ToDevice().map(path_);
        device.setFillRule(s_.fillRule);
        Combine(device, r.U32(8));
        path_ = QPainterPath();
    }

    // ---- text --------------------------------------------------------------

    QFont MakeFont(double pixelHeight) const {
        QFont font(s_.font.face.isEmpty() ? QStringLiteral("ＭＳ ゴシック") : s_.font.face);
        font.setPixelSize(qRound(std::clamp(pixelHeight, 1.0, 4096.0)));
        font.setWeight(
            QFont::Weight(std::clamp(s_.font.weight == 0 ? 400 : s_.font.weight, 100, 900)));
        font.setItalic(s_.font.italic);
        font.setUnderline(s_.font.underline);
        font.setStrikeOut(s_.font.strikeOut);
        font.setHintingPreference(QFont::PreferNoHinting);
        return font;
    }

    QString DecodeAnsi(QByteArrayView bytes) const {
        if (s_.font.charset == 128) return cp932::Decode(bytes);  // SHIFTJIS_CHARSET
        return QString::fromLatin1(bytes.data(), bytes.size());
    }

    // bounds (16), graphics mode, x and y scale, then the text: reference
    // point, count, offset of the string, options, rectangle, offset of the widths.
    void ExtTextOut(const Reader& r, bool wide) {
        const uint32_t count = r.U32(44), offString = r.U32(48), options = r.U32(52);
        const uint32_t offDx = r.U32(72);
        if (count == 0 || count > 100000) return;
        QString text;
        if (wide) {
            const QByteArrayView raw = r.Bytes(offString, qint64(count) * 2);
            if (raw.isEmpty()) return;
            for (uint32_t i = 0; i < count; ++i)
                text += QChar(qFromLittleEndian<char16_t>(raw.data() + i * 2));
        } else {
            const QByteArrayView raw = r.Bytes(offString, count);
            if (raw.isEmpty()) return;
            text = DecodeAnsi(raw);
        }
        const bool pdy = options & 0x2000;
        QVector<double> dx;
        if (offDx != 0 && r.Has(offDx, qint64(count) * (pdy ? 8 : 4))) {
            // ANSI text with double-byte characters has one width per byte: merge them.
            for (uint32_t i = 0; i < count; ++i) dx << r.I32(offDx + i * (pdy ? 8 : 4));
        }
        const QRectF rect = r.Box(56);
        if (options & 0x2) {  // ETO_OPAQUE
            Apply();
            p_.fillRect(rect.normalized(), s_.bkColor);
        }
        DrawText(r.Point32(36), text, wide ? dx : AnsiWidths(r, dx, offString, count), rect,
                 options & 0x4);
    }

    QVector<double> AnsiWidths(const Reader& r, const QVector<double>& dx, uint32_t offString,
                               uint32_t count) const {
        if (dx.isEmpty() || s_.font.charset != 128) return dx;
        QVector<double> merged;
        for (uint32_t i = 0; i < count && i < uint32_t(dx.size()); ++i) {
            const uint8_t b = r.U8(offString + i);
            const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
            if (lead && i + 1 < count) {
                merged << dx[i] + dx[i + 1];
                ++i;
            } else {
                merged << dx[i];
            }
        }
        return merged;
    }

    void DrawText(QPointF reference, const QString& text, const QVector<double>& dx,
                  const QRectF& clipRect, bool clipped) {
        const bool updateCp = s_.textAlign & 1;
        if (updateCp) reference = s_.position;
        const QTransform full = Full();
        const QPointF origin = full.map(reference);
        // Directions in the picture: along logical x, and the size of a logical unit.
        QPointF along = full.map(reference + QPointF(1, 0)) - origin;
        const QPointF down = full.map(reference + QPointF(0, 1)) - origin;
        const double xUnit = std::hypot(along.x(), along.y());
        const double yUnit = std::hypot(down.x(), down.y());
        if (xUnit <= 0 || yUnit <= 0) return;
        along /= xUnit;
        const double escapement = qDegreesToRadians(s_.font.escapement / 10.0);
        const double angle = std::atan2(along.y(), along.x()) - escapement;
        const QPointF b(std::cos(angle), std::sin(angle)), n(-b.y(), b.x());

        double height = std::abs(s_.font.height) * yUnit;
        if (s_.font.height == 0) height = 12 * outScale_;
        QFont font = MakeFont(height);
        if (s_.font.height > 0) {  // cell height: the em is a little smaller
            const QFontMetricsF m(font);
            font.setPixelSize(
                qRound(std::clamp(height * height / std::max(1.0, m.height()), 1.0, 4096.0)));
        }
        const QFontMetricsF metrics(font);
        QVector<double> advances;
        double width = 0;
        for (int i = 0; i < text.size(); ++i) {
            const double a = i < dx.size() ? dx[i] * xUnit : metrics.horizontalAdvance(text[i]);
            advances << a;
            width += a;
        }
        double x = 0, y = 0;
        switch (s_.textAlign & 6) {
            case 2:
                x = -width;
                break;
            case 6:
                x = -width / 2;
                break;
            default:
                break;
        }
        switch (s_.textAlign & 24) {
            case 8:
                y = -metrics.descent();
                break;
            case 24:
                break;
            default:
                y = metrics.ascent();
                break;
        }
        if (updateCp) s_.position = reference + QPointF(width / xUnit, 0);

        p_.setTransform(out_);
        p_.save();
        if (clipped) {
            QPainterPath box;
            box.addRect(clipRect.normalized());
            p_.setClipPath(ToDevice().map(box), Qt::IntersectClip);
        }
        p_.setTransform(QTransform(b.x(), b.y(), n.x(), n.y(), origin.x(), origin.y()));
        p_.setFont(font);
        if (s_.opaqueBk)
            p_.fillRect(QRectF(x, y - metrics.ascent(), width, metrics.height()), s_.bkColor);
        p_.setPen(s_.textColor);
        for (int i = 0; i < text.size(); ++i) {
            p_.drawText(QPointF(x, y), QString(text[i]));
            x += advances[i];
        }
        p_.restore();
        clipDirty_ = true;
    }

    // ---- bitmaps -----------------------------------------------------------

    QImage Dib(const Reader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
               uint32_t cbBits) const {
        if (cbBmi == 0 || !r.Has(offBmi, cbBmi) || !r.Has(offBits, 0)) return {};
        const auto header = ParseDibHeader(r.Bytes(offBmi, cbBmi));
        if (!header) return {};
        const qint64 bits = std::min<qint64>(cbBits, r.size() - offBits);
        return DecodeDibBits(*header, r.Bytes(offBits, bits));
    }

    QPainter::CompositionMode ModeFor(uint32_t rop) const {
        switch (rop) {
            case kSrcPaint:
                return QPainter::RasterOp_SourceOrDestination;
            case kSrcAnd:
                return QPainter::RasterOp_SourceAndDestination;
            case kSrcInvert:
                return QPainter::RasterOp_SourceXorDestination;
            case kNotSrcCopy:
                return QPainter::RasterOp_NotSource;
            case kSrcErase:
                return QPainter::RasterOp_SourceAndNotDestination;
            case kMergePaint:
                return QPainter::RasterOp_NotSourceOrDestination;
            default:
                return QPainter::CompositionMode_SourceOver;
        }
    }

    // Draws src (a part of image, top-down) into dest (logical).
    void Blit(const QRectF& dest, QImage image, QRectF src, uint32_t rop, double opacity = 1) {
        if (image.isNull() || dest.width() == 0 || dest.height() == 0) return;
        if (!QRectF(image.rect()).contains(src.normalized()) || src.isEmpty())
            src = QRectF(image.rect());
        QRectF target = dest;
        if (target.width() < 0 || target.height() < 0) {
            image = image.mirrored(target.width() < 0, target.height() < 0);
            target = target.normalized();
        }
        Apply();
        p_.save();
        p_.setOpacity(opacity);
        p_.setCompositionMode(ModeFor(rop));
        p_.drawImage(target, image, src);
        p_.restore();
    }

    // A raster operation with no source: fill with the brush, black, white or inverted.
    void PatternBlt(const QRectF& dest, uint32_t rop) {
        Apply();
        QPainterPath area;
        area.addRect(dest.normalized());
        if (rop == kBlackness) return p_.fillPath(area, Qt::black);
        if (rop == kWhiteness) return p_.fillPath(area, Qt::white);
        p_.save();
        if (rop == kDstInvert || rop == kPatInvert) {
            p_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            p_.fillPath(area, rop == kDstInvert ? QBrush(Qt::white) : MakeBrush());
        } else if (rop == kPatCopy && !s_.brush.null) {
            p_.fillPath(area, MakeBrush());
        }  // anything else without a source (0x00AA0029 leaves the picture alone) draws nothing
        p_.restore();
    }

    // bounds, dest x y cx cy, rop, src x y, xform (24), bk colour, usage, bmi and bits,
    // and for the stretching kinds the source size.
    void BitBlt(uint32_t type, const Reader& r) {
        const QRectF dest(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
        const uint32_t rop = r.U32(40);
        const QPointF srcAt(r.I32(44), r.I32(48));
        const bool stretch = type != kBitBlt;
        QSizeF srcSize = stretch ? QSizeF(r.I32(100), r.I32(104)) : dest.size();
        const QImage image = Dib(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96));
        if (image.isNull()) return PatternBlt(dest, rop);
        if (type == kAlphaBlend) {
            const uint8_t constant = uint8_t((rop >> 16) & 0xFF);
            const bool perPixel = (rop >> 24) & 1;
            QImage source = image;
            if (perPixel && image.depth() == 32)
                source = DecodeWithAlpha(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96));
            return Blit(dest, source, QRectF(srcAt, srcSize), kSrcCopy, constant / 255.0);
        }
        if (type == kTransparentBlt) {
            QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
            const QRgb key = ColorRef(rop).rgb() & 0xFFFFFF;
            for (int y = 0; y < keyed.height(); ++y) {
                QRgb* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
                for (int x = 0; x < keyed.width(); ++x)
                    if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
            }
            return Blit(dest, keyed, QRectF(srcAt, srcSize), kSrcCopy);
        }
        Blit(dest, image, QRectF(srcAt, srcSize), rop);
    }

    QImage DecodeWithAlpha(const Reader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
                           uint32_t cbBits) const {
        auto header = ParseDibHeader(r.Bytes(offBmi, cbBmi));
        if (!header || header->bitCount != 32) return {};
        header->masks[0] = 0xFF0000, header->masks[1] = 0xFF00, header->masks[2] = 0xFF;
        header->masks[3] = 0xFF000000u;
        const qint64 bits = std::min<qint64>(cbBits, r.size() - offBits);
        QImage image = DecodeDibBits(*header, r.Bytes(offBits, bits));
        if (image.format() == QImage::Format_ARGB32)
            image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        return image;
    }

    // bounds, dest x y, src x y cx cy, bmi and bits, usage, rop, dest cx cy.
    void StretchDiBits(const Reader& r) {
        const QImage image = Dib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60));
        const QRectF dest(r.I32(24), r.I32(28), r.I32(72), r.I32(76));
        const uint32_t rop = r.U32(68);
        if (image.isNull()) return PatternBlt(dest, rop);
        const double srcW = r.I32(40), srcH = r.I32(44);
        // The source rectangle counts from the picture's lower-left corner.
        const QRectF src(r.I32(32), image.height() - r.I32(36) - srcH, srcW, srcH);
        Blit(dest, image, src, rop);
    }

    // bounds, dest x y, src x y cx cy, bmi and bits, usage, first scan, scans.
    void SetDiBitsToDevice(const Reader& r) {
        const QImage image = Dib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60));
        if (image.isNull()) return;
        const double w = r.I32(40), h = r.I32(44);
        const QRectF src(r.I32(32), image.height() - r.I32(36) - h, w, h);
        Blit(QRectF(r.I32(24), r.I32(28), w, h), image, src, kSrcCopy);
    }

    // ---- gradients ---------------------------------------------------------

    struct Vertex {
        QPointF at;
        QColor color;
    };

    void GradientFill(const Reader& r) {
        const uint32_t nVer = r.U32(24), nTri = r.U32(28), mode = r.U32(32);
        if (nVer > 65536 || nTri > 65536 || !r.Has(36, qint64(nVer) * 16)) return;
        QVector<Vertex> v;
        for (uint32_t i = 0; i < nVer; ++i) {
            const qint64 o = 36 + i * 16;
            v << Vertex{r.Point32(o),
                        QColor(r.U16(o + 8) >> 8, r.U16(o + 10) >> 8, r.U16(o + 12) >> 8)};
        }
        const qint64 at = 36 + qint64(nVer) * 16;
        Apply();
        // Finer shading for few triangles; many small ones are shaded flat.
        const int depth = nTri <= 64 ? 4 : nTri <= 1024 ? 2 : 0;
        for (uint32_t i = 0; i < nTri; ++i) {
            if (mode == 2) {
                if (!r.Has(at + i * 12, 12)) return;
                const uint32_t a = r.U32(at + i * 12), b = r.U32(at + i * 12 + 4),
                               c = r.U32(at + i * 12 + 8);
                if (a >= nVer || b >= nVer || c >= nVer) continue;
                ShadeTriangle(v[a], v[b], v[c], depth);
            } else {
                if (!r.Has(at + i * 8, 8)) return;
                const uint32_t a = r.U32(at + i * 8), b = r.U32(at + i * 8 + 4);
                if (a >= nVer || b >= nVer) continue;
                const QRectF box = QRectF(v[a].at, v[b].at).normalized();
                QLinearGradient g(v[a].at, mode == 0 ? QPointF(v[b].at.x(), v[a].at.y())
                                                     : QPointF(v[a].at.x(), v[b].at.y()));
                g.setColorAt(0, v[a].color);
                g.setColorAt(1, v[b].color);
                p_.fillRect(box, g);
            }
        }
    }

    // Gouraud shading approximated by flat-shaded sub-triangles.
    void ShadeTriangle(const Vertex& a, const Vertex& b, const Vertex& c, int depth) {
        if (depth == 0) {
            QPainterPath t;
            t.moveTo(a.at);
            t.lineTo(b.at);
            t.lineTo(c.at);
            t.closeSubpath();
            const QColor mean((a.color.red() + b.color.red() + c.color.red()) / 3,
                              (a.color.green() + b.color.green() + c.color.green()) / 3,
                              (a.color.blue() + b.color.blue() + c.color.blue()) / 3);
            p_.fillPath(t, mean);
            return;
        }
        auto mid = [](const Vertex& p, const Vertex& q) {
            return Vertex{(p.at + q.at) / 2, QColor((p.color.red() + q.color.red()) / 2,
                                                    (p.color.green() + q.color.green()) / 2,
                                                    (p.color.blue() + q.color.blue()) / 2)};
        };
        const Vertex ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
        ShadeTriangle(a, ab, ca, depth - 1);
        ShadeTriangle(ab, b, bc, depth - 1);
        ShadeTriangle(ca, bc, c, depth - 1);
        ShadeTriangle(ab, bc, ca, depth - 1);
    }

    // ---- state -------------------------------------------------------------

    void SaveDc() {
        if (saved_.size() < kMaxSaveDepth) saved_.push_back(s_);
    }

    void RestoreDc(int32_t which) {
        // Negative: relative to the latest save; positive: an absolute level.
        const qsizetype level = which < 0 ? saved_.size() + which : which - 1;
        if (level < 0 || level >= saved_.size()) return;
        s_ = saved_[level];
        saved_.resize(level);
        clipDirty_ = true;
    }

    void ModifyWorldTransform(const Reader& r) {
        const QTransform m(r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28));
        switch (r.U32(32)) {
            case 1:
                s_.world = QTransform();
                break;  // MWT_IDENTITY
            case 2:
                s_.world = m * s_.world;
                break;  // MWT_LEFTMULTIPLY
            case 3:
                s_.world = s_.world * m;
                break;  // MWT_RIGHTMULTIPLY
            case 4:
                s_.world = m;
                break;  // MWT_SET
            default:
                break;
        }
    }

    void ScaleExtent(QSizeF& extent, const Reader& r) {
        const double xNum = r.I32(8), xDen = r.I32(12), yNum = r.I32(16), yDen = r.I32(20);
        if (xDen == 0 || yDen == 0) return;
        extent = QSizeF(extent.width() * xNum / xDen, extent.height() * yNum / yDen);
    }

    void Shape(uint32_t type, const Reader& r) {
        const QRectF box = r.Box(8).normalized();
        QPainterPath path;
        if (type == kRectangle) path.addRect(box);
        if (type == kEllipse) path.addEllipse(box);
        if (type == kRoundRect) path.addRoundedRect(box, r.I32(24) / 2.0, r.I32(28) / 2.0);
        Draw(path, true);
    }

    void Dispatch(uint32_t type, const Reader& r) {
        switch (type) {
            case kPolyBezier:
            case kPolygon:
            case kPolyline:
            case kPolyBezierTo:
            case kPolylineTo:
            case kPolyPolyline:
            case kPolyPolygon:
            case kPolyBezier16:
            case kPolygon16:
            case kPolyline16:
            case kPolyBezierTo16:
            case kPolylineTo16:
            case kPolyPolyline16:
            case kPolyPolygon16:
                return Poly(type, r);
            case kSetWindowExtEx:
                s_.windowExt = QSizeF(r.I32(8), r.I32(12));
                return;
            case kSetWindowOrgEx:
                s_.windowOrg = r.Point32(8);
                return;
            case kSetViewportExtEx:
                s_.viewportExt = QSizeF(r.I32(8), r.I32(12));
                return;
            case kSetViewportOrgEx:
                s_.viewportOrg = r.Point32(8);
                return;
            case kScaleViewportExtEx:
                return ScaleExtent(s_.viewportExt, r);
            case kScaleWindowExtEx:
                return ScaleExtent(s_.windowExt, r);
            case kSetMapMode:
                s_.mapMode = int(r.U32(8));
                return;
            case kSetBkMode:
                s_.opaqueBk = r.U32(8) == 2;
                return;
            case kSetPolyFillMode:
                s_.fillRule = r.U32(8) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
                return;
            case kSetRop2:
                s_.rop2 = int(r.U32(8));
                return;
            case kSetTextAlign:
                s_.textAlign = r.U32(8);
                return;
            case kSetTextColor:
                s_.textColor = ColorRef(r.U32(8));
                return;
            case kSetBkColor:
                s_.bkColor = ColorRef(r.U32(8));
                return;
            case kSetArcDirection:
                s_.clockwise = r.U32(8) == 2;
                return;
            case kSetMiterLimit:
                s_.miterLimit = std::max<double>(1, r.U32(8));
                return;
            case kMoveToEx:
                s_.position = r.Point32(8);
                if (inPath_) path_.moveTo(s_.position);
                return;
            case kLineTo: {
                const QPointF to = r.Point32(8);
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
                return;
            }
            case kSetPixelV: {
                Apply();
                p_.setTransform(out_);
                const QPointF at = ToDevice().map(r.Point32(8));
                p_.fillRect(QRectF(at, QSizeF(1, 1)), ColorRef(r.U32(16)));
                return;
            }
            case kOffsetClipRgn:
                if (s_.clip) {
                    const QPointF shift = ToDevice().map(r.Point32(8)) - ToDevice().map(QPointF());
                    s_.clip->translate(shift);
                    clipDirty_ = true;
                }
                return;
            case kExcludeClipRect:
                return Combine(DeviceRect(r.Box(8)), 4);
            case kIntersectClipRect:
                return Combine(DeviceRect(r.Box(8)), 1);
            case kExtSelectClipRgn:
                return ExtSelectClipRgn(r);
            case kSaveDc:
                return SaveDc();
            case kRestoreDc:
                return RestoreDc(r.I32(8));
            case kSetWorldTransform:
                s_.world =
                    QTransform(r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28));
                return;
            case kModifyWorldTransform:
                return ModifyWorldTransform(r);
            case kSelectObject:
                return SelectObject(r.U32(8));
            case kDeleteObject:
                objects_.remove(r.U32(8));
                return;
            case kCreatePen:
                return CreatePen(r);
            case kExtCreatePen:
                return ExtCreatePen(r);
            case kCreateBrushIndirect:
                return CreateBrush(r);
            case kCreateDibPatternBrushPt:
                return CreatePatternBrush(r, false);
            case kCreateMonoBrush:
                return CreatePatternBrush(r, true);
            case kExtCreateFontIndirectW:
                return CreateFont(r);
            case kRectangle:
            case kEllipse:
            case kRoundRect:
                return Shape(type, r);
            case kArc:
            case kChord:
            case kPie:
            case kArcTo:
                return ArcRecord(type, r);
            case kAngleArc: {
                const QPointF c = r.Point32(8);
                const double radius = r.U32(16), start = r.F32(20), sweep = r.F32(24);
                QPainterPath path;
                path.moveTo(s_.position);
                const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
                path.arcTo(box, start, sweep);
                s_.position = path.currentPosition();
                if (inPath_) return AppendToFigure(path);
                return Stroke(path);
            }
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
            case kFillPath:
                Fill(path_);
                path_ = QPainterPath();
                return;
            case kStrokePath:
                Stroke(path_);
                path_ = QPainterPath();
                return;
            case kStrokeAndFillPath:
                Fill(path_);
                Stroke(path_);
                path_ = QPainterPath();
                return;
            case kSelectClipPath:
                return SelectClipPath(r);
            case kFillRgn:
            case kPaintRgn: {
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
                return;
            }
            case kBitBlt:
            case kStretchBlt:
            case kAlphaBlend:
            case kTransparentBlt:
                return BitBlt(type, r);
            case kStretchDiBits:
                return StretchDiBits(r);
            case kSetDiBitsToDevice:
                return SetDiBitsToDevice(r);
            case kExtTextOutW:
                return ExtTextOut(r, true);
            case kExtTextOutA:
                return ExtTextOut(r, false);
            case kGradientFill:
                return GradientFill(r);
            default:
                return;  // comments (EMF+ included), palettes and the rest
        }
    }

    QPainter& p_;
    EmfHeader header_;
    QSizeF pxPerMm_;
    QTransform out_;
    double outScale_ = 1;
    DcState s_;
    QVector<DcState> saved_;
    QHash<uint32_t, Object> objects_;
    QPainterPath path_;
    bool inPath_ = false;
    bool clipDirty_ = true;
};

}  // namespace

bool LooksLikeEmf(QByteArrayView d) {
    return d.size() >= 88 && qFromLittleEndian<uint32_t>(d.data()) == kHeader &&
           d.sliced(40, 4) == QByteArrayView(" EMF");
}

std::optional<EmfHeader> ReadEmfHeader(QByteArrayView data) {
    if (!LooksLikeEmf(data)) return std::nullopt;
    const Reader r(data.first(std::min<qsizetype>(data.size(), 108)));
    // Inclusive rectangles: both edges belong to the picture.
    auto inclusive = [](const QRectF& box) {
        return QRectF(box.topLeft(), QSizeF(box.width() + 1, box.height() + 1));
    };
    EmfHeader h;
    h.bounds = inclusive(r.Box(8));
    h.frame = inclusive(r.Box(24));
    h.device = QSize(r.I32(72), r.I32(76));
    h.millimeters = QSize(r.I32(80), r.I32(84));
    if (h.device.width() <= 0 || h.device.height() <= 0 || h.millimeters.width() <= 0 ||
        h.millimeters.height() <= 0)
        return std::nullopt;
    return h;
}

QSize EmfNaturalSize(const EmfHeader& h) {
    QSizeF size(h.frame.width() * 96.0 / 2540.0, h.frame.height() * 96.0 / 2540.0);
    if (size.width() < 1 || size.height() < 1) size = QSizeF(h.bounds.size());
    // Clamped before rounding: a damaged header can give any value at all. A
    // frame larger than a wall poster is scaled down, keeping its proportions.
    constexpr double kLongestSide = 4096;
    const double width = std::clamp(size.width(), 1.0, 1e9);
    const double height = std::clamp(size.height(), 1.0, 1e9);
    const double fit = std::min(1.0, kLongestSide / std::max(width, height));
    return QSize(std::max(1, qRound(width * fit)), std::max(1, qRound(height * fit)));
}

QImage RenderEmf(QByteArrayView data, QSize size) {
    const std::optional<EmfHeader> header = ReadEmfHeader(data);
    if (!header || size.isEmpty()) return {};
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull()) return {};
    image.fill(Qt::white);
    QPainter painter(&image);
    Player(painter, *header, size).Play(data);
    return image;
}
