// Text records: fonts, alignment, spacing arrays and code page 932.
#include "pictures/emf/MetafileRenderer.h"

#include "pictures/emf/EmfRecords.h"

#include "pictures/FontNames.h"
#include "platform/CodePage932.h"

#include <QFontMetricsF>

#include <QtMath>

namespace emf {

namespace {

// Text that only reads right when laid out as a whole: right-to-left
// scripts, scripts whose letters join or combine, and combining marks.
bool NeedsShaping(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(text[i], text[i + 1]), ++i;
        const QChar::Direction direction = QChar::direction(c);
        if (direction == QChar::DirR || direction == QChar::DirAL) return true;
        switch (QChar::category(c)) {
            case QChar::Mark_NonSpacing:
            case QChar::Mark_SpacingCombining:
            case QChar::Mark_Enclosing:
                return true;
            default:
                break;
        }
        switch (QChar::script(c)) {
            case QChar::Script_Common:
            case QChar::Script_Inherited:
            case QChar::Script_Latin:
            case QChar::Script_Greek:
            case QChar::Script_Cyrillic:
            case QChar::Script_Han:
            case QChar::Script_Hiragana:
            case QChar::Script_Katakana:
            case QChar::Script_Hangul:
            case QChar::Script_Bopomofo:
            case QChar::Script_Unknown:
                break;
            default:
                return true;
        }
    }
    return false;
}

}  // namespace

QFont MetafileRenderer::MakeFont(double pixelHeight) const {
    QFont font(
        InstalledFamily(s_.font.face.isEmpty() ? QStringLiteral("ＭＳ ゴシック") : s_.font.face));
    font.setPixelSize(qRound(std::clamp(pixelHeight, 1.0, 4096.0)));
    font.setWeight(QFont::Weight(std::clamp(s_.font.weight == 0 ? 400 : s_.font.weight, 100, 900)));
    font.setItalic(s_.font.italic);
    font.setUnderline(s_.font.underline);
    font.setStrikeOut(s_.font.strikeOut);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QString MetafileRenderer::DecodeAnsi(QByteArrayView bytes) const {
    if (s_.font.charset == 128) return cp932::Decode(bytes);  // SHIFTJIS_CHARSET
    return QString::fromLatin1(bytes.data(), bytes.size());
}

// bounds (16), graphics mode, x and y scale, then the text: reference
// point, count, offset of the string, options, rectangle, offset of the widths.
void MetafileRenderer::ExtTextOut(const Reader& r, bool wide) {
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
    // In the advanced graphics mode (2) glyphs turn by the font's orientation,
    // apart from the baseline's escapement.
    const double glyphTurn =
        r.U32(24) == 2 ? (s_.font.orientation - s_.font.escapement) / 10.0 : 0.0;
    DrawText(r.Point32(36), text, wide ? dx : AnsiWidths(r, dx, offString, count), rect,
             options & 0x4, glyphTurn);
}

QVector<double> MetafileRenderer::AnsiWidths(const Reader& r, const QVector<double>& dx,
                                             uint32_t offString, uint32_t count) const {
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

// How much wider than its own proportions a glyph is drawn: as wide as the
// font's asked average width where the font gives one; else stretched as the
// picture is stretched from its frame to where it is drawn (xUnit and yUnit
// are a logical unit's length in the output along x and y).
double MetafileRenderer::GlyphStretch(QPointF reference, double xUnit, double yUnit,
                                      const QFontMetricsF& metrics) const {
    if (s_.font.width > 0 && metrics.averageCharWidth() > 0)
        return std::clamp(s_.font.width * xUnit / metrics.averageCharWidth(), 0.05, 20.0);
    const QTransform device = ToDevice();
    const QPointF origin = device.map(reference);
    const double xDevice = QLineF(origin, device.map(reference + QPointF(1, 0))).length();
    const double yDevice = QLineF(origin, device.map(reference + QPointF(0, 1))).length();
    if (xDevice <= 0 || yDevice <= 0) return 1;
    return std::clamp((xUnit / xDevice) / (yUnit / yDevice), 0.05, 20.0);
}

void MetafileRenderer::DrawText(QPointF reference, const QString& text, const QVector<double>& dx,
                                const QRectF& clipRect, bool clipped, double glyphTurn) {
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
    const double stretch = GlyphStretch(reference, xUnit, yUnit, metrics);
    // Laid out in text space, where the glyphs have their own proportions; the
    // drawing transform stretches it along the baseline.
    QVector<double> advances;
    double width = 0;
    for (int i = 0; i < text.size(); ++i) {
        const double a =
            i < dx.size() ? dx[i] * xUnit / stretch : metrics.horizontalAdvance(text[i]);
        advances << a;
        width += a;
    }
    const bool shaped = NeedsShaping(text);
    if (shaped && dx.isEmpty()) width = metrics.horizontalAdvance(text);
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
    if (updateCp) s_.position = reference + QPointF(width * stretch / xUnit, 0);

    p_.setTransform(out_);
    p_.save();
    if (clipped) {
        QPainterPath box;
        box.addRect(clipRect.normalized());
        p_.setClipPath(ToDevice().map(box), Qt::IntersectClip);
    }
    p_.setTransform(
        QTransform(b.x() * stretch, b.y() * stretch, n.x(), n.y(), origin.x(), origin.y()));
    p_.setFont(font);
    if (s_.opaqueBk)
        p_.fillRect(QRectF(x, y - metrics.ascent(), width, metrics.height()), s_.bkColor);
    p_.setPen(s_.textColor);
    if (shaped) {
        // Laid out whole, in visual order with joined letters, and stretched
        // to the width the spacing array gives.
        const double natural = metrics.horizontalAdvance(text);
        const double stretch =
            natural > 0 && !dx.isEmpty() ? std::clamp(width / natural, 0.25, 4.0) : 1.0;
        p_.translate(x, y);
        p_.scale(stretch, 1);
        p_.drawText(QPointF(0, 0), text);
    } else {
        // Each character where the spacing array puts it.
        for (int i = 0; i < text.size(); ++i) {
            if (glyphTurn == 0) {
                p_.drawText(QPointF(x, y), QString(text[i]));
            } else {  // turned about its point on the baseline, counter-clockwise
                p_.save();
                p_.translate(x, y);
                p_.rotate(-glyphTurn);
                p_.drawText(QPointF(0, 0), QString(text[i]));
                p_.restore();
            }
            x += advances[i];
        }
    }
    p_.restore();
    clipDirty_ = true;
}

}  // namespace emf
