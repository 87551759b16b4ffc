// The metafile players (enhanced and Windows) over arbitrary bytes behind a valid header.
#include "pictures/emf/EmfPlayer.h"
#include "pictures/PictureLoader.h"

#include <cstdint>
#include "fuzz/FuzzGui.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    StartOffscreenGui(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto header = ReadEmfHeader(bytes)) {
        const QSize natural = EmfNaturalSize(*header);
        if (natural.isEmpty() || natural.width() > 4096 || natural.height() > 4096)
            __builtin_trap();
    }
    // Through the picture loader, as the program reads a metafile.
    const Picture picture = LoadPictureFromData(bytes, QSize(48, 32));
    if (!picture.isNull() && picture.image.size() != QSize(48, 32)) __builtin_trap();
    return 0;
}
