// EMF+ objects as their records store them, decoded without a painter, so
// that each can be checked on its own.
#pragma once

#include "pictures/emf/EmfPlus.h"

#include <optional>

namespace emf::plus {

// The object of an object record of the given kind, or nothing for a kind
// that is not drawn or data that does not make one.
std::optional<Object> DecodeObject(uint32_t kind, const Reader& r);

// Points of a drawing record (16-bit or float), and a rectangle.
QVector<QPointF> PointsAt(const Reader& r, qint64 at, uint32_t count, uint16_t flags);
QRectF RectAt(const Reader& r, qint64 at, bool compressed);

std::optional<Brush> ReadBrush(const Reader& r, qint64 at);
std::optional<Pen> ReadPen(const Reader& r);
std::optional<Cap> ReadCap(const Reader& r, qint64 at);
QPainterPath ReadPath(const Reader& r, qint64 at);
QPainterPath ReadRegion(const Reader& r);
QPainterPath RegionNode(const Reader& r, qint64& at, int depth);
QImage ReadImage(const Reader& r, qint64 at);
std::optional<NestedMetafile> ReadNestedMetafile(const Reader& r, qint64 at);
Font ReadFont(const Reader& r);

}  // namespace emf::plus
