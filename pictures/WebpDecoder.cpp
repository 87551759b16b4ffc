#include "pictures/WebpDecoder.h"

#include "pictures/ColourProfiles.h"
#include "pictures/DecodeGate.h"
#include "platform/LargeMemory.h"

#include <webp/decode.h>
#include <webp/demux.h>

namespace {

QByteArray IccProfile(const QByteArray& data) {
    const WebPData input = {reinterpret_cast<const uint8_t*>(data.constData()),
                            size_t(data.size())};
    WebPDemuxer* demux = WebPDemux(&input);
    if (!demux) return {};
    QByteArray profile;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
        profile = QByteArray(reinterpret_cast<const char*>(chunk.chunk.bytes),
                             qsizetype(chunk.chunk.size));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return profile;
}

// An animation's first frame, whole, composed on its canvas.
QImage FirstFrame(const QByteArray& data) {
    const WebPData input = {reinterpret_cast<const uint8_t*>(data.constData()),
                            size_t(data.size())};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return {};
    options.color_mode = MODE_bgrA;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&input, &options);
    if (!decoder) return {};
    WebPAnimInfo info;
    uint8_t* pixels = nullptr;
    int timestamp = 0;
    QImage image;
    if (WebPAnimDecoderGetInfo(decoder, &info) &&
        qint64(info.canvas_width) * info.canvas_height * 4 <= kMaxWholeDecodeBytes &&
        WebPAnimDecoderGetNext(decoder, &pixels, &timestamp))
        image = QImage(pixels, int(info.canvas_width), int(info.canvas_height),
                       QImage::Format_ARGB32_Premultiplied)
                    .copy();
    WebPAnimDecoderDelete(decoder);
    return image;
}

}  // namespace

bool IsWebpFile(QByteArrayView data) {
    return data.size() >= 12 && data.startsWith("RIFF") && data.sliced(8, 4) == "WEBP";
}

std::optional<QSize> WebpSize(const QByteArray& data) {
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()),
                        &features) != VP8_STATUS_OK)
        return std::nullopt;
    return QSize(features.width, features.height);
}

QImage DecodeWebp(const QByteArray& data, QSize output) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return {};
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    if (WebPGetFeatures(bytes, size_t(data.size()), &config.input) != VP8_STATUS_OK) {
        ReportDamage(0);
        return {};
    }
    const QSize own(config.input.width, config.input.height);
    if (output.isEmpty()) output = own;
    QImage image;
    if (config.input.has_animation) {
        image = FirstFrame(data);
    } else {
        image = NewLargeImage(output, config.input.has_alpha ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32);
        if (image.isNull()) {
            ReportDecodeError({LoadError::TooLarge, -1, own, 0});
            return {};
        }
        config.options.use_scaling = output != own;
        config.options.scaled_width = output.width();
        config.options.scaled_height = output.height();
        config.output.colorspace = config.input.has_alpha ? MODE_bgrA : MODE_BGRA;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = image.bits();
        config.output.u.RGBA.stride = int(image.bytesPerLine());
        config.output.u.RGBA.size = size_t(image.sizeInBytes());
        if (WebPDecode(bytes, size_t(data.size()), &config) != VP8_STATUS_OK) image = QImage();
        WebPFreeDecBuffer(&config.output);
    }
    if (image.isNull()) {
        ReportDamage(data.size());
        return {};
    }
    ConvertToSrgb(image, IccProfile(data));
    return image;
}
