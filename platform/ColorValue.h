// Colours as the program stores them: 32 bits, 0x00BBGGRR, red in the lowest
// byte, the layout of the system colour chooser's result.
#pragma once

#include <QColor>
#include <cstdint>

QColor ColorFromValue(uint32_t value);
uint32_t ValueOfColor(const QColor& color);

// The contrast between two colours as readers of text perceive it, from 1
// (none) to 21 (black on white); 4.5 is the least that reads well.
double ContrastRatio(const QColor& a, const QColor& b);
