// The process record: one four-panel comic with its display settings, and the
// single application-wide current process.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

// A fixed-length text field of N 16-bit characters. A field that was never
// written holds N NUL characters.
template <std::size_t N>
using FixedText = std::array<char16_t, N>;

inline constexpr int kNameLength = 16;
inline constexpr int kPathLength = 260;
inline constexpr int kPanelCount = 4;

struct ProcessRecord {
    FixedText<kNameLength> Name{};
    std::array<FixedText<kPathLength>, kPanelCount> PanelPath{};
    int16_t ImageAppearance = 0;  // 0 flat, 1 3D
    int16_t RunStyle = 0;         // 0 standard, 1 full screen, 2 iconize
    int16_t FitMode = 0;          // 0 fit window, 1 fixed size, 2 own size
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
