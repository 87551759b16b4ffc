// Reading numbers that the user types.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// Full-width forms are read as their ASCII forms in both.

// A decimal number: optional spaces around, an optional sign, digits with an
// optional decimal point (or a point and digits), and an optional exponent
// (1e3). Thousands separators, currency signs and hexadecimal are not numbers.
std::optional<double> ParseNumber(const QString& text);

// The number rounded to the nearest whole number, halves to even, when the
// result fits a signed 32-bit integer.
std::optional<int32_t> ToInt32RoundedHalfEven(double value);

// One or more hexadecimal digits, in either letter case, read as a number that
// fits 32 bits.
std::optional<uint32_t> ParseHex(const QString& text);
