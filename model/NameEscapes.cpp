#include "model/NameEscapes.h"

QString EscapedName(const QString& name) {
    const auto hex = [](uint value, int digits) {
        return QString::number(value, 16).toUpper().rightJustified(digits, u'0');
    };
    QString out;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QStringLiteral("\\\\");
        else if (u < 0x20 || u == 0x7F)
            out += QStringLiteral("\\x") + hex(u, 2);
        else if (u >= 0xDC80 && u <= 0xDCFF)  // a byte that no character holds
            out += QStringLiteral("\\x") + hex(u - 0xDC00u, 2);
        else if (u >= 0x80 && u <= 0x9F)
            out += QStringLiteral("\\u") + hex(u, 4);
        else
            out += c;
    }
    return out;
}

std::optional<QString> UnescapedName(const QString& given) {
    QString out;
    for (qsizetype i = 0; i < given.size(); ++i) {
        if (given[i] != u'\\') {
            out += given[i];
            continue;
        }
        const QChar kind = i + 1 < given.size() ? given[i + 1] : QChar();
        if (kind == u'\\') {
            out += u'\\';
            ++i;
            continue;
        }
        const int digits = kind == u'x' ? 2 : kind == u'u' ? 4 : 0;
        bool ok = false;
        const uint value = given.mid(i + 2, digits).toUInt(&ok, 16);
        if (!digits || !ok || i + 2 + digits > given.size()) return std::nullopt;
        // \xHH of 80 and above is a byte that no character holds.
        out += QChar(char16_t(kind == u'x' && value >= 0x80 ? 0xDC00 + value : value));
        i += 1 + digits;
    }
    return out;
}
