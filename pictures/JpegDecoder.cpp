#include "pictures/JpegDecoder.h"

#include <jpeglib.h>
#include <csetjmp>
#include <cstdio>

namespace {

constexpr qint64 kMaxJpegPixels = qint64(1) << 29;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void OnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings (a truncated file) are not printed

int ScaleNumerator(const jpeg_decompress_struct& info, QSize atLeast) {
    if (atLeast.isEmpty()) return 8;
    for (int n = 1; n < 8; ++n)
        if (qint64(info.image_width) * n / 8 >= atLeast.width() &&
            qint64(info.image_height) * n / 8 >= atLeast.height())
            return n;
    return 8;
}

// Kept out of the function that calls setjmp, so that no local object lives across it.
bool ReadLines(jpeg_decompress_struct& info, QImage& image) {
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
    }
    return true;
}

}  // namespace

std::optional<QImage> DecodeJpeg(const QByteArray& data, QSize atLeast, QSize* storedSize) {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.emit_message = OnMessage;
    QImage* image = new QImage;  // heap, so that a longjmp leaks nothing and skips no destructor
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        delete image;
        return std::nullopt;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK ||
        (info.jpeg_color_space != JCS_GRAYSCALE && info.jpeg_color_space != JCS_YCbCr &&
         info.jpeg_color_space != JCS_RGB) ||
        qint64(info.image_width) * info.image_height > kMaxJpegPixels) {
        jpeg_destroy_decompress(&info);
        delete image;
        return std::nullopt;
    }
    *storedSize = QSize(int(info.image_width), int(info.image_height));
    info.scale_num = unsigned(ScaleNumerator(info, atLeast));
    info.scale_denom = 8;
    info.do_fancy_upsampling = info.scale_num == 8 ? TRUE : FALSE;
    info.out_color_space = JCS_EXT_BGRX;  // QImage::Format_RGB32 on little-endian machines
    jpeg_start_decompress(&info);
    *image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB32);
    const bool complete = !image->isNull() && ReadLines(info, *image);
    if (complete) jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::optional<QImage> result;
    if (complete) result = std::move(*image);
    delete image;
    return result;
}
