// What fuzz targets that draw need: an offscreen GUI application and the
// program's font stand-ins.
#pragma once

#include "pictures/FontNames.h"

#include <QGuiApplication>

inline void StartOffscreenGui(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.gui.imageio*=false");  // damaged files are the point
    new QGuiApplication(*argc, *argv);                     // lives as long as the fuzzer
    InstallFontSubstitutions();
}
