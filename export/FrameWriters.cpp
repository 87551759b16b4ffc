#include "export/FrameWriters.h"

#include "platform/NewFile.h"

#include <gif_lib.h>
#include <libimagequant.h>
#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <QDir>
#include <QFileInfo>
#include <array>
#include <cmath>
#include <csetjmp>
#include <vector>

namespace {

const QString kNoMemory = QStringLiteral("メモリが足りません");
const QString kEncoderFailed = QStringLiteral("画像を作れませんでした（%1）");

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load();
}

// One PNG of a known size written row by row, so that a strip of four frames
// never has to be held whole. RGB32 rows are written as 8-bit RGB.
class PngStream {
  public:
    PngStream(NewFile& file, QSize size) : file_(file), size_(size) {}
    ~PngStream() {
        if (png_) png_destroy_write_struct(&png_, &info_);
    }

    bool Begin() {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, OnError, OnWarning);
        if (!png_ || !(info_ = png_create_info_struct(png_))) return false;
        if (setjmp(png_jmpbuf(png_))) return false;
        png_set_write_fn(png_, this, OnWrite, nullptr);
        png_set_IHDR(png_, info_, png_uint_32(size_.width()), png_uint_32(size_.height()), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png_, info_);
        // In memory each pixel is B, G, R and an unused byte.
        png_set_bgr(png_);
        png_set_filler(png_, 0, PNG_FILLER_AFTER);
        return true;
    }

    bool AddRows(const QImage& image) {
        if (setjmp(png_jmpbuf(png_))) return false;
        for (int y = 0; y < image.height(); ++y) png_write_row(png_, image.constScanLine(y));
        return true;
    }

    bool End() {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_write_end(png_, info_);
        return true;
    }

  private:
    static void OnWrite(png_structp png, png_bytep data, size_t length) {
        auto* self = static_cast<PngStream*>(png_get_io_ptr(png));
        if (!self->file_.Write(data, length)) png_error(png, "write");
    }
    static void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
    static void OnWarning(png_structp, png_const_charp) {}

    NewFile& file_;
    QSize size_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// The four frames top to bottom in one PNG.
class StripWriter : public FrameWriter {
  public:
    explicit StripWriter(const WriterSettings& s)
        : file_(s.output), png_(file_, QSize(s.frameSize.width(), s.frameSize.height() * 4)) {}
    bool Begin() override {
        if (!file_.Open()) return FailWith(file_, {});
        return png_.Begin() || FailWith(file_, kEncoderFailed.arg(u"PNG"));
    }
    bool Add(const QImage& frame) override {
        return png_.AddRows(frame) || FailWith(file_, kEncoderFailed.arg(u"PNG"));
    }
    bool Finish() override {
        if (!png_.End()) return FailWith(file_, kEncoderFailed.arg(u"PNG"));
        return file_.Commit() || FailWith(file_, {});
    }

  private:
    NewFile file_;
    PngStream png_;
};

// Four PNGs, NAME-1.png to NAME-4.png; none is put in place unless all are whole.
class NumberedWriter : public FrameWriter {
  public:
    explicit NumberedWriter(const WriterSettings& s) : settings_(s) {}
    bool Begin() override {
        for (int i = 0; i < 4; ++i) {
            files_[i] = std::make_unique<NewFile>(FramePath(settings_.output, i));
            if (!files_[i]->Open()) return FailWith(*files_[i], {});
        }
        return true;
    }
    bool Add(const QImage& frame) override {
        NewFile& file = *files_[added_++];
        PngStream png(file, frame.size());
        const bool written = png.Begin() && png.AddRows(frame) && png.End();
        return written || FailWith(file, kEncoderFailed.arg(u"PNG"));
    }
    bool Finish() override {
        for (auto& file : files_)
            if (!file->Commit()) return FailWith(*file, {});
        return true;
    }

  private:
    WriterSettings settings_;
    std::array<std::unique_ptr<NewFile>, 4> files_;
    int added_ = 0;
};

// An animated WebP through libwebp's animation encoder: lossless unless a
// quality is given, looping, each frame lasting the frame time.
class WebpWriter : public FrameWriter {
  public:
    explicit WebpWriter(const WriterSettings& s) : settings_(s), file_(s.output) {}
    ~WebpWriter() override {
        if (encoder_) WebPAnimEncoderDelete(encoder_);
    }
    bool Begin() override {
        if (!file_.Open()) return FailWith(file_, {});
        WebPAnimEncoderOptions options;
        if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config_))
            return Fail(kEncoderFailed.arg(u"WebP"));
        options.anim_params.loop_count = 0;  // for ever
        config_.lossless = settings_.quality < 0;
        config_.quality = settings_.quality < 0 ? 75 : float(settings_.quality);
        encoder_ =
            WebPAnimEncoderNew(settings_.frameSize.width(), settings_.frameSize.height(), &options);
        return encoder_ || Fail(kNoMemory);
    }
    bool Add(const QImage& frame) override {
        WebPPicture picture;
        if (!WebPPictureInit(&picture)) return Fail(kEncoderFailed.arg(u"WebP"));
        picture.use_argb = 1;
        picture.width = frame.width();
        picture.height = frame.height();
        picture.progress_hook = [](int, const WebPPicture* p) {
            return Cancelled(static_cast<const std::atomic<bool>*>(p->user_data)) ? 0 : 1;
        };
        picture.user_data = const_cast<std::atomic<bool>*>(settings_.cancel);
        // In memory each pixel is B, G, R and an unused byte.
        repeats_.push_back(added_ > 0 && frame == previous_);
        previous_ = frame;
        bool added = WebPPictureImportBGRX(&picture, frame.constBits(), int(frame.bytesPerLine()));
        added = added && WebPAnimEncoderAdd(encoder_, &picture, Timestamp(added_++), &config_);
        WebPPictureFree(&picture);
        return added || Fail(EncoderError());
    }
    bool Finish() override {
        WebPData data;
        WebPDataInit(&data);
        const bool made = WebPAnimEncoderAdd(encoder_, nullptr, Timestamp(added_), nullptr) &&
                          WebPAnimEncoderAssemble(encoder_, &data) && KeepEveryFrame(data);
        const bool written = made && file_.Write(data.bytes, data.size) && file_.Commit();
        WebPDataClear(&data);
        if (!made) return Fail(EncoderError());
        return written || FailWith(file_, {});
    }

  private:
    int Timestamp(int index) const { return index * settings_.frameMs; }
    bool KeepEveryFrame(WebPData& data) const;
    std::vector<int> PanelsPerFrame(const WebPMux* mux, int frames) const;
    QString EncoderError() const {
        const char* text = encoder_ ? WebPAnimEncoderGetError(encoder_) : nullptr;
        return kEncoderFailed.arg(text && *text ? QString::fromUtf8(text) : QStringLiteral("WebP"));
    }

    WriterSettings settings_;
    NewFile file_;
    WebPConfig config_{};
    WebPAnimEncoder* encoder_ = nullptr;
    int added_ = 0;
    QImage previous_;
    std::vector<bool> repeats_;  // whether each frame is the one before it again
};

// How many panels each frame of the encoded animation shows: the encoder
// keeps a frame that repeats the one before as one frame, lasting longer.
std::vector<int> WebpWriter::PanelsPerFrame(const WebPMux* mux, int frames) const {
    std::vector<int> panels;
    if (settings_.frameMs > 0) {
        for (int i = 1; i <= frames; ++i) {
            WebPMuxFrameInfo frame;
            if (WebPMuxGetFrame(mux, uint32_t(i), &frame) != WEBP_MUX_OK) return {};
            panels.push_back(int(std::lround(double(frame.duration) / settings_.frameMs)));
            WebPDataClear(&frame.bitstream);
        }
    } else {
        for (const bool repeat : repeats_) {
            if (repeat && !panels.empty())
                ++panels.back();
            else
                panels.push_back(1);
        }
    }
    return panels;
}

// Gives every panel a frame of its own: a repeated frame comes back as a
// frame that changes nothing (one transparent pixel), so that the animation
// has four frames, each lasting the frame time, and plays as before.
bool WebpWriter::KeepEveryFrame(WebPData& data) const {
    WebPMux* mux = WebPMuxCreate(&data, 0);
    int frames = 0;
    if (!mux || WebPMuxNumChunks(mux, WEBP_CHUNK_ANMF, &frames) != WEBP_MUX_OK) {
        WebPMuxDelete(mux);
        return false;
    }
    const std::vector<int> panels = PanelsPerFrame(mux, frames);
    int total = 0;
    for (const int n : panels) total += n;
    if (frames >= added_ || int(panels.size()) != frames || total != added_) {
        WebPMuxDelete(mux);
        return true;  // nothing repeated, or nothing that can be told apart
    }
    const uint8_t clear[4] = {0, 0, 0, 0};
    uint8_t* pixel = nullptr;
    const size_t pixelSize = WebPEncodeLosslessBGRA(clear, 1, 1, 4, &pixel);
    WebPMux* out = WebPMuxNew();
    WebPMuxAnimParams params;
    int width = 0, height = 0;
    bool ok = pixelSize && out && WebPMuxGetAnimationParams(mux, &params) == WEBP_MUX_OK &&
              WebPMuxSetAnimationParams(out, &params) == WEBP_MUX_OK &&
              WebPMuxGetCanvasSize(mux, &width, &height) == WEBP_MUX_OK &&
              WebPMuxSetCanvasSize(out, width, height) == WEBP_MUX_OK;
    for (int i = 0; ok && i < frames; ++i) {
        WebPMuxFrameInfo frame;
        ok = WebPMuxGetFrame(mux, uint32_t(i + 1), &frame) == WEBP_MUX_OK;
        if (!ok) break;
        frame.duration = settings_.frameMs;
        ok = WebPMuxPushFrame(out, &frame, 1) == WEBP_MUX_OK;
        WebPDataClear(&frame.bitstream);
        WebPMuxFrameInfo still{};
        still.bitstream = {pixel, pixelSize};
        still.duration = settings_.frameMs;
        still.id = WEBP_CHUNK_ANMF;
        still.dispose_method = WEBP_MUX_DISPOSE_NONE;
        still.blend_method = WEBP_MUX_BLEND;
        for (int extra = 1; ok && extra < panels[size_t(i)]; ++extra)
            ok = WebPMuxPushFrame(out, &still, 1) == WEBP_MUX_OK;
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    ok = ok && WebPMuxAssemble(out, &assembled) == WEBP_MUX_OK;
    if (ok) {
        WebPDataClear(&data);
        data = assembled;
    }
    WebPFree(pixel);
    WebPMuxDelete(out);
    WebPMuxDelete(mux);
    return ok;
}

// An animated GIF through giflib: each frame quantised to its own palette of
// at most 256 colours by libimagequant, dithered, and looping.
class GifWriter : public FrameWriter {
  public:
    explicit GifWriter(const WriterSettings& s) : settings_(s), file_(s.output) {}
    ~GifWriter() override {
        if (gif_) EGifCloseFile(gif_, nullptr);
    }
    bool Begin() override {
        if (!file_.Open()) return FailWith(file_, {});
        int error = 0;
        gif_ = EGifOpen(this, OnWrite, &error);
        if (!gif_) return Fail(kNoMemory);
        EGifSetGifVersion(gif_, true);
        static const unsigned char loop[] = {1, 0, 0};  // sub-block 1: play for ever
        const bool begun =
            EGifPutScreenDesc(gif_, settings_.frameSize.width(), settings_.frameSize.height(), 8, 0,
                              nullptr) == GIF_OK &&
            EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
            EGifPutExtensionBlock(gif_, 11, "NETSCAPE2.0") == GIF_OK &&
            EGifPutExtensionBlock(gif_, 3, loop) == GIF_OK &&
            EGifPutExtensionTrailer(gif_) == GIF_OK;
        return begun || FailWith(file_, kEncoderFailed.arg(u"GIF"));
    }
    bool Add(const QImage& frame) override;
    bool Finish() override {
        int error = 0;
        const bool closed = EGifCloseFile(gif_, &error) == GIF_OK;
        gif_ = nullptr;
        if (!closed) return FailWith(file_, kEncoderFailed.arg(u"GIF"));
        return file_.Commit() || FailWith(file_, {});
    }

  private:
    static int OnWrite(GifFileType* gif, const GifByteType* data, int length) {
        auto* self = static_cast<GifWriter*>(gif->UserData);
        return self->file_.Write(data, size_t(length)) ? length : 0;
    }
    bool PutFrame(const liq_palette& palette, const std::vector<unsigned char>& pixels);

    WriterSettings settings_;
    NewFile file_;
    GifFileType* gif_ = nullptr;
};

bool GifWriter::Add(const QImage& frame) {
    const QImage rgba = frame.convertToFormat(QImage::Format_RGBA8888);
    const int width = rgba.width(), height = rgba.height();
    // libimagequant reads the rows and does not change them.
    std::vector<void*> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows[size_t(y)] = const_cast<uchar*>(rgba.constScanLine(y));
    liq_attr* attr = liq_attr_create();
    if (!attr) return Fail(kNoMemory);
    liq_attr_set_progress_callback(
        attr,
        [](float, void* cancel) {
            return Cancelled(static_cast<const std::atomic<bool>*>(cancel)) ? 0 : 1;
        },
        const_cast<std::atomic<bool>*>(settings_.cancel));
    liq_image* image = liq_image_create_rgba_rows(attr, rows.data(), width, height, 0);
    liq_result* result = nullptr;
    std::vector<unsigned char> pixels(size_t(width) * size_t(height));
    bool made = image && liq_image_quantize(image, attr, &result) == LIQ_OK;
    made = made && liq_set_dithering_level(result, 1.0f) == LIQ_OK &&
           liq_write_remapped_image(result, image, pixels.data(), pixels.size()) == LIQ_OK;
    const bool put = made && PutFrame(*liq_get_palette(result), pixels);
    if (result) liq_result_destroy(result);
    if (image) liq_image_destroy(image);
    liq_attr_destroy(attr);
    if (!made) return Fail(kEncoderFailed.arg(u"GIF"));
    return put || FailWith(file_, kEncoderFailed.arg(u"GIF"));
}

bool GifWriter::PutFrame(const liq_palette& palette, const std::vector<unsigned char>& pixels) {
    const int count = std::max(2, int(palette.count));
    int mapSize = 2;
    while (mapSize < count) mapSize *= 2;
    std::vector<GifColorType> colours(size_t(mapSize), GifColorType{0, 0, 0});
    for (unsigned i = 0; i < palette.count; ++i)
        colours[i] = {palette.entries[i].r, palette.entries[i].g, palette.entries[i].b};
    ColorMapObject* map = GifMakeMapObject(mapSize, colours.data());
    if (!map) return Fail(kNoMemory);
    GraphicsControlBlock control{DISPOSE_DO_NOT, false, settings_.frameMs / 10,
                                 NO_TRANSPARENT_COLOR};
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    const int width = settings_.frameSize.width(), height = settings_.frameSize.height();
    bool put = EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK &&
               EGifPutImageDesc(gif_, 0, 0, width, height, false, map) == GIF_OK;
    for (int y = 0; put && y < height; ++y)
        put = EGifPutLine(gif_, const_cast<GifPixelType*>(&pixels[size_t(y) * size_t(width)]),
                          width) == GIF_OK;
    GifFreeMapObject(map);
    return put;
}

}  // namespace

bool FrameWriter::FailWith(const NewFile& file, const QString& encoderReason) {
    if (file.Error().isEmpty()) return Fail(encoderReason);
    outputFailed_ = true;
    return Fail(file.Error());
}

QString FramePath(const QString& output, int index) {
    const QFileInfo file(output);
    const QString base = file.completeBaseName() + QChar(u'-') + QString::number(index + 1);
    const QString suffix = file.suffix().isEmpty() ? QString() : u'.' + file.suffix();
    return file.dir().filePath(base + suffix);
}

std::unique_ptr<FrameWriter> MakeFrameWriter(const WriterSettings& settings) {
    switch (settings.format) {
        case ExportFormat::Strip:
            return std::make_unique<StripWriter>(settings);
        case ExportFormat::Frames:
            return std::make_unique<NumberedWriter>(settings);
        case ExportFormat::WebP:
            return std::make_unique<WebpWriter>(settings);
        case ExportFormat::Gif:
            return std::make_unique<GifWriter>(settings);
    }
    return nullptr;
}
