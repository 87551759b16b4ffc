// Loads a picture file for display. The format is decided by the file's
// content, not its name: BMP and ICO by our own decoders (every pixel defined,
// the largest icon entry), metafiles, JPEG, PNG, GIF, TIFF and WebP through
// their libraries, and everything else Qt's image plugins read. Every picture
// is decoded at the size it is shown at (see DecodeGate.h), so a picture far
// larger than the screen costs no more than one that fits.
#pragma once

#include "pictures/DecodeGate.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>

struct Picture {
    QImage image;
    QSize naturalSize;  // the size the picture has when shown at its own size
    LoadError error;    // why there is no image
    bool isNull() const { return image.isNull(); }
};

// With a display size, the image comes back at exactly that size; a display
// size larger than any screen (over 4096 x 4096 pixels) counts as none, and
// then a picture larger than kMaxKeptPixels comes reduced (its natural size is
// still its own). Without an image, the picture says why. Setting cancel stops
// the decoding between rows.
Picture LoadPicture(const QString& path, QSize displaySize = QSize(),
                    const std::atomic<bool>* cancel = nullptr);
Picture LoadPictureFromData(const QByteArray& data, QSize displaySize = QSize(),
                            const std::atomic<bool>* cancel = nullptr);

// The picture's own size from its header alone (before its orientation is
// applied); invalid when the header does not tell it.
QSize MeasurePicture(const QString& path);
