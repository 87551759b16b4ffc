#include "pictures/PngDecoder.h"

#include "pictures/AreaScaler.h"
#include "pictures/ColourProfiles.h"
#include "pictures/DecodeGate.h"

#include <png.h>
#include <QtEndian>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Ancillary chunks (text, profiles) may take this much memory each.
constexpr png_alloc_size_t kChunkLimit = png_alloc_size_t(64) << 20;

// What a decoding holds beyond libpng's own state, on the heap so that an
// error's longjmp skips no destructor. The file is read from memory through
// a callback, so that a failure can name the byte where the data stopped.
struct PngWork {
    explicit PngWork(const QByteArray& bytes) : data(bytes) {}
    const QByteArray& data;
    size_t at = 0;
    std::unique_ptr<AreaScaler> scaler;
    std::unique_ptr<ColourConverter> colours;
    std::vector<uchar> row;
};

void ReadBytes(png_structp png, png_bytep dest, size_t length) {
    auto* work = static_cast<PngWork*>(png_get_io_ptr(png));
    if (work->at + length > size_t(work->data.size())) {
        work->at = size_t(work->data.size());
        png_error(png, "cut short");
    }
    std::memcpy(dest, work->data.constData() + work->at, length);
    work->at += length;
}

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}  // a damaged ancillary chunk is left out

struct PngReader {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
    PngReader() = default;
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
};

// Any size PNG allows: the decode gate decides what is too large.
void Limit(png_structp png) {
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_chunk_malloc_max(png, kChunkLimit);
}

bool HasAlpha(png_structp png, png_infop info) {
    return (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) ||
           png_get_valid(png, info, PNG_INFO_tRNS);
}

// cHRM and gAMA that describe sRGB (as many programs write them beside the
// picture) ask for no conversion.
bool DescribesSrgb(const double c[8], double gamma) {
    const double srgb[8] = {0.3127, 0.329, 0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
    for (int i = 0; i < 8; ++i)
        if (std::abs(c[i] - srgb[i]) > 0.01) return false;
    return std::abs(gamma - 1 / 2.2) < 0.002;
}

// The profile the picture's colours are in, if it is not sRGB.
QByteArray ColourProfile(png_structp png, png_infop info) {
    int intent = 0;
    if (png_get_sRGB(png, info, &intent)) return {};
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length))
        return QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length));
    double c[8], gamma = 0;
    if (!png_get_cHRM(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) ||
        !png_get_gAMA(png, info, &gamma) || DescribesSrgb(c, gamma))
        return {};
    return ProfileFromChromaticities(
        {{c[0], c[1]}, {c[2], c[3]}, {c[4], c[5]}, {c[6], c[7]}, gamma});
}

// Eight bits a channel, blue-green-red-alpha as QImage keeps them, whatever
// the file holds.
void AskForBgra(png_structp png, png_infop info) {
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
}

void Premultiply(QRgb* pixels, int count) {
    for (int i = 0; i < count; ++i)
        if (qAlpha(pixels[i]) != 255) pixels[i] = qPremultiply(pixels[i]);
}

// Every row of every pass into the scaler: an interlaced picture comes as
// seven smaller pictures, each of every so many pixels. Kept out of the
// function that calls setjmp.
void DecodeRows(png_structp png, png_infop info, bool alpha, PngWork& work) {
    const int width = int(png_get_image_width(png, info));
    const int height = int(png_get_image_height(png, info));
    const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    work.row.resize(size_t(width) * 4);
    auto* pixels = reinterpret_cast<QRgb*>(work.row.data());
    for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
        const int columns = interlaced ? int(PNG_PASS_COLS(width, pass)) : width;
        const int rows = interlaced ? int(PNG_PASS_ROWS(height, pass)) : height;
        if (columns == 0 || rows == 0) continue;
        for (int r = 0; r < rows; ++r) {
            if (DecodeCancelled()) return;
            png_read_row(png, work.row.data(), nullptr);
            work.colours->Convert(work.row.data(), columns);
            if (alpha) Premultiply(pixels, columns);
            if (!interlaced) {
                work.scaler->AddRow(r, pixels);
                continue;
            }
            work.scaler->AddPixels(int(PNG_ROW_FROM_PASS_ROW(r, pass)), pixels, columns,
                                   int(PNG_PASS_START_COL(pass)), 1 << PNG_PASS_COL_SHIFT(pass));
        }
    }
}

}  // namespace

bool IsPngFile(QByteArrayView data) {
    return data.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8));
}

std::optional<QSize> PngSize(const QByteArray& data) {
    // The header chunk: its length, its type, then the width and height.
    if (data.size() < 24 || !IsPngFile(data) || data.mid(12, 4) != "IHDR") return std::nullopt;
    const quint32 width = qFromBigEndian<quint32>(data.constData() + 16);
    const quint32 height = qFromBigEndian<quint32>(data.constData() + 20);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return std::nullopt;
    return QSize(int(width), int(height));
}

QImage DecodePng(const QByteArray& data, QSize output) {
    PngReader reader;
    if (!reader.info) return {};
    png_structp png = reader.png;
    png_infop info = reader.info;
    PngWork* work = new PngWork(data);
    if (setjmp(png_jmpbuf(png))) {
        // Damaged data: what was decoded before it stays, the rest is black.
        QImage partial;
        if (!DecodeCancelled()) {
            ReportDamage(qint64(work->at));
            if (work->scaler) partial = work->scaler->Take();
        }
        delete work;
        return partial;
    }
    Limit(png);
    png_set_read_fn(png, work, ReadBytes);
    png_read_info(png, info);
    const QSize own(int(png_get_image_width(png, info)), int(png_get_image_height(png, info)));
    const bool alpha = HasAlpha(png, info);
    work->colours =
        std::make_unique<ColourConverter>(ColourProfile(png, info), ColourConverter::Order::Bgra);
    AskForBgra(png, info);
    work->scaler = std::make_unique<AreaScaler>(own, AreaScaler::TargetFor(own, output), alpha);
    QImage image;
    if (work->scaler->Ready()) {
        DecodeRows(png, info, alpha, *work);
        if (!DecodeCancelled()) image = work->scaler->Take();
    }
    delete work;
    return image;
}
