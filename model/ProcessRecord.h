// The process record: one four-panel comic with its display settings, and the
// single application-wide current process.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// A fixed-length text field of N 16-bit characters. A field that was never
// written holds N NUL characters.
template <std::size_t N>
using FixedText = std::array<char16_t, N>;

inline constexpr int kNameLength = 16;
inline constexpr int kPathLength = 260;
inline constexpr int kPanelCount = 4;

// The values the settings take. The record keeps the stored numbers, since a
// store made elsewhere may hold others; those have no name here.
enum class Fit : int16_t { Window = 0, Fixed = 1, OwnSize = 2 };
enum class Run : int16_t { Standard = 0, FullScreen = 1, Iconize = 2 };
enum class Look : int16_t { Flat = 0, ThreeD = 1 };

// The named value of a stored number, or nothing for any other number.
std::optional<Fit> FitOf(int16_t stored);
std::optional<Run> RunOf(int16_t stored);

struct ProcessRecord {
    FixedText<kNameLength> Name{};
    std::array<FixedText<kPathLength>, kPanelCount> PanelPath{};
    int16_t ImageAppearance = 0;  // Look
    int16_t RunStyle = 0;         // Run
    int16_t FitMode = 0;          // Fit
    int32_t IntervalMs = 0;
    int32_t BackColor = 0;  // 0x00BBGGRR
    int32_t FixedWidth = 0;
    int32_t FixedHeight = 0;

    bool operator==(const ProcessRecord&) const = default;
};

// The record that is shown, edited, played and saved. Starts as the zero record.
ProcessRecord& CurrentProcess();

// Reading rule: cut at the first NUL, then strip spaces (U+0020 only) at both ends.
QString TrimFixed(QStringView text);

template <std::size_t N>
QString TrimFixed(const FixedText<N>& field) {
    return TrimFixed(QStringView(field.data(), N));
}

// Writing rule: the first N characters of the text, or the text padded with spaces.
template <std::size_t N>
void AssignFixed(FixedText<N>& field, QStringView text) {
    const std::size_t copied = std::min<std::size_t>(N, std::size_t(text.size()));
    for (std::size_t i = 0; i < copied; ++i) field[i] = text[qsizetype(i)].unicode();
    for (std::size_t i = copied; i < N; ++i) field[i] = u' ';
}

// The raw characters of a field, padding included.
template <std::size_t N>
QString RawText(const FixedText<N>& field) {
    return QString(reinterpret_cast<const QChar*>(field.data()), N);
}
