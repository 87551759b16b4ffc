// The program's own picture decoders as Qt image-format handlers, registered
// statically, so that every picture loads through QImageReader: bitmaps
// ("kadrelo-bmp"), icons ("kadrelo-ico"), metafiles ("kadrelo-emf"), and JPEG,
// PNG, GIF, TIFF and WebP through their own libraries, decoded at the size they
// are shown at ("kadrelo-jpeg" and so on). They are asked for by name only, so
// Qt's own handlers keep every other format.
#pragma once

#include <QImageIOPlugin>

class PicturesPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "PicturesPlugin.json")
  public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};

// The handler's format for data whose content one of them reads; empty otherwise.
QByteArray OwnFormatOf(QByteArrayView data);
