// Writes PNG files far larger in pixels than in bytes (a paletted picture of
// long runs, deflated as it is written), for the cases where a picture's own
// size, not its file, is what a test is about.
#pragma once

#include <QString>

// Red over the left half, blue over the right, in bands of white 1000 rows
// apart. False when the file cannot be written.
bool WriteHugePng(const QString& path, int width, int height);
