#include "pictures/emf/EmfPlayer.h"

#include "pictures/emf/MetafileRenderer.h"
#include "platform/LargeMemory.h"

#include <QPainter>
#include <cmath>

#include "pictures/emf/EmfRecords.h"

using emf::MetafileRenderer;
using emf::Reader;

bool LooksLikeEmf(QByteArrayView d) {
    return d.size() >= 88 && qFromLittleEndian<uint32_t>(d.data()) == emf::kHeader &&
           d.sliced(40, 4) == QByteArrayView(" EMF");
}

std::optional<EmfHeader> ReadEmfHeader(QByteArrayView data) {
    if (!LooksLikeEmf(data)) return std::nullopt;
    const Reader r(data.first(std::min<qsizetype>(data.size(), 108)));
    // Inclusive rectangles: both edges belong to the picture.
    auto inclusive = [](const QRectF& box) {
        return QRectF(box.topLeft(), QSizeF(box.width() + 1, box.height() + 1));
    };
    EmfHeader h;
    h.bounds = inclusive(r.Box(8));
    h.frame = inclusive(r.Box(24));
    h.device = QSize(r.I32(72), r.I32(76));
    h.millimeters = QSize(r.I32(80), r.I32(84));
    if (h.device.width() <= 0 || h.device.height() <= 0 || h.millimeters.width() <= 0 ||
        h.millimeters.height() <= 0)
        return std::nullopt;
    h.exactMillimeters = QSizeF(h.millimeters);
    // The header ends where its description begins, when that comes first;
    // only a header of 108 bytes or more holds micrometres, and only ones that
    // round to the whole millimetres are believed.
    qint64 headerSize = r.U32(4);
    if (r.U32(64) != 0) headerSize = std::min<qint64>(headerSize, r.U32(68));
    const QSizeF exact(r.I32(100) / 1000.0, r.I32(104) / 1000.0);
    if (headerSize >= 108 && std::abs(exact.width() - h.millimeters.width()) <= 1 &&
        std::abs(exact.height() - h.millimeters.height()) <= 1 && !exact.isEmpty())
        h.exactMillimeters = exact;
    return h;
}

QSize EmfNaturalSize(const EmfHeader& h) {
    QSizeF size(h.frame.width() * 96.0 / 2540.0, h.frame.height() * 96.0 / 2540.0);
    if (size.width() < 1 || size.height() < 1) size = QSizeF(h.bounds.size());
    // Clamped before rounding: a damaged header can give any value at all. A
    // frame larger than a wall poster is scaled down, keeping its proportions.
    constexpr double kLongestSide = 4096;
    const double width = std::clamp(size.width(), 1.0, 1e9);
    const double height = std::clamp(size.height(), 1.0, 1e9);
    const double fit = std::min(1.0, kLongestSide / std::max(width, height));
    return QSize(std::max(1, qRound(width * fit)), std::max(1, qRound(height * fit)));
}

QImage RenderEmf(QByteArrayView data, QSize size) {
    const std::optional<EmfHeader> header = ReadEmfHeader(data);
    if (!header || size.isEmpty()) return {};
    QImage image = NewLargeImage(size, QImage::Format_RGB32);
    if (image.isNull()) return {};
    image.fill(Qt::white);
    QPainter painter(&image);
    MetafileRenderer(painter, *header, size).Play(data);
    return image;
}
