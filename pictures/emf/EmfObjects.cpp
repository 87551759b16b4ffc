// Pens, brushes and fonts: creating them, selecting them, the stock objects.
#include "pictures/emf/MetafileRenderer.h"

#include "pictures/emf/EmfRecords.h"

#include "pictures/Dib.h"

#include <QtMath>

namespace emf {

void MetafileRenderer::CreatePen(const Reader& r) {
    Pen pen;
    const uint32_t style = r.U32(12);
    pen.width = r.I32(16);
    pen.color = ColorFromValue(r.U32(24));
    pen.cosmetic = pen.width <= 1;
    SetPenStyle(pen, style);
    objects_[r.U32(8)] = pen;
}

// Dash style, end cap and join from a pen style's three fields.
void MetafileRenderer::SetPenStyle(Pen& pen, uint32_t style) {
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
void MetafileRenderer::ExtCreatePen(const Reader& r) {
    Pen pen;
    const uint32_t style = r.U32(28);
    pen.width = r.U32(32);
    pen.cosmetic = !(style & 0x10000);
    const uint32_t brushStyle = r.U32(36);
    pen.color = ColorFromValue(r.U32(40));
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

Brush MetafileRenderer::SolidOrHatch(uint32_t style, QColor color, uint32_t hatch) const {
    Brush b;
    b.color = color;
    if (style == 1) b.null = true;
    if (style == 2) {
        const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,   Qt::FDiagPattern,
                                          Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        b.style = hatch < 6 ? hatches[hatch] : Qt::SolidPattern;
    }
    return b;
}

void MetafileRenderer::CreateBrush(const Reader& r) {
    objects_[r.U32(8)] = SolidOrHatch(r.U32(12), ColorFromValue(r.U32(16)), r.U32(20));
}

// ihBrush, iUsage, offBmi, cbBmi, offBits, cbBits.
void MetafileRenderer::CreatePatternBrush(const Reader& r, bool mono) {
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

void MetafileRenderer::CreateFont(const Reader& r) {
    Font f;
    f.height = r.I32(12);
    f.width = std::abs(r.I32(16));
    f.escapement = r.I32(20);
    f.orientation = r.I32(24);
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

void MetafileRenderer::SelectStock(uint32_t index) {
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

void MetafileRenderer::SelectObject(uint32_t handle) {
    if (handle & 0x80000000u) return SelectStock(handle & 0x7FFFFFFFu);
    const auto it = objects_.constFind(handle);
    if (it == objects_.cend()) return;
    if (const Pen* pen = std::get_if<Pen>(&*it)) s_.pen = *pen;
    if (const Brush* brush = std::get_if<Brush>(&*it)) s_.brush = *brush;
    if (const Font* font = std::get_if<Font>(&*it)) s_.font = *font;
}

}  // namespace emf
