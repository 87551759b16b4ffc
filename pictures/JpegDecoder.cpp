#include "pictures/JpegDecoder.h"

#include "pictures/AreaScaler.h"
#include "pictures/ColourProfiles.h"
#include "pictures/DecodeGate.h"

#include <jpeglib.h>
#include <QtEndian>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

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
    // Offsets are taken in 64 bits: one read from the file may be near 2^32.
    auto u16 = [&](uint64_t at) {
        return at + 2 > size ? 0u
               : little      ? unsigned(qFromLittleEndian<uint16_t>(tiff + at))
                             : unsigned(qFromBigEndian<uint16_t>(tiff + at));
    };
    auto u32 = [&](uint64_t at) {
        return at + 4 > size ? 0u
               : little      ? unsigned(qFromLittleEndian<uint32_t>(tiff + at))
                             : unsigned(qFromBigEndian<uint32_t>(tiff + at));
    };
    const uint64_t ifd = u32(4);
    const unsigned entries = u16(ifd);
    for (unsigned i = 0; i < entries && i < 512; ++i) {
        const uint64_t entry = ifd + 2 + 12 * uint64_t(i);
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

// What a decoding holds beyond libjpeg's own state, on the heap so that an
// error's longjmp skips no destructor.
struct Work {
    std::unique_ptr<AreaScaler> scaler;
    std::unique_ptr<CmykConverter> cmyk;
    std::unique_ptr<ColourConverter> colours;  // for RGB and grey pictures
    bool invertInks = false;  // CMYK stored plainly rather than inverted as Adobe's files hold it
    QByteArray profile;
    std::vector<uchar> buffer;
    std::vector<QRgb> converted;
};

// The rows, decoded, go into the scaler: RGB rows as they are, CMYK rows
// through the converter. Several rows a call, which the decompressor fills as
// far as its row group goes.
bool ReadLines(jpeg_decompress_struct& info, Work& work) {
    constexpr int kRows = 16;
    const int width = int(info.output_width);
    const int bytes = width * 4;
    work.buffer.resize(size_t(bytes) * kRows);
    work.converted.resize(size_t(width));
    JSAMPROW rows[kRows];
    for (int i = 0; i < kRows; ++i) rows[i] = work.buffer.data() + size_t(i) * bytes;
    while (info.output_scanline < info.output_height) {
        if (DecodeCancelled()) return false;
        const int first = int(info.output_scanline);
        const int n = std::min<int>(kRows, int(info.output_height) - first);
        const int got = int(jpeg_read_scanlines(&info, rows, JDIMENSION(n)));
        if (got == 0) return false;
        for (int i = 0; i < got; ++i) {
            const QRgb* row = reinterpret_cast<const QRgb*>(rows[i]);
            if (work.cmyk) {
                if (work.invertInks)
                    for (int b = 0; b < bytes; ++b) rows[i][b] = uchar(255 - rows[i][b]);
                work.cmyk->Convert(rows[i], work.converted.data(), width);
                row = work.converted.data();
            } else {
                work.colours->Convert(rows[i], width);
            }
            work.scaler->AddRow(first + i, row);
        }
    }
    return true;
}

// The ICC profile, which may be split over several APP2 markers.
QByteArray IccProfile(jpeg_decompress_struct& info) {
    JOCTET* data = nullptr;
    unsigned int length = 0;
    if (!jpeg_read_icc_profile(&info, &data, &length)) return {};
    QByteArray profile(reinterpret_cast<const char*>(data), qsizetype(length));
    free(data);
    return profile;
}

// Even a blank picture takes a few bits for every block of 8 x 8 pixels: a
// header claiming far more pixels than its data could hold lies (or the file
// is cut short to a sliver), and decoding it would be work for nothing.
bool DataCanHold(const jpeg_decompress_struct& info, qint64 bytes) {
    constexpr qint64 kFreePixels = qint64(1) << 24, kPixelsPerByte = 1024;
    return qint64(info.image_width) * info.image_height <= kFreePixels + bytes * kPixelsPerByte;
}

bool Cmyk(const jpeg_decompress_struct& info) {
    return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
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

QImage DecodeJpeg(const QByteArray& data, QSize output) {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    Open(info, errors);
    Work* work = new Work;
    if (setjmp(errors.jump)) {
        ReportDamage(qint64(data.size() - (info.src ? info.src->bytes_in_buffer : 0)));
        jpeg_destroy_decompress(&info);
        delete work;
        return {};
    }
    Attach(info, data);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    if (!DataCanHold(info, data.size())) {
        ReportDamage(data.size());
        jpeg_destroy_decompress(&info);
        delete work;
        return {};
    }
    work->profile = IccProfile(info);
    info.scale_num = unsigned(ScaleNumerator(info, output));
    info.scale_denom = 8;
    info.do_fancy_upsampling = info.scale_num == 8 ? TRUE : FALSE;
    if (Cmyk(info)) {
        info.out_color_space = JCS_CMYK;
        work->invertInks = !info.saw_Adobe_marker;
        work->cmyk = std::make_unique<CmykConverter>(work->profile);
    } else {
        info.out_color_space = JCS_EXT_BGRX;  // QImage::Format_RGB32 on little-endian machines
        work->colours =
            std::make_unique<ColourConverter>(work->profile, ColourConverter::Order::Bgra);
    }
    jpeg_start_decompress(&info);
    const QSize decoded(int(info.output_width), int(info.output_height));
    work->scaler =
        std::make_unique<AreaScaler>(decoded, AreaScaler::TargetFor(decoded, output), false);
    bool complete = false;
    if (work->scaler->Ready() && !(complete = ReadLines(info, *work)) && !DecodeCancelled())
        ReportDamage(qint64(data.size() - info.src->bytes_in_buffer));
    if (complete) jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    QImage image = work->scaler->Ready() && !DecodeCancelled() ? work->scaler->Take() : QImage();
    delete work;
    return image;
}
