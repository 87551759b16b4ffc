// Loads a picture file for display. The format is decided by the file's
// content, not its name: BMP and ICO by our own decoders (every pixel defined,
// the largest icon entry), metafiles, and everything Qt's image plugins read.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

struct Picture {
    QImage image;
    QSize naturalSize;  // the size the picture has when shown at its own size
    bool isNull() const { return image.isNull(); }
};

// With a display size, the image comes back at exactly that size (JPEG is
// decoded at the smaller size directly); a display size larger than any screen
// (over 4096 x 4096 pixels) counts as none. The empty name, a missing file and an
// unreadable file all give the null picture.
Picture LoadPicture(const QString& path, QSize displaySize = QSize());
Picture LoadPictureFromData(const QByteArray& data, QSize displaySize = QSize());
