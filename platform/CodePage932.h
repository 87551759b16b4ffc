// Conversion between 16-bit text and code page 932 (Windows Shift-JIS).
#pragma once

#include <QByteArray>
#include <QString>

namespace cp932 {

struct Encoded {
    QByteArray bytes;
    bool lossless = true;  // false when a character has no code page 932 form
    QString firstLost;     // the first such character
};

Encoded Encode(QStringView text);

// The text with the characters that Japanese Linux and Windows spell with
// different code points (〜 and ～, − and －, ¢, £, ¬, ...) in their Windows
// forms, which code page 932 can hold.
QString WindowsForms(QStringView text);

// Bytes that are not valid code page 932 become U+DC80 to U+DCFF, one character
// a byte, which Encode turns back into the same bytes.
QString Decode(QByteArrayView bytes);

}  // namespace cp932
