#include "pictures/GifDecoder.h"

#include "pictures/AreaScaler.h"
#include "pictures/DecodeGate.h"

#include <gif_lib.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct GifSource {
    const QByteArray& data;
    qint64 at = 0;
};

int ReadBytes(GifFileType* gif, GifByteType* dest, int length) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    const int n = int(std::min<qint64>(length, source->data.size() - source->at));
    std::memcpy(dest, source->data.constData() + source->at, size_t(std::max(n, 0)));
    source->at += std::max(n, 0);
    return std::max(n, 0);
}

struct GifFile {
    GifFileType* gif;
    GifFile(GifSource& source) {
        int error = 0;
        gif = DGifOpen(&source, ReadBytes, &error);
    }
    ~GifFile() {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
    GifFile(const GifFile&) = delete;
    GifFile& operator=(const GifFile&) = delete;
};

// The first frame's transparent colour, from the graphic control extension
// before it; -1 when it has none.
int TransparentIndex(GifFileType* gif, int& record) {
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return -2;
        if (type == IMAGE_DESC_RECORD_TYPE || type == TERMINATE_RECORD_TYPE) {
            record = type;
            return transparent;
        }
        if (type != EXTENSION_RECORD_TYPE) continue;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return -2;
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4 && (block[1] & 1))
            transparent = block[4];
        while (block)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return -2;
    }
}

// The rows of an interlaced frame come in four passes.
std::vector<int> RowOrder(int height, bool interlaced) {
    std::vector<int> order;
    order.reserve(size_t(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) order.push_back(y);
        return order;
    }
    const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass]) order.push_back(y);
    return order;
}

struct Frame {
    QRect rect;
    std::vector<QRgb> colours;  // premultiplied; the transparent one is 0
};

// Feeds the frame's rows, each as wide as the canvas with the frame's pixels
// where it lies (what is around the frame stays transparent without being
// fed). False when the data ends or fails before the last row; the rows that
// did not come are not fed either, so a short file costs no more than its data.
bool DecodeFrame(GifFileType* gif, const Frame& frame, QSize canvas, bool interlaced,
                 AreaScaler& scaler) {
    std::vector<GifPixelType> line(size_t(std::max(frame.rect.width(), 1)));
    std::vector<QRgb> row(size_t(canvas.width()), 0);
    const QRect inside = frame.rect.intersected(QRect(QPoint(), canvas));
    for (const int fy : RowOrder(frame.rect.height(), interlaced)) {
        if (DecodeCancelled() || DGifGetLine(gif, line.data(), frame.rect.width()) == GIF_ERROR)
            return false;
        const int y = frame.rect.top() + fy;
        if (y < 0 || y >= canvas.height()) continue;
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const unsigned index = line[size_t(x - frame.rect.left())];
            row[size_t(x)] = index < frame.colours.size() ? frame.colours[index] : 0;
        }
        // Interlaced rows come out of order, which only the pixel-wise path takes.
        if (interlaced)
            scaler.AddPixels(y, row.data(), canvas.width(), 0, 1);
        else
            scaler.AddRow(y, row.data());
    }
    return true;
}

}  // namespace

bool IsGifFile(QByteArrayView data) {
    return data.startsWith("GIF87a") || data.startsWith("GIF89a");
}

std::optional<QSize> GifSize(const QByteArray& data) {
    GifSource source{data};
    GifFile file(source);
    if (!file.gif || file.gif->SWidth <= 0 || file.gif->SHeight <= 0) return std::nullopt;
    return QSize(file.gif->SWidth, file.gif->SHeight);
}

QImage DecodeGif(const QByteArray& data, QSize output) {
    GifSource source{data};
    GifFile file(source);
    GifFileType* gif = file.gif;
    int record = 0;
    const int transparent = gif ? TransparentIndex(gif, record) : -2;
    if (transparent == -2 || record != IMAGE_DESC_RECORD_TYPE ||
        DGifGetImageDesc(gif) == GIF_ERROR) {
        ReportDamage(source.at);
        return {};
    }
    const QSize canvas(gif->SWidth, gif->SHeight);
    const GifImageDesc& desc = gif->Image;
    Frame frame{QRect(desc.Left, desc.Top, desc.Width, desc.Height), {}};
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    for (int i = 0; map && i < map->ColorCount; ++i)
        frame.colours.push_back(
            i == transparent ? 0u
                             : qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
    const bool alpha = transparent >= 0 || frame.rect != QRect(QPoint(), canvas);
    AreaScaler scaler(canvas, AreaScaler::TargetFor(canvas, output), alpha);
    if (!scaler.Ready()) return {};
    if (!DecodeFrame(gif, frame, canvas, desc.Interlace, scaler)) {
        if (DecodeCancelled()) return {};
        ReportDamage(source.at);
    }
    return scaler.Take();
}
