// Clipping regions and paths.
#include "pictures/emf/MetafileRenderer.h"

#include "pictures/emf/EmfRecords.h"

#include <QtMath>

namespace emf {

Combine PlainCombine(uint32_t mode) {
    switch (mode) {
        case 1:
            return Combine::Intersect;
        case 2:
            return Combine::Union;
        case 3:
            return Combine::Xor;
        case 4:
            return Combine::Exclude;
        default:
            return Combine::Replace;
    }
}

QPainterPath Everything() {
    QPainterPath all;
    all.addRect(QRectF(-1e7, -1e7, 2e7, 2e7));
    return all;
}

QPainterPath Combined(const QPainterPath& present, const QPainterPath& other, Combine how) {
    switch (how) {
        case Combine::Replace:
            return other;
        case Combine::Intersect:
            return present.intersected(other);
        case Combine::Union:
            return present.united(other);
        case Combine::Xor:
            return present.subtracted(other).united(other.subtracted(present));
        case Combine::Exclude:
            return present.subtracted(other);
        case Combine::Complement:
            return other.subtracted(present);
    }
    return other;
}

std::optional<QPainterPath> CombinedClip(const std::optional<QPainterPath>& clip,
                                         const QPainterPath& other, Combine how) {
    if (!clip && how == Combine::Union) return std::nullopt;
    if (!clip && how == Combine::Intersect) return other;
    return Combined(clip.value_or(Everything()), other, how);
}

void MetafileRenderer::Combine(const QPainterPath& region, uint32_t mode) {
    s_.clip = CombinedClip(s_.clip, region, PlainCombine(mode));
    clipDirty_ = true;
}

QPainterPath MetafileRenderer::DeviceRect(const QRectF& logical) const {
    QPainterPath path;
    path.addRect(logical.normalized());
    return ToDevice().map(path);
}

// cbRgnData, iMode, then a region: a 32-byte header and rectangles in device pixels.
void MetafileRenderer::ExtSelectClipRgn(const Reader& r) {
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

QPainterPath MetafileRenderer::Region(const Reader& r, qint64 at) const {
    const uint32_t count = r.U32(at + 8);
    QPainterPath region;
    if (count > uint32_t(kMaxPoints) || !r.Has(at + 32, qint64(count) * 16)) return region;
    for (uint32_t i = 0; i < count; ++i) region.addRect(r.Box(at + 32 + i * 16).normalized());
    return region.simplified();
}

void MetafileRenderer::SelectClipPath(const Reader& r) {
    QPainterPath device = ToDevice().map(path_);
    device.setFillRule(s_.fillRule);
    Combine(device, r.U32(8));
    path_ = QPainterPath();
}

}  // namespace emf
