#include "pictures/TiffDecoder.h"

#include "pictures/AreaScaler.h"
#include "pictures/ColourProfiles.h"
#include "pictures/DecodeGate.h"

#include <tiffio.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Rows are read in bands of about this many bytes.
constexpr qint64 kBandBytes = qint64(4) << 20;

struct TiffSource {
    const QByteArray& data;
    qint64 at = 0;
    qint64 furthest = 0;  // the furthest byte read: where damage was found
};

tmsize_t ReadBytes(thandle_t h, void* dest, tmsize_t length) {
    auto* s = static_cast<TiffSource*>(h);
    const qint64 n = std::clamp<qint64>(s->data.size() - s->at, 0, length);
    std::memcpy(dest, s->data.constData() + s->at, size_t(n));
    s->at += n;
    s->furthest = std::max(s->furthest, s->at);
    return tmsize_t(n);
}
tmsize_t WriteBytes(thandle_t, void*, tmsize_t) {
    return 0;
}
toff_t SeekTo(thandle_t h, toff_t offset, int whence) {
    auto* s = static_cast<TiffSource*>(h);
    const qint64 base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->data.size() : 0;
    s->at = std::clamp<qint64>(base + qint64(offset), 0, s->data.size());
    return toff_t(s->at);
}
int CloseFile(thandle_t) {
    return 0;
}
toff_t FileSize(thandle_t h) {
    return toff_t(static_cast<TiffSource*>(h)->data.size());
}

struct TiffFile {
    TIFF* tiff;
    explicit TiffFile(TiffSource& source) {
        static const bool quiet = [] {
            TIFFSetErrorHandler(nullptr);  // the reason goes to the caller, not to the terminal
            TIFFSetWarningHandler(nullptr);
            return true;
        }();
        (void)quiet;
        tiff = TIFFClientOpen("picture", "rm", &source, ReadBytes, WriteBytes, SeekTo, CloseFile,
                              FileSize, nullptr, nullptr);
    }
    ~TiffFile() {
        if (tiff) TIFFClose(tiff);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
};

QByteArray IccProfile(TIFF* tiff) {
    uint32_t count = 0;
    void* data = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &count, &data) || !data) return {};
    return QByteArray(static_cast<const char*>(data), qsizetype(count));
}

// Bands as tall as the file's own tiles or strips where they are not too
// large, so that none is decoded twice.
int BandRows(TIFF* tiff, int width) {
    uint32_t rows = 0;
    if (!TIFFGetField(tiff, TIFFTAG_TILELENGTH, &rows))
        TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rows);
    const qint64 fits = std::max<qint64>(1, kBandBytes / (qint64(width) * 4));
    return int(rows > 0 && rows <= fits ? rows : std::min<qint64>(fits, 64));
}

bool DecodeBands(TIFF* tiff, TIFFRGBAImage& rgba, const ColourConverter& colours,
                 AreaScaler& scaler) {
    const int width = int(rgba.width), height = int(rgba.height);
    const int band = BandRows(tiff, width);
    std::vector<uint32_t> raster(size_t(width) * size_t(band));
    for (int y = 0; y < height; y += band) {
        if (DecodeCancelled()) return false;
        const int rows = std::min(band, height - y);
        rgba.row_offset = y;
        rgba.col_offset = 0;
        if (!TIFFRGBAImageGet(&rgba, raster.data(), uint32_t(width), uint32_t(rows))) return false;
        for (int r = 0; r < rows; ++r) {
            uint32_t* row = &raster[size_t(r) * width];
            colours.Convert(reinterpret_cast<uchar*>(row), width);
            scaler.AddRow(y + r, reinterpret_cast<const QRgb*>(row));
        }
    }
    return true;
}

}  // namespace

bool IsTiffFile(QByteArrayView data) {
    return data.startsWith(QByteArrayView("II*\0", 4)) ||
           data.startsWith(QByteArrayView("MM\0*", 4)) ||
           data.startsWith(QByteArrayView("II+\0", 4)) ||
           data.startsWith(QByteArrayView("MM\0+", 4));
}

std::optional<QSize> TiffSize(const QByteArray& data) {
    TiffSource source{data};
    TiffFile file(source);
    uint32_t width = 0, height = 0;
    if (!file.tiff || !TIFFGetField(file.tiff, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(file.tiff, TIFFTAG_IMAGELENGTH, &height) || width > INT32_MAX ||
        height > INT32_MAX)
        return std::nullopt;
    return QSize(int(width), int(height));
}

QImage DecodeTiff(const QByteArray& data, QSize output) {
    TiffSource source{data};
    TiffFile file(source);
    char message[1024] = {};
    TIFFRGBAImage rgba{};
    if (!file.tiff) {
        ReportDamage(source.furthest);
        return {};
    }
    if (!TIFFRGBAImageOK(file.tiff, message) || !TIFFRGBAImageBegin(&rgba, file.tiff, 0, message)) {
        ReportDecodeError({LoadError::Unsupported, -1, {}, 0});
        return {};
    }
    rgba.req_orientation = ORIENTATION_TOPLEFT;
    const QSize own(int(rgba.width), int(rgba.height));
    AreaScaler scaler(own, AreaScaler::TargetFor(own, output), rgba.alpha != 0,
                      AreaScaler::Order::Rgba);
    if (!scaler.Ready()) {
        TIFFRGBAImageEnd(&rgba);
        return {};
    }
    const ColourConverter colours(IccProfile(file.tiff), ColourConverter::Order::Rgba);
    const bool complete = DecodeBands(file.tiff, rgba, colours, scaler);
    TIFFRGBAImageEnd(&rgba);
    if (!complete) {
        if (DecodeCancelled()) return {};
        ReportDamage(source.furthest);
    }
    return scaler.Take();
}
