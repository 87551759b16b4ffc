// Clipping regions and paths.
#include "pictures/emf/MetafileRenderer.h"

#include "pictures/emf/EmfRecords.h"

#include <QtMath>

namespace emf {

QPainterPath MetafileRenderer::Everything() const {
    QPainterPath all;
    all.addRect(QRectF(-1e7, -1e7, 2e7, 2e7));
    return all;
}

void MetafileRenderer::Combine(const QPainterPath& region, uint32_t mode) {
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
