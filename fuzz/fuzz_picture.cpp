// The picture loader over arbitrary bytes: format sniffing, the BMP and ICO
// decoders, EXIF orientation and the JPEG path, at the own size and a display size.
#include "pictures/PictureLoader.h"

#include <cstdint>
#include "fuzz/FuzzGui.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartOffscreenGui(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const Picture own = LoadPictureFromData(bytes);
    if (!own.isNull() && own.image.size().isEmpty()) __builtin_trap();
    const Picture shown = LoadPictureFromData(bytes, QSize(37, 23));
    if (!shown.isNull() && shown.image.size() != QSize(37, 23)) __builtin_trap();
    return 0;
}
