// What the metafile player keeps while it plays: bounds-checked reading of a
// record, the graphics objects and the device-context state.
#pragma once

#include "platform/ColorValue.h"

#include <QByteArrayView>
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QTransform>
#include <QVector>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <optional>
#include <variant>

namespace emf {

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

// ---- graphics objects ------------------------------------------------------

struct Pen {
    Qt::PenStyle style = Qt::SolidLine;
    QVector<qreal> dashes;  // user styles, in pen widths
    double width = 0;       // logical units; 0 draws one device pixel
    bool cosmetic = true;
    QColor color = Qt::black;
    Qt::PenCapStyle cap = Qt::RoundCap;
    Qt::PenJoinStyle join = Qt::RoundJoin;
    bool operator==(const Pen&) const = default;
};

struct Brush {
    bool null = false;
    QColor color = Qt::white;
    Qt::BrushStyle style = Qt::SolidPattern;
    QImage pattern;
    bool operator==(const Brush&) const = default;
};

struct Font {
    double height = 12;      // logical units; negative: character height, positive: cell height
    double width = 0;        // average character width, logical units; 0: the font's own
    double escapement = 0;   // of the baseline, tenths of a degree
    double orientation = 0;  // of each glyph, in the advanced graphics mode only
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

// How a new clipping area, or the second part of a region, combines with the
// present one. EMF+ numbers them so (0 to 5); plain records number theirs
// from 1 (see PlainCombine).
enum class Combine { Replace, Intersect, Union, Xor, Exclude, Complement };

// The mode of a plain record (RGN_AND 1, RGN_OR 2, RGN_XOR 3, RGN_DIFF 4, RGN_COPY 5).
Combine PlainCombine(uint32_t mode);

// The whole plane, as far as a metafile reaches.
QPainterPath Everything();
// present combined with other.
QPainterPath Combined(const QPainterPath& present, const QPainterPath& other, Combine how);
// A clip (nothing: none, the whole plane) combined with other; a union with no
// clip stays no clip.
std::optional<QPainterPath> CombinedClip(const std::optional<QPainterPath>& clip,
                                         const QPainterPath& other, Combine how);

}  // namespace emf
