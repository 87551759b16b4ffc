// Playing records: the frame, the loop over records, dispatch, mapping and the saved states.
#include "pictures/emf/MetafileRenderer.h"

#include "pictures/emf/EmfRecords.h"

#include <QtMath>

namespace emf {

MetafileRenderer::MetafileRenderer(QPainter& painter, const EmfHeader& header, QSize size)
    : p_(painter), header_(header) {
    // The frame, taken to reference-device pixels, fills the picture.
    const double pxPerMmX = header.device.width() / header.exactMillimeters.width();
    const double pxPerMmY = header.device.height() / header.exactMillimeters.height();
    QRectF frame(header.frame.left() * pxPerMmX / 100.0, header.frame.top() * pxPerMmY / 100.0,
                 (header.frame.width()) * pxPerMmX / 100.0,
                 (header.frame.height()) * pxPerMmY / 100.0);
    if (frame.width() < 1 || frame.height() < 1) frame = QRectF(header.bounds);
    pxPerMm_ = QSizeF(pxPerMmX, pxPerMmY);
    out_ = QTransform::fromTranslate(-frame.left(), -frame.top()) *
           QTransform::fromScale(size.width() / std::max(1e-6, frame.width()),
                                 size.height() / std::max(1e-6, frame.height()));
    outScale_ = std::sqrt(std::abs(out_.determinant()));
    plus_.emplace(painter, out_, QSizeF(pxPerMmX * 25.4, pxPerMmY * 25.4));
    p_.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                      QPainter::TextAntialiasing);
}

void MetafileRenderer::Play(QByteArrayView data) {
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

QTransform MetafileRenderer::PageTransform() const {
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

const QTransform& MetafileRenderer::ToDevice() const {
    const bool same =
        mapping_ && mapping_->mapMode == s_.mapMode && mapping_->windowOrg == s_.windowOrg &&
        mapping_->viewportOrg == s_.viewportOrg && mapping_->windowExt == s_.windowExt &&
        mapping_->viewportExt == s_.viewportExt && mapping_->world == s_.world;
    if (!same)
        mapping_ = Mapping{s_.mapMode,
                           s_.windowOrg,
                           s_.viewportOrg,
                           s_.windowExt,
                           s_.viewportExt,
                           s_.world,
                           s_.world * PageTransform()};
    return mapping_->toDevice;
}

void MetafileRenderer::Apply() {
    if (clipDirty_) {
        p_.setTransform(out_);
        if (s_.clip)
            p_.setClipPath(*s_.clip);
        else
            p_.setClipping(false);
        clipDirty_ = false;
    }
    const QTransform full = Full();
    if (p_.transform() != full) p_.setTransform(full);
}

void MetafileRenderer::SaveDc() {
    if (saved_.size() < kMaxSaveDepth) saved_.push_back(s_);
}

void MetafileRenderer::RestoreDc(int32_t which) {
    // Negative: relative to the latest save; positive: an absolute level.
    const qsizetype level = which < 0 ? saved_.size() + which : which - 1;
    if (level < 0 || level >= saved_.size()) return;
    s_ = saved_[level];
    saved_.resize(level);
    clipDirty_ = true;
}

void MetafileRenderer::ModifyWorldTransform(const Reader& r) {
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

void MetafileRenderer::ScaleExtent(QSizeF& extent, const Reader& r) {
    const double xNum = r.I32(8), xDen = r.I32(12), yNum = r.I32(16), yDen = r.I32(20);
    if (xDen == 0 || yDen == 0) return;
    extent = QSizeF(extent.width() * xNum / xDen, extent.height() * yNum / yDen);
}

void MetafileRenderer::Shape(uint32_t type, const Reader& r) {
    const QRectF box = r.Box(8).normalized();
    QPainterPath path;
    if (type == kRectangle) path.addRect(box);
    if (type == kEllipse) path.addEllipse(box);
    if (type == kRoundRect) path.addRoundedRect(box, r.I32(24) / 2.0, r.I32(28) / 2.0);
    Draw(path, true);
}

// Each record goes to the handler of its family; comments (EMF+ included),
// palettes and the records not drawn are passed over.
void MetafileRenderer::Dispatch(uint32_t type, const Reader& r) {
    if (type == kComment) return Comment(r);
    if (muted_ && OnlyDraws(type)) return;
    if (!DispatchSettings(type, r)) DispatchDrawing(type, r);
}

// Comments carry EMF+ records after the identifier "EMF+"; other comments are
// private to their producers.
void MetafileRenderer::Comment(const Reader& r) {
    const uint32_t length = r.U32(8);
    if (length < 4 || r.Bytes(12, 4) != QByteArrayView("EMF+", 4) || !r.Has(12, length)) return;
    p_.save();
    plus_->Play(r.Bytes(16, length - 4));
    p_.restore();
    muted_ = !plus_->DrawsPlainRecords();
    clipDirty_ = true;
}

bool MetafileRenderer::OnlyDraws(uint32_t type) {
    switch (type) {
        case kSetPixelV:
        case kFillRgn:
        case kPaintRgn:
        case kBitBlt:
        case kStretchBlt:
        case kAlphaBlend:
        case kTransparentBlt:
        case kStretchDiBits:
        case kSetDiBitsToDevice:
        case kExtTextOutW:
        case kExtTextOutA:
        case kGradientFill:
            return true;
        default:
            return false;
    }
}

bool MetafileRenderer::DispatchSettings(uint32_t type, const Reader& r) {
    switch (type) {
        case kSetWindowExtEx:
        case kSetWindowOrgEx:
        case kSetViewportExtEx:
        case kSetViewportOrgEx:
        case kScaleViewportExtEx:
        case kScaleWindowExtEx:
        case kSetMapMode:
            SetMapping(type, r);
            return true;
        case kSetBkMode:
        case kSetPolyFillMode:
        case kSetRop2:
        case kSetTextAlign:
        case kSetTextColor:
        case kSetBkColor:
        case kSetArcDirection:
        case kSetMiterLimit:
            SetDrawingMode(type, r);
            return true;
        case kOffsetClipRgn:
        case kExcludeClipRect:
        case kIntersectClipRect:
        case kExtSelectClipRgn:
        case kSelectClipPath:
            ClipRecord(type, r);
            return true;
        case kSaveDc:
        case kRestoreDc:
        case kSetWorldTransform:
        case kModifyWorldTransform:
            StateRecord(type, r);
            return true;
        case kSelectObject:
        case kDeleteObject:
        case kCreatePen:
        case kExtCreatePen:
        case kCreateBrushIndirect:
        case kCreateDibPatternBrushPt:
        case kCreateMonoBrush:
        case kExtCreateFontIndirectW:
            ObjectRecord(type, r);
            return true;
        default:
            return false;
    }
}

void MetafileRenderer::DispatchDrawing(uint32_t type, const Reader& r) {
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
        case kMoveToEx:
        case kLineTo:
            return MoveOrLine(type, r);
        case kSetPixelV:
            return SetPixel(r);
        case kRectangle:
        case kEllipse:
        case kRoundRect:
            return Shape(type, r);
        case kArc:
        case kChord:
        case kPie:
        case kArcTo:
            return ArcRecord(type, r);
        case kAngleArc:
            return AngleArc(r);
        case kBeginPath:
        case kEndPath:
        case kAbortPath:
        case kCloseFigure:
        case kFillPath:
        case kStrokePath:
        case kStrokeAndFillPath:
            return PathRecord(type);
        case kFillRgn:
        case kPaintRgn:
            return PaintRegion(type, r);
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
        case kExtTextOutA:
            return ExtTextOut(r, type == kExtTextOutW);
        case kGradientFill:
            return GradientFill(r);
        default:
            return;
    }
}

void MetafileRenderer::SetMapping(uint32_t type, const Reader& r) {
    switch (type) {
        case kSetWindowExtEx:
            s_.windowExt = QSizeF(r.I32(8), r.I32(12));
            break;
        case kSetWindowOrgEx:
            s_.windowOrg = r.Point32(8);
            break;
        case kSetViewportExtEx:
            s_.viewportExt = QSizeF(r.I32(8), r.I32(12));
            break;
        case kSetViewportOrgEx:
            s_.viewportOrg = r.Point32(8);
            break;
        case kScaleViewportExtEx:
            ScaleExtent(s_.viewportExt, r);
            break;
        case kScaleWindowExtEx:
            ScaleExtent(s_.windowExt, r);
            break;
        default:  // kSetMapMode
            s_.mapMode = int(r.U32(8));
            break;
    }
}

void MetafileRenderer::SetDrawingMode(uint32_t type, const Reader& r) {
    const uint32_t value = r.U32(8);
    switch (type) {
        case kSetBkMode:
            s_.opaqueBk = value == 2;
            break;
        case kSetPolyFillMode:
            s_.fillRule = value == 2 ? Qt::WindingFill : Qt::OddEvenFill;
            break;
        case kSetRop2:
            s_.rop2 = int(value);
            break;
        case kSetTextAlign:
            s_.textAlign = value;
            break;
        case kSetTextColor:
            s_.textColor = ColorFromValue(value);
            break;
        case kSetBkColor:
            s_.bkColor = ColorFromValue(value);
            break;
        case kSetArcDirection:
            s_.clockwise = value == 2;
            break;
        default:  // kSetMiterLimit
            s_.miterLimit = std::max<double>(1, value);
            break;
    }
}

void MetafileRenderer::ClipRecord(uint32_t type, const Reader& r) {
    switch (type) {
        case kOffsetClipRgn:
            if (!s_.clip) return;
            s_.clip->translate(ToDevice().map(r.Point32(8)) - ToDevice().map(QPointF()));
            clipDirty_ = true;
            return;
        case kExcludeClipRect:
            return Combine(DeviceRect(r.Box(8)), 4);
        case kIntersectClipRect:
            return Combine(DeviceRect(r.Box(8)), 1);
        case kExtSelectClipRgn:
            return ExtSelectClipRgn(r);
        default:  // kSelectClipPath
            return SelectClipPath(r);
    }
}

void MetafileRenderer::StateRecord(uint32_t type, const Reader& r) {
    switch (type) {
        case kSaveDc:
            return SaveDc();
        case kRestoreDc:
            return RestoreDc(r.I32(8));
        case kSetWorldTransform:
            s_.world = QTransform(r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28));
            return;
        default:  // kModifyWorldTransform
            return ModifyWorldTransform(r);
    }
}

void MetafileRenderer::ObjectRecord(uint32_t type, const Reader& r) {
    switch (type) {
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
        case kCreateMonoBrush:
            return CreatePatternBrush(r, type == kCreateMonoBrush);
        default:  // kExtCreateFontIndirectW
            return CreateFont(r);
    }
}

}  // namespace emf
