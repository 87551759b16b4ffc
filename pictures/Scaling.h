// The one smooth scaling step a picture takes to its display size.
#pragma once

#include <QImage>

// Scaled to exactly size. Enlarging, and shrinking by less than half (a JPEG
// decoded at the nearest larger of its sizes), interpolate between the pixels
// into memory of their own; shrinking further averages whole areas, so that no
// detail flickers away.
QImage ScaledSmoothly(const QImage& image, QSize size);
