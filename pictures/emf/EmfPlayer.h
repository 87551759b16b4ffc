// Windows enhanced metafiles (EMF): a record walker and a QPainter renderer,
// written from Microsoft's published description of the format. Records are
// bounds-checked against their own size and the file's end; unknown records
// are skipped; a damaged record ends playback, keeping what was drawn.
#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <optional>

struct EmfHeader {
    QRectF bounds;      // device units (the inclusive rectangle's full extent)
    QRectF frame;       // 0.01 mm, likewise
    QSize device;       // reference device, pixels
    QSize millimeters;  // reference device, millimetres
    // The same, exact, from the header's micrometre fields where it has them:
    // the whole millimetres are rounded, which would shrink and shift a drawing.
    QSizeF exactMillimeters;
};

bool LooksLikeEmf(QByteArrayView data);
std::optional<EmfHeader> ReadEmfHeader(QByteArrayView data);

// The picture's own size: its frame at 96 dots per inch.
QSize EmfNaturalSize(const EmfHeader& header);

// Draws the metafile scaled to size, on white. Null when the header is unusable.
QImage RenderEmf(QByteArrayView data, QSize size);
