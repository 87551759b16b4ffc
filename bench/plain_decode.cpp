// kadrelo-plain-decode FILE: decodes a picture whole into memory with its
// format's own library and its simplest use (libpng, libjpeg, libtiff, libwebp,
// giflib), as the anchor the program's decoding is measured against.
// clang-format off
#include <cstdio>  // before jpeglib.h, which uses FILE
#include <jpeglib.h>
// clang-format on
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> ReadAll(const char* path) {
    std::vector<unsigned char> data;
    if (FILE* f = std::fopen(path, "rb")) {
        unsigned char buffer[1 << 16];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            data.insert(data.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return data;
}

bool Png(const char* path) {
    FILE* f = std::fopen(path, "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, f);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t stride = png_get_rowbytes(png, info), height = png_get_image_height(png, info);
    std::vector<unsigned char> pixels(stride * height);
    std::vector<png_bytep> rows(height);
    for (size_t y = 0; y < height; ++y) rows[y] = pixels.data() + y * stride;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return true;
}

bool Jpeg(const std::vector<unsigned char>& data) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data.data(), data.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * info.output_components;
    std::vector<unsigned char> pixels(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + info.output_scanline * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool Tiff(const char* path) {
    TIFF* tiff = TIFFOpen(path, "r");
    if (!tiff) return false;
    uint32_t w = 0, h = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    std::vector<uint32_t> pixels(size_t(w) * h);
    const bool ok = TIFFReadRGBAImageOriented(tiff, w, h, pixels.data(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tiff);
    return ok;
}

bool Webp(const std::vector<unsigned char>& data) {
    int w = 0, h = 0;
    uint8_t* pixels = WebPDecodeBGRA(data.data(), data.size(), &w, &h);
    WebPFree(pixels);
    return pixels != nullptr;
}

bool Gif(const char* path) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path, &error);
    if (!gif) return false;
    const bool ok = DGifSlurp(gif) == GIF_OK;
    DGifCloseFile(gif, &error);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kadrelo-plain-decode FILE\n");
        return 2;
    }
    const std::vector<unsigned char> data = ReadAll(argv[1]);
    auto starts = [&](const char* magic, size_t n) {
        return data.size() >= n && std::memcmp(data.data(), magic, n) == 0;
    };
    bool ok = false;
    if (starts("\x89PNG", 4))
        ok = Png(argv[1]);
    else if (starts("\xff\xd8", 2))
        ok = Jpeg(data);
    else if (starts("II*", 3) || starts("MM", 2))
        ok = Tiff(argv[1]);
    else if (starts("RIFF", 4))
        ok = Webp(data);
    else if (starts("GIF8", 4))
        ok = Gif(argv[1]);
    return ok ? 0 : 1;
}
