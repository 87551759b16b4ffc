#include "platform/Numeric.h"

#include <QRegularExpression>
#include <cfenv>
#include <cmath>

// Full-width digits, letters, signs, points and spaces (what a Japanese input
// method types) read as their ASCII forms; the minus sign U+2212 as '-'.
QString AsciiForms(const QString& text) {
    QString folded = text.normalized(QString::NormalizationForm_KC);
    folded.replace(QChar(0x2212), QLatin1Char('-'));
    return folded;
}

std::optional<double> ParseNumber(const QString& typed) {
    const QString text = AsciiForms(typed);
    static const QRegularExpression form(
        QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\s*$"));
    if (!form.match(text).hasMatch()) return std::nullopt;
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<int32_t> ToInt32RoundedHalfEven(double value) {
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    if (rounded < double(INT32_MIN) || rounded > double(INT32_MAX)) return std::nullopt;
    return int32_t(rounded);
}

std::optional<uint32_t> ParseHex(const QString& typed) {
    const QString text = AsciiForms(typed);
    static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]+$"));
    if (!form.match(text).hasMatch()) return std::nullopt;
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok, 16);
    if (!ok || value > 0xFFFFFFFFull) return std::nullopt;
    return uint32_t(value);
}
