// Bitmaps with their raster operations, and gradients.
#include "pictures/emf/MetafileRenderer.h"

#include "pictures/Dib.h"
#include "pictures/emf/EmfRecords.h"

#include <QtMath>

namespace emf {

QImage MetafileRenderer::Dib(const Reader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
                             uint32_t cbBits) const {
    if (cbBmi == 0 || !r.Has(offBmi, cbBmi) || !r.Has(offBits, 0)) return {};
    const auto header = ParseDibHeader(r.Bytes(offBmi, cbBmi));
    if (!header) return {};
    const qint64 bits = std::min<qint64>(cbBits, r.size() - offBits);
    return DecodeDibBits(*header, r.Bytes(offBits, bits));
}

QPainter::CompositionMode MetafileRenderer::ModeFor(uint32_t rop) const {
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
void MetafileRenderer::Blit(const QRectF& dest, QImage image, QRectF src, uint32_t rop,
                            double opacity) {
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
void MetafileRenderer::PatternBlt(const QRectF& dest, uint32_t rop) {
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
void MetafileRenderer::BitBlt(uint32_t type, const Reader& r) {
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
        const QRgb key = ColorFromValue(rop).rgb() & 0xFFFFFF;
        for (int y = 0; y < keyed.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
            for (int x = 0; x < keyed.width(); ++x)
                if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
        }
        return Blit(dest, keyed, QRectF(srcAt, srcSize), kSrcCopy);
    }
    Blit(dest, image, QRectF(srcAt, srcSize), rop);
}

QImage MetafileRenderer::DecodeWithAlpha(const Reader& r, uint32_t offBmi, uint32_t cbBmi,
                                         uint32_t offBits, uint32_t cbBits) const {
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
void MetafileRenderer::StretchDiBits(const Reader& r) {
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
void MetafileRenderer::SetDiBitsToDevice(const Reader& r) {
    const QImage image = Dib(r, r.U32(48), r.U32(52), r.U32(56), r.U32(60));
    if (image.isNull()) return;
    const double w = r.I32(40), h = r.I32(44);
    const QRectF src(r.I32(32), image.height() - r.I32(36) - h, w, h);
    Blit(QRectF(r.I32(24), r.I32(28), w, h), image, src, kSrcCopy);
}

void MetafileRenderer::GradientFill(const Reader& r) {
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
void MetafileRenderer::ShadeTriangle(const Vertex& a, const Vertex& b, const Vertex& c, int depth) {
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

}  // namespace emf
