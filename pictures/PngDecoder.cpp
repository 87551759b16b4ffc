#include "pictures/PngDecoder.h"

#include "pictures/AreaScaler.h"
#include "pictures/ColourProfiles.h"
#include "pictures/DecodeGate.h"

#include <spng.h>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Ancillary chunks (text, profiles) may take this much memory in all.
constexpr size_t kChunkLimit = size_t(64) << 20;

// The file in memory, read through a callback so that a failure can name the
// byte where the data stopped making sense.
struct PngSource {
    const QByteArray& data;
    size_t at = 0;
};

int ReadBytes(spng_ctx*, void* user, void* dest, size_t length) {
    auto* source = static_cast<PngSource*>(user);
    if (source->at + length > size_t(source->data.size())) {
        source->at = size_t(source->data.size());
        return SPNG_IO_EOF;
    }
    std::memcpy(dest, source->data.constData() + source->at, length);
    source->at += length;
    return 0;
}

struct PngContext {
    spng_ctx* ctx = spng_ctx_new(0);
    ~PngContext() { spng_ctx_free(ctx); }
    PngContext() = default;
    PngContext(const PngContext&) = delete;
    PngContext& operator=(const PngContext&) = delete;
};

bool Open(spng_ctx* ctx, PngSource& source, spng_ihdr* header) {
    if (!ctx) return false;
    spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
    // Any size PNG allows: the decode gate decides what is too large.
    spng_set_image_limits(ctx, 0x7FFFFFFF, 0x7FFFFFFF);
    spng_set_chunk_limits(ctx, kChunkLimit, kChunkLimit);
    spng_set_png_stream(ctx, ReadBytes, &source);
    return spng_get_ihdr(ctx, header) == 0;
}

bool HasAlpha(spng_ctx* ctx, const spng_ihdr& header) {
    spng_trns trns;
    return header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
           header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || spng_get_trns(ctx, &trns) == 0;
}

// cHRM and gAMA that describe sRGB (as many programs write them beside the
// picture) ask for no conversion.
bool DescribesSrgb(const spng_chrm& c, double gamma) {
    const double srgb[8] = {0.3127, 0.329, 0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
    const double given[8] = {c.white_point_x, c.white_point_y, c.red_x,  c.red_y,
                             c.green_x,       c.green_y,       c.blue_x, c.blue_y};
    for (int i = 0; i < 8; ++i)
        if (std::abs(given[i] - srgb[i]) > 0.01) return false;
    return std::abs(gamma - 1 / 2.2) < 0.002;
}

// The profile the picture's colours are in, if it is not sRGB.
QByteArray ColourProfile(spng_ctx* ctx) {
    uint8_t intent = 0;
    if (spng_get_srgb(ctx, &intent) == 0) return {};
    spng_iccp iccp;
    if (spng_get_iccp(ctx, &iccp) == 0)
        return QByteArray(iccp.profile, qsizetype(iccp.profile_len));
    spng_chrm chrm;
    double gamma = 0;
    if (spng_get_chrm(ctx, &chrm) != 0 || spng_get_gama(ctx, &gamma) != 0 ||
        DescribesSrgb(chrm, gamma))
        return {};
    return ProfileFromChromaticities({{chrm.white_point_x, chrm.white_point_y},
                                      {chrm.red_x, chrm.red_y},
                                      {chrm.green_x, chrm.green_y},
                                      {chrm.blue_x, chrm.blue_y},
                                      gamma});
}

void Premultiply(uint8_t* rgba, int count) {
    for (int i = 0; i < count; ++i, rgba += 4) {
        const unsigned a = rgba[3];
        if (a == 255) continue;
        for (int k = 0; k < 3; ++k) rgba[k] = uint8_t((rgba[k] * a + 127) / 255);
    }
}

// Adam7: where each pass's pixels start in a row, and how far apart they are.
constexpr int kPassStart[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int kPassStep[7] = {8, 8, 4, 4, 2, 2, 1};

// Decodes every row into the scaler; false when the data fails before the end.
bool DecodeRows(spng_ctx* ctx, const spng_ihdr& header, bool alpha, const ColourConverter& colours,
                AreaScaler& scaler) {
    const int width = int(header.width);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    std::vector<QRgb> pass(static_cast<size_t>(width));
    for (;;) {
        if (DecodeCancelled()) return false;
        spng_row_info info;
        if (spng_get_row_info(ctx, &info) != 0) return false;
        const int status = spng_decode_row(ctx, row.data(), row.size());
        if (status != 0 && status != SPNG_EOI) return false;
        colours.Convert(row.data(), width);
        if (alpha) Premultiply(row.data(), width);
        const QRgb* pixels = reinterpret_cast<const QRgb*>(row.data());
        if (!header.interlace_method) {
            scaler.AddRow(int(info.row_num), pixels);
        } else {
            // The row holds this pass's pixels in their places among the others.
            const int start = kPassStart[info.pass], step = kPassStep[info.pass];
            int n = 0;
            for (int x = start; x < width; x += step) pass[size_t(n++)] = pixels[x];
            scaler.AddPixels(int(info.row_num), pass.data(), n, start, step);
        }
        if (status == SPNG_EOI) return true;
    }
}

}  // namespace

bool IsPngFile(QByteArrayView data) {
    return data.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n", 8));
}

std::optional<QSize> PngSize(const QByteArray& data) {
    PngContext c;
    PngSource source{data};
    spng_ihdr header;
    if (!Open(c.ctx, source, &header)) return std::nullopt;
    return QSize(int(header.width), int(header.height));
}

QImage DecodePng(const QByteArray& data, QSize output) {
    PngContext c;
    PngSource source{data};
    spng_ihdr header;
    if (!Open(c.ctx, source, &header) ||
        spng_decode_image(c.ctx, nullptr, 0, SPNG_FMT_RGBA8,
                          SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0) {
        ReportDamage(qint64(source.at));
        return {};
    }
    const QSize own(int(header.width), int(header.height));
    const bool shrinks = output.width() <= own.width() && output.height() <= own.height();
    const bool alpha = HasAlpha(c.ctx, header);
    AreaScaler scaler(own, shrinks && !output.isEmpty() ? output : own, alpha,
                      AreaScaler::Order::Rgba);
    if (!scaler.Ready()) {
        ReportDecodeError({LoadError::TooLarge, -1, own, 0});
        return {};
    }
    const ColourConverter colours(ColourProfile(c.ctx), ColourConverter::Order::Rgba);
    if (!DecodeRows(c.ctx, header, alpha, colours, scaler)) {
        if (DecodeCancelled()) return {};
        ReportDamage(qint64(source.at));
    }
    return scaler.Take();
}
