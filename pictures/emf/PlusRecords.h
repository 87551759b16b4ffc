// The numbers of EMF+ records, object kinds and flags, named once for the
// player and its tests, and the limits the player keeps to.
#pragma once

#include "pictures/emf/EmfState.h"

#include <QColor>
#include <QTransform>
#include <cstdint>

namespace emf::plus {

enum RecordType : uint16_t {
    kHeader = 0x4001,
    kEndOfFile = 0x4002,
    kGetDc = 0x4004,
    kObject = 0x4008,
    kClear = 0x4009,
    kFillRects = 0x400A,
    kDrawRects = 0x400B,
    kFillPolygon = 0x400C,
    kDrawLines = 0x400D,
    kFillEllipse = 0x400E,
    kDrawEllipse = 0x400F,
    kFillPie = 0x4010,
    kDrawPie = 0x4011,
    kDrawArc = 0x4012,
    kFillRegion = 0x4013,
    kFillPath = 0x4014,
    kDrawPath = 0x4015,
    kFillClosedCurve = 0x4016,
    kDrawClosedCurve = 0x4017,
    kDrawCurve = 0x4018,
    kDrawBeziers = 0x4019,
    kDrawImage = 0x401A,
    kDrawImagePoints = 0x401B,
    kDrawString = 0x401C,
    kSetAntiAliasMode = 0x401E,
    kSetCompositingMode = 0x4023,
    kSave = 0x4025,
    kRestore = 0x4026,
    kBeginContainer = 0x4027,
    kBeginContainerNoParams = 0x4028,
    kEndContainer = 0x4029,
    kSetWorldTransform = 0x402A,
    kResetWorldTransform = 0x402B,
    kMultiplyWorldTransform = 0x402C,
    kTranslateWorldTransform = 0x402D,
    kScaleWorldTransform = 0x402E,
    kRotateWorldTransform = 0x402F,
    kSetPageTransform = 0x4030,
    kResetClip = 0x4031,
    kSetClipRect = 0x4032,
    kSetClipPath = 0x4033,
    kSetClipRegion = 0x4034,
    kOffsetClip = 0x4035,
    kDrawDriverString = 0x4036,
};

// Flags of the drawing records.
constexpr uint16_t kSolidColour = 0x8000;  // the brush value is a colour, not an object
constexpr uint16_t kCompressed = 0x4000;   // 16-bit coordinates
constexpr uint16_t kRelative = 0x0800;     // relative coordinates, not drawn
constexpr uint16_t kAppend = 0x2000;       // transforms multiply after the present one
constexpr uint16_t kClosed = 0x2000;       // lines closed into a polygon

constexpr int kMaxObjectBytes = 64 << 20;
constexpr qint64 kMaxImagePixels = qint64(1) << 26;
constexpr int kMaxRegionDepth = 64;
constexpr int kMaxNesting = 3;                    // metafiles inside metafiles, at most this deep
constexpr qint64 kMaxNestedPixels = 4096 * 4096;  // the largest a nested one is played at
constexpr double kLargestFontPixels = 2048;
constexpr qint64 kMaxTiles = 4096;
constexpr int kMaxNestedPlays = 64;  // nested metafiles one file plays, and all below it  // tiles
                                     // of one picture drawn beyond its edges

// The units of sizes and of the page.
enum Unit : uint32_t {
    kUnitWorld = 0,
    kUnitDisplay = 1,
    kUnitPixel = 2,
    kUnitPoint = 3,
    kUnitInch = 4,
    kUnitDocument = 5,  // 1/300 inch
    kUnitMillimeter = 6,
};

// The kinds of object an object record holds.
enum ObjectKind : uint32_t {
    kBrushObject = 1,
    kPenObject = 2,
    kPathObject = 3,
    kRegionObject = 4,
    kImageObject = 5,
    kFontObject = 6,
    kStringFormatObject = 7,
    kImageAttributesObject = 8,
};

inline QColor Argb(uint32_t value) {
    return QColor::fromRgba(value);
}

inline QTransform MatrixAt(const Reader& r, qint64 at) {
    return QTransform(r.F32(at), r.F32(at + 4), r.F32(at + 8), r.F32(at + 12), r.F32(at + 16),
                      r.F32(at + 20));
}

}  // namespace emf::plus
