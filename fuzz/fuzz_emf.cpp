// The metafile player over arbitrary bytes behind a valid header.
#include "platform/EmfPlayer.h"

#include "platform/FontNames.h"

#include <QGuiApplication>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    InstallFontSubstitutions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QImage image = RenderEmf(bytes, QSize(48, 32));
    if (!image.isNull() && image.size() != QSize(48, 32)) __builtin_trap();
    return 0;
}
