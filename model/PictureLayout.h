// The rule that lays a picture out in a window's client area, shared by the
// main window and the player.
#pragma once

#include "model/ProcessRecord.h"

#include <QRectF>
#include <optional>

struct PictureLayout {
    QRectF rect;   // place and size in the client area, in fractional pixels
    bool stretch;  // scaled to the rectangle, or shown at its own size
};

// By fit mode: two thirds of the client area, the fixed size, or the picture's
// own size (ownSize; the present size while there is no picture), placed
// by PicturePlace. An unknown fit mode gives nothing: the caller keeps what it has.
std::optional<PictureLayout> LayOutPicture(QSizeF client, int16_t fitMode, QSizeF fixed,
                                           QSizeF ownSize);

// Where a picture of that size goes: 1/2.2 of the free width from the left, a
// third of the free height from the top (negative when it is larger).
QPointF PicturePlace(QSizeF client, QSizeF size);
