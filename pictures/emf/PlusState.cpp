// EMF+ units, the world and page transforms, saved states and containers,
// and clipping.
#include "pictures/emf/EmfPlus.h"

#include "pictures/emf/PlusObjects.h"
#include "pictures/emf/PlusRecords.h"

#include <QtMath>

namespace emf::plus {

// ---- mapping, state and clipping ------------------------------------------------

// Device pixels of one unit: world and display units are taken as pixels.
double Renderer::UnitToPixels(uint32_t unit, bool vertical) const {
    const double dpi = vertical ? dpi_.height() : dpi_.width();
    switch (unit) {
        case kUnitPoint:
            return dpi / 72;
        case kUnitInch:
            return dpi;
        case kUnitDocument:
            return dpi / 300;
        case kUnitMillimeter:
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
    if (mode <= uint32_t(Combine::Complement))
        g_.clip = CombinedClip(g_.clip, devicePath, Combine(mode));
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

}  // namespace emf::plus
