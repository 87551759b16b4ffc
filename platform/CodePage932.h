// Conversion between 16-bit text and code page 932 (Windows Shift-JIS).
#pragma once

#include <QByteArray>
#include <QString>

namespace cp932 {

struct Encoded {
    QByteArray bytes;
    bool lossless = true;  // false when a character has no code page 932 form
};

Encoded Encode(QStringView text);

// Bytes that are not valid code page 932 become U+DC80 to U+DCFF, one character
// a byte, which Encode turns back into the same bytes.
QString Decode(QByteArrayView bytes);

}  // namespace cp932
