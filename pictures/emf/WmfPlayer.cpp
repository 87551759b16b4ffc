#include "pictures/emf/WmfPlayer.h"

#include "pictures/emf/EmfRecords.h"
#include "pictures/emf/EmfState.h"
#include "platform/CodePage932.h"

#include <QRect>
#include <QVector>
#include <QtEndian>
#include <algorithm>
#include <initializer_list>

namespace wmf {
namespace {

using emf::Reader;

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr int kPlaceableSize = 22, kHeaderWords = 9;
constexpr int kMaxObjects = 4096;
constexpr int kMaxPoints = 1 << 20;
// The reference device of the enhanced metafile made: 4 pixels a millimetre.
constexpr int kDevicePixels = 4000, kDeviceMillimetres = 1000;

// The WMF record functions translated.
enum Function : uint16_t {
    kEof = 0x0000,
    kSaveDc = 0x001E,
    kCreatePalette = 0x00F7,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetRop2 = 0x0104,
    kSetPolyFillMode = 0x0106,
    kSetStretchBltMode = 0x0107,
    kRestoreDc = 0x0127,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kDibCreatePatternBrush = 0x0142,
    kDeleteObject = 0x01F0,
    kCreatePatternBrush = 0x01F9,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kSetViewportOrg = 0x020D,
    kSetViewportExt = 0x020E,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kRectangle = 0x041B,
    kSetPixel = 0x041F,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kRoundRect = 0x061C,
    kCreateRegion = 0x06FF,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kDibStretchBlt = 0x0B41,
    kStretchDib = 0x0F43,
};

// An enhanced-metafile record being written: its type, a size filled in at the
// end, then 32-bit values and raw bytes, padded to whole words.
class EmfRecord {
  public:
    explicit EmfRecord(uint32_t type) { Put(type), Put(0); }
    EmfRecord& Put(int64_t value) {
        char raw[4];
        qToLittleEndian(uint32_t(value), raw);
        bytes_.append(raw, 4);
        return *this;
    }
    EmfRecord& Put(std::initializer_list<int64_t> values) {
        for (int64_t v : values) Put(v);
        return *this;
    }
    EmfRecord& Append(QByteArrayView raw) {
        bytes_.append(raw.data(), raw.size());
        return *this;
    }
    qsizetype Size() const { return bytes_.size(); }
    QByteArray Done() {
        while (bytes_.size() % 4) bytes_.append('\0');
        qToLittleEndian(uint32_t(bytes_.size()), bytes_.data() + 4);
        return bytes_;
    }

  private:
    QByteArray bytes_;
};

// How large a packed DIB's header and colour table are.
qint64 DibInfoSize(const Reader& dib, qint64 at) {
    const uint32_t headerSize = dib.U32(at);
    if (headerSize == 12) {  // BITMAPCOREHEADER: three-byte colours
        const int bits = dib.U16(at + 10);
        return 12 + (bits <= 8 ? qint64(3) << bits : 0);
    }
    if (headerSize < 40 || headerSize > 124) return -1;
    const int bits = dib.U16(at + 14);
    const uint32_t compression = dib.U32(at + 16), used = dib.U32(at + 32);
    qint64 colours = bits <= 8 ? (used ? std::min<uint32_t>(used, 256) : (1u << bits)) : used;
    qint64 masks = (compression == 3 || compression == 6) && headerSize == 40 ? 12 : 0;
    return headerSize + masks + std::min<qint64>(colours, 256) * 4;
}

class Translator {
  public:
    Translator(QByteArrayView data, qint64 recordsAt) : data_(data), at_(recordsAt) {}

    // The drawing records, translated; the window set up first so that the
    // bounding box (or the file's own window) fills the picture.
    QByteArray Records(const QRect& box, QSize device) {
        Emit(EmfRecord(emf::kSetMapMode).Put(8));  // MM_ANISOTROPIC
        Emit(EmfRecord(emf::kSetWindowOrgEx).Put({box.left(), box.top()}));
        Emit(EmfRecord(emf::kSetWindowExtEx).Put({box.width(), box.height()}));
        Emit(EmfRecord(emf::kSetViewportOrgEx).Put({0, 0}));
        Emit(EmfRecord(emf::kSetViewportExtEx).Put({device.width(), device.height()}));
        while (at_ + 6 <= data_.size()) {
            const Reader head(data_.sliced(at_, 6));
            const qint64 size = qint64(head.U32(0)) * 2;
            if (size < 6 || size > data_.size() - at_) break;
            const uint16_t function = head.U16(4);
            if (function == kEof) break;
            Translate(function, Reader(data_.sliced(at_ + 6, size - 6)));
            at_ += size;
        }
        return out_;
    }
    int Count() const { return count_; }

    // The window the file sets first, for a metafile without a bounding box.
    static std::optional<QRect> FirstWindow(QByteArrayView data, qint64 at) {
        std::optional<QPoint> origin;
        while (at + 6 <= data.size()) {
            const Reader r(data.sliced(at));
            const qint64 size = qint64(r.U32(0)) * 2;
            if (size < 6 || size > data.size() - at) break;
            if (r.U16(4) == kSetWindowOrg && !origin) origin = QPoint(r.I16(8), r.I16(6));
            if (r.U16(4) == kSetWindowExt) {
                const QSize ext(r.I16(8), r.I16(6));
                if (ext.width() == 0 || ext.height() == 0) return std::nullopt;
                return QRect(origin.value_or(QPoint()), ext);
            }
            at += size;
        }
        return std::nullopt;
    }

  private:
    void Emit(EmfRecord record) {
        out_ += record.Done();
        ++count_;
    }

    // Two 16-bit values stored y first, as a point.
    static QPoint PointAt(const Reader& r, qint64 at) { return QPoint(r.I16(at + 2), r.I16(at)); }
    // Four 16-bit values stored bottom, right, top, left, as left, top, right, bottom.
    static void PutBox(EmfRecord& e, const Reader& r, qint64 at) {
        e.Put({r.I16(at + 6), r.I16(at + 4), r.I16(at + 2), r.I16(at)});
    }

    void Translate(uint16_t function, const Reader& r) {
        switch (function) {
            case kSetBkMode:
                return Emit(EmfRecord(emf::kSetBkMode).Put(r.U16(0)));
            case kSetRop2:
                return Emit(EmfRecord(emf::kSetRop2).Put(r.U16(0)));
            case kSetPolyFillMode:
                return Emit(EmfRecord(emf::kSetPolyFillMode).Put(r.U16(0)));
            case kSetTextAlign:
                return Emit(EmfRecord(emf::kSetTextAlign).Put(r.U16(0)));
            case kSetBkColor:
                return Emit(EmfRecord(emf::kSetBkColor).Put(r.U32(0)));
            case kSetTextColor:
                return Emit(EmfRecord(emf::kSetTextColor).Put(r.U32(0)));
            case kSetWindowOrg:
                return Emit(EmfRecord(emf::kSetWindowOrgEx).Put({r.I16(2), r.I16(0)}));
            case kSetWindowExt:
                return Emit(EmfRecord(emf::kSetWindowExtEx).Put({r.I16(2), r.I16(0)}));
            case kSaveDc:
                return Emit(EmfRecord(emf::kSaveDc));
            case kRestoreDc:
                return Emit(EmfRecord(emf::kRestoreDc).Put(r.I16(0)));
            case kMoveTo:
            case kLineTo: {
                const QPoint p = PointAt(r, 0);
                return Emit(EmfRecord(function == kMoveTo ? emf::kMoveToEx : emf::kLineTo)
                                .Put({p.x(), p.y()}));
            }
            case kSetPixel: {
                const QPoint p = PointAt(r, 4);
                return Emit(EmfRecord(emf::kSetPixelV).Put({p.x(), p.y(), r.U32(0)}));
            }
            case kRectangle:
            case kEllipse:
            case kIntersectClipRect:
            case kExcludeClipRect:
                return Box(function, r);
            case kRoundRect: {
                EmfRecord e(emf::kRoundRect);
                PutBox(e, r, 4);
                return Emit(e.Put({r.I16(2), r.I16(0)}));
            }
            case kArc:
            case kPie:
            case kChord:
                return Arc(function, r);
            case kPolygon:
            case kPolyline:
                return Poly(function, r);
            case kPolyPolygon:
                return PolyPolygon(r);
            case kTextOut:
                return TextOut(r);
            case kExtTextOut:
                return ExtTextOut(r);
            case kCreatePenIndirect:
                return CreatePen(r);
            case kCreateBrushIndirect:
                return CreateBrush(r);
            case kCreateFontIndirect:
                return CreateFont(r);
            case kDibCreatePatternBrush:
                return CreatePatternBrush(r);
            case kCreatePalette:
            case kCreateRegion:
            case kCreatePatternBrush:
                Take(false);  // takes a place in the object table, and is not drawn
                return;
            case kSelectObject:
                return SelectObject(r.U16(0));
            case kDeleteObject:
                return DeleteObject(r.U16(0));
            case kDibBitBlt:
            case kDibStretchBlt:
            case kStretchDib:
                return Blit(function, r);
            default:
                return;  // map modes and viewports are the player's; the rest is not drawn
        }
    }

    void Box(uint16_t function, const Reader& r) {
        const uint32_t type = function == kRectangle           ? emf::kRectangle
                              : function == kEllipse           ? emf::kEllipse
                              : function == kIntersectClipRect ? emf::kIntersectClipRect
                                                               : emf::kExcludeClipRect;
        EmfRecord e(type);
        PutBox(e, r, 0);
        Emit(e);
    }

    // end point, start point, then the box: each stored y first.
    void Arc(uint16_t function, const Reader& r) {
        const uint32_t type = function == kArc   ? emf::kArc
                              : function == kPie ? emf::kPie
                                                 : emf::kChord;
        EmfRecord e(type);
        PutBox(e, r, 8);
        const QPoint start = PointAt(r, 4), end = PointAt(r, 0);
        Emit(e.Put({start.x(), start.y(), end.x(), end.y()}));
    }

    void Poly(uint16_t function, const Reader& r) {
        const int count = r.I16(0);
        if (count <= 0 || !r.Has(2, qint64(count) * 4)) return;
        EmfRecord e(function == kPolygon ? emf::kPolygon16 : emf::kPolyline16);
        e.Put({0, 0, -1, -1, count});  // bounds not used
        Emit(e.Append(r.Bytes(2, qint64(count) * 4)));
    }

    void PolyPolygon(const Reader& r) {
        const int polygons = r.I16(0);
        if (polygons <= 0 || !r.Has(2, qint64(polygons) * 2)) return;
        EmfRecord e(emf::kPolyPolygon16);
        qint64 points = 0;
        QVector<int64_t> counts;
        for (int i = 0; i < polygons; ++i) counts << r.U16(2 + i * 2), points += counts.last();
        const qint64 at = 2 + qint64(polygons) * 2;
        if (points > kMaxPoints || !r.Has(at, points * 4)) return;
        e.Put({0, 0, -1, -1, polygons, points});
        for (int64_t c : counts) e.Put(c);
        Emit(e.Append(r.Bytes(at, points * 4)));
    }

    // An ANSI text record: the player decodes it with the font's character set.
    void Text(QPoint at, QByteArrayView text, uint32_t options, const QRect& rect,
              const QVector<int>& dx) {
        if (text.isEmpty()) return;
        constexpr int64_t kFixed = 76;  // where the string starts in the record
        const int64_t padded = (text.size() + 3) / 4 * 4;
        EmfRecord e(emf::kExtTextOutA);
        e.Put({0, 0, -1, -1, 1, 0, 0});  // bounds, compatible graphics mode, no scale
        e.Put({at.x(), at.y(), text.size(), kFixed, options});
        e.Put({rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1});
        e.Put(dx.isEmpty() ? 0 : kFixed + padded);
        e.Append(text).Append(QByteArray(padded - text.size(), '\0'));
        for (int d : dx) e.Put(d);
        Emit(e);
    }

    // count, the string padded to whole words, then y and x.
    void TextOut(const Reader& r) {
        const int count = r.I16(0);
        const qint64 padded = (count + 1) / 2 * 2;
        if (count <= 0 || !r.Has(2, padded + 4)) return;
        Text(PointAt(r, 2 + padded), r.Bytes(2, count), 0, QRect(), {});
    }

    // y, x, count, options, a rectangle where the options ask for one, the
    // string padded to whole words, and its widths where present.
    void ExtTextOut(const Reader& r) {
        const QPoint at = PointAt(r, 0);
        const int count = r.I16(4);
        const uint16_t options = r.U16(6);
        qint64 text = 8;
        QRect rect;
        if (options & 0x0006) {
            rect = QRect(QPoint(r.I16(8), r.I16(10)), QPoint(r.I16(12) - 1, r.I16(14) - 1));
            text += 8;
        }
        if (count <= 0 || !r.Has(text, count)) return;
        QVector<int> dx;
        const qint64 widths = text + (count + 1) / 2 * 2;
        if (r.Has(widths, qint64(count) * 2))
            for (int i = 0; i < count; ++i) dx << r.I16(widths + i * 2);
        Text(at, r.Bytes(text, count), options, rect, dx);
    }

    // The lowest free place in the object table, taken; its handle in the
    // enhanced metafile is one more.
    int Take(bool drawn) {
        const auto free = std::find(used_.begin(), used_.end(), Slot::Free);
        const int index = int(free - used_.begin());
        if (index >= kMaxObjects) return -1;
        if (free == used_.end()) used_.push_back(Slot::Free);
        used_[index] = drawn ? Slot::Drawn : Slot::NotDrawn;
        return index;
    }

    // style, width (x, y), colour.
    void CreatePen(const Reader& r) {
        const int index = Take(true);
        if (index < 0) return;
        Emit(EmfRecord(emf::kCreatePen).Put({index + 1, r.U16(0), r.I16(2), 0, r.U32(6)}));
    }

    // style, colour, hatch.
    void CreateBrush(const Reader& r) {
        const int index = Take(true);
        if (index < 0) return;
        Emit(EmfRecord(emf::kCreateBrushIndirect).Put({index + 1, r.U16(0), r.U32(2), r.U16(6)}));
    }

    // height, width, escapement, orientation, weight (16 bits each), then the
    // bytes italic to pitch, and the face name in the font's character set.
    void CreateFont(const Reader& r) {
        const int index = Take(true);
        if (index < 0) return;
        const uint8_t charset = r.U8(13);
        QByteArrayView face = r.Bytes(18, std::min<qint64>(32, r.size() - 18));
        face = face.first(
            std::max<qsizetype>(0, face.indexOf('\0') < 0 ? face.size() : face.indexOf('\0')));
        const QString name =
            charset == 128 ? cp932::Decode(face) : QString::fromLatin1(face.data(), face.size());
        EmfRecord e(emf::kExtCreateFontIndirectW);
        e.Put({index + 1, r.I16(0), r.I16(2), r.I16(4), r.I16(6), r.I16(8)});
        e.Append(r.Bytes(10, 8).isEmpty() ? QByteArray(8, '\0') : r.Bytes(10, 8));
        QByteArray utf16(64, '\0');
        for (int i = 0; i < std::min<int>(31, int(name.size())); ++i)
            qToLittleEndian<uint16_t>(name[i].unicode(), utf16.data() + i * 2);
        Emit(e.Append(utf16));  // the face is the last field the player reads
    }

    // style, colour usage, then a packed DIB.
    void CreatePatternBrush(const Reader& r) {
        const int index = Take(true);
        if (index < 0) return;
        const qint64 info = DibInfoSize(r, 4);
        if (info <= 0 || !r.Has(4, info)) return;
        const QByteArrayView dib = r.Bytes(4, r.size() - 4);
        constexpr int64_t kFixed = 32;
        EmfRecord e(emf::kCreateDibPatternBrushPt);
        e.Put({index + 1, r.U16(2), kFixed, info, kFixed + info, dib.size() - info});
        Emit(e.Append(dib));
    }

    void SelectObject(uint16_t index) {
        if (index >= used_.size() || used_[index] != Slot::Drawn) return;
        Emit(EmfRecord(emf::kSelectObject).Put(index + 1));
    }

    void DeleteObject(uint16_t index) {
        if (index >= used_.size() || used_[index] == Slot::Free) return;
        if (used_[index] == Slot::Drawn) Emit(EmfRecord(emf::kDeleteObject).Put(index + 1));
        used_[index] = Slot::Free;
    }

    // The three bitmap records, each as a StretchDIBits: raster operation, the
    // source's place and size, the destination's, then a packed DIB.
    void Blit(uint16_t function, const Reader& r) {
        const uint32_t rop = r.U32(0);
        int16_t srcH, srcW, srcY, srcX, dstH, dstW, dstY, dstX;
        qint64 at;
        if (function == kStretchDib) {  // rop, usage, then as DibStretchBlt
            srcH = r.I16(6), srcW = r.I16(8), srcY = r.I16(10), srcX = r.I16(12);
            dstH = r.I16(14), dstW = r.I16(16), dstY = r.I16(18), dstX = r.I16(20), at = 22;
        } else if (function == kDibStretchBlt) {
            srcH = r.I16(4), srcW = r.I16(6), srcY = r.I16(8), srcX = r.I16(10);
            dstH = r.I16(12), dstW = r.I16(14), dstY = r.I16(16), dstX = r.I16(18), at = 20;
        } else {  // DibBitBlt: one size for both
            srcY = r.I16(4), srcX = r.I16(6), dstH = r.I16(8), dstW = r.I16(10);
            dstY = r.I16(12), dstX = r.I16(14), srcH = dstH, srcW = dstW, at = 16;
        }
        const qint64 info = DibInfoSize(r, at);
        if (info <= 0 || !r.Has(at, info)) return;  // no bitmap: a pattern fill, not drawn
        const QByteArrayView dib = r.Bytes(at, r.size() - at);
        constexpr int64_t kFixed = 80;
        EmfRecord e(emf::kStretchDiBits);
        e.Put({0, 0, -1, -1, dstX, dstY, srcX, srcY, srcW, srcH, kFixed, info, kFixed + info,
               dib.size() - info, 0, rop, dstW, dstH});
        Emit(e.Append(dib));
    }

    enum class Slot { Free, Drawn, NotDrawn };

    QByteArrayView data_;
    qint64 at_;
    QByteArray out_;
    int count_ = 0;
    std::vector<Slot> used_;
};

// The enhanced-metafile header of a picture of the given size in 0.01 mm,
// on the reference device.
QByteArray EnhancedHeader(QSizeF frame, qint64 bodySize, int records) {
    EmfRecord h(emf::kHeader);
    const int64_t w = int64_t(frame.width()), height = int64_t(frame.height());
    const auto device = [](int64_t hundredths) {
        return hundredths * kDevicePixels / kDeviceMillimetres / 100;
    };
    h.Put({0, 0, device(w) - 1, device(height) - 1, 0, 0, w - 1, height - 1});
    h.Append(" EMF").Put({0x10000, 108 + bodySize + 20, records + 2, 0, 0, 0, 0});
    h.Put({kDevicePixels, kDevicePixels, kDeviceMillimetres, kDeviceMillimetres, 0, 0, 0});
    h.Put({kDeviceMillimetres * 1000, kDeviceMillimetres * 1000});
    return h.Done();
}

}  // namespace
}  // namespace wmf

using wmf::kPlaceableKey;

bool LooksLikeWmf(QByteArrayView d) {
    const emf::Reader r(d.first(std::min<qsizetype>(d.size(), 64)));
    if (r.U32(0) == kPlaceableKey) return r.Has(0, wmf::kPlaceableSize + 18);
    const uint16_t type = r.U16(0), words = r.U16(2), version = r.U16(4);
    return d.size() >= 18 && (type == 1 || type == 2) && words == wmf::kHeaderWords &&
           (version == 0x0100 || version == 0x0300);
}

std::optional<QByteArray> WmfToEmf(QByteArrayView data) {
    if (!LooksLikeWmf(data)) return std::nullopt;
    const emf::Reader r(data);
    const bool placeable = r.U32(0) == kPlaceableKey;
    const qint64 header = placeable ? wmf::kPlaceableSize : 0;
    const qint64 records = header + qint64(r.U16(header + 2)) * 2;
    QRect box;
    double unitsPerInch = 96;
    if (placeable) {
        box = QRect(QPoint(r.I16(6), r.I16(8)), QPoint(r.I16(10) - 1, r.I16(12) - 1)).normalized();
        if (r.U16(14) > 0) unitsPerInch = r.U16(14);
    } else if (const std::optional<QRect> window = wmf::Translator::FirstWindow(data, records)) {
        box = window->normalized();
    }
    if (box.width() <= 0 || box.height() <= 0) return std::nullopt;
    const QSizeF frame(box.width() * 2540.0 / unitsPerInch, box.height() * 2540.0 / unitsPerInch);
    if (frame.width() < 1 || frame.height() < 1 || frame.width() > 1e7 || frame.height() > 1e7)
        return std::nullopt;
    const QSize device(int(frame.width() * wmf::kDevicePixels / wmf::kDeviceMillimetres / 100),
                       int(frame.height() * wmf::kDevicePixels / wmf::kDeviceMillimetres / 100));
    wmf::Translator translator(data, records);
    const QByteArray body = translator.Records(box, device.expandedTo(QSize(1, 1)));
    wmf::EmfRecord eof(emf::kEof);
    eof.Put({0, 16, 20});
    return wmf::EnhancedHeader(frame, body.size(), translator.Count()) + body + eof.Done();
}
