#include "pictures/JpegDecoder.h"

#include "platform/LargeMemory.h"

#include <jpeglib.h>
#include <QtEndian>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

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

// The EXIF orientation (1 to 8) of an APP1 marker's TIFF data, 1 when absent.
int ExifOrientation(const uchar* data, unsigned length) {
    if (length < 14 || std::memcmp(data, "Exif\0\0", 6) != 0) return 1;
    const uchar* tiff = data + 6;
    const unsigned size = length - 6;
    const bool little = tiff[0] == 'I';
    auto u16 = [&](unsigned at) {
        return at + 2 > size ? 0u
               : little      ? unsigned(qFromLittleEndian<uint16_t>(tiff + at))
                             : unsigned(qFromBigEndian<uint16_t>(tiff + at));
    };
    auto u32 = [&](unsigned at) {
        return at + 4 > size ? 0u
               : little      ? unsigned(qFromLittleEndian<uint32_t>(tiff + at))
                             : unsigned(qFromBigEndian<uint32_t>(tiff + at));
    };
    const unsigned ifd = u32(4);
    const unsigned entries = u16(ifd);
    for (unsigned i = 0; i < entries && i < 512; ++i) {
        const unsigned entry = ifd + 2 + 12 * i;
        if (entry + 12 > size) break;
        if (u16(entry) == 0x0112) return int(u16(entry + 8));  // Orientation, a SHORT
    }
    return 1;
}

QImageIOHandler::Transformations Transformation(int exif) {
    switch (exif) {
        case 2:
            return QImageIOHandler::TransformationMirror;
        case 3:
            return QImageIOHandler::TransformationRotate180;
        case 4:
            return QImageIOHandler::TransformationFlip;
        case 5:
            return QImageIOHandler::TransformationFlipAndRotate90;
        case 6:
            return QImageIOHandler::TransformationRotate90;
        case 7:
            return QImageIOHandler::TransformationMirrorAndRotate90;
        case 8:
            return QImageIOHandler::TransformationRotate270;
        default:
            return QImageIOHandler::TransformationNone;
    }
}

// Errors end the decoding through a jump back to the caller's setjmp.
void Open(jpeg_decompress_struct& info, ErrorManager& errors) {
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.emit_message = OnMessage;
}

// The decompressor reads the data from memory.
void Attach(jpeg_decompress_struct& info, const QByteArray& data) {
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
}

// Kept out of the function that calls setjmp, so that no local object lives across it.
// Several rows a call, which the decompressor fills as far as its row group goes.
bool ReadLines(jpeg_decompress_struct& info, QImage& image) {
    constexpr int kRows = 16;
    JSAMPROW rows[kRows];
    while (info.output_scanline < info.output_height) {
        const int first = int(info.output_scanline);
        const int n = std::min<int>(kRows, int(info.output_height) - first);
        for (int i = 0; i < n; ++i) rows[i] = image.scanLine(first + i);
        if (jpeg_read_scanlines(&info, rows, JDIMENSION(n)) == 0) return false;
    }
    return true;
}

}  // namespace

bool IsJpegFile(QByteArrayView data) {
    return data.startsWith(QByteArrayView("\xff\xd8\xff", 3));
}

std::optional<JpegInfo> ReadJpegInfo(const QByteArray& data) {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    Open(info, errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    Attach(info, data);
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    JpegInfo result{QSize(int(info.image_width), int(info.image_height)), {}};
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1)
            result.orientation = Transformation(ExifOrientation(m->data, m->data_length));
    jpeg_destroy_decompress(&info);
    return result;
}

std::optional<QImage> DecodeJpeg(const QByteArray& data, QSize atLeast) {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    Open(info, errors);
    QImage* image = new QImage;  // heap, so that a longjmp leaks nothing and skips no destructor
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        delete image;
        return std::nullopt;
    }
    Attach(info, data);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK ||
        (info.jpeg_color_space != JCS_GRAYSCALE && info.jpeg_color_space != JCS_YCbCr &&
         info.jpeg_color_space != JCS_RGB) ||
        qint64(info.image_width) * info.image_height > kMaxJpegPixels) {
        jpeg_destroy_decompress(&info);
        delete image;
        return std::nullopt;
    }
    info.scale_num = unsigned(ScaleNumerator(info, atLeast));
    info.scale_denom = 8;
    info.do_fancy_upsampling = info.scale_num == 8 ? TRUE : FALSE;
    info.out_color_space = JCS_EXT_BGRX;  // QImage::Format_RGB32 on little-endian machines
    jpeg_start_decompress(&info);
    *image =
        NewLargeImage(QSize(int(info.output_width), int(info.output_height)), QImage::Format_RGB32);
    const bool complete = !image->isNull() && ReadLines(info, *image);
    if (complete) jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::optional<QImage> result;
    if (complete) result = std::move(*image);
    delete image;
    return result;
}
