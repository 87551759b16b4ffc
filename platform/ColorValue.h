// Colours as the program stores them: 32 bits, 0x00BBGGRR, red in the lowest
// byte, the layout of the system colour chooser's result.
#pragma once

#include <QColor>
#include <cstdint>

QColor ColorFromValue(uint32_t value);
uint32_t ValueOfColor(const QColor& color);
