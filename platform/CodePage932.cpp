#include "platform/CodePage932.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <memory>

namespace cp932 {
namespace {

// ICU's windows-31j table swaps these three control codes; Windows and every
// other converter map them one to one, so they are passed through by hand.
bool IsSwappedControl(char16_t c) {
    return c == 0x1A || c == 0x1C || c == 0x7F;
}

// A byte that is not valid code page 932 is kept as a character of its own,
// U+DC80 to U+DCFF (a lone low surrogate, which no typed text contains), so
// that writing the text back gives the same bytes.
constexpr char16_t kEscapeBase = 0xDC00;

bool IsByteEscape(QStringView text, qsizetype i) {
    const char16_t c = text[i].unicode();
    return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
}

void EscapeInvalidBytes(const void*, UConverterToUnicodeArgs* args, const char* codeUnits,
                        int32_t length, UConverterCallbackReason reason, UErrorCode* status) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close or clone: nothing to convert
    *status = U_ZERO_ERROR;
    for (int32_t i = 0; i < length && U_SUCCESS(*status); ++i) {
        // A trail byte below 0x80 of a bad pair is a character of its own.
        const uchar byte = uchar(codeUnits[i]);
        const UChar escaped = byte < 0x80 ? UChar(byte) : UChar(kEscapeBase | byte);
        ucnv_cbToUWriteUChars(args, &escaped, 1, 0, status);
    }
}

struct ConverterDeleter {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterDeleter>;

// One converter per thread: pictures are decoded on a worker thread too.
UConverter* SharedConverter() {
    thread_local Converter converter = [] {
        UErrorCode status = U_ZERO_ERROR;
        Converter c(ucnv_open("windows-31j", &status));
        if (U_FAILURE(status))
            qFatal("code page 932 converter is missing: %s", u_errorName(status));
        ucnv_setToUCallBack(c.get(), EscapeInvalidBytes, nullptr, nullptr, nullptr, &status);
        return c;
    }();
    return converter.get();
}

bool EncodeRun(QStringView run, QByteArray& out) {
    if (run.isEmpty()) return true;
    UConverter* conv = SharedConverter();
    ucnv_resetFromUnicode(conv);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    const int capacity = int(run.size()) * 2 + 8;
    const qsizetype start = out.size();
    out.resize(start + capacity);
    status = U_ZERO_ERROR;
    const int written =
        ucnv_fromUChars(conv, out.data() + start, capacity,
                        reinterpret_cast<const UChar*>(run.utf16()), int(run.size()), &status);
    if (U_FAILURE(status)) {
        out.resize(start);
        return false;
    }
    out.resize(start + written);
    return true;
}

// Encodes one character at a time; used only after a run failed, to keep every
// mappable character and mark the text as lossy.
// Returns the first character that has no code page 932 form.
QString EncodeLossy(QStringView run, QByteArray& out) {
    QString first;
    for (qsizetype i = 0; i < run.size(); ++i) {
        qsizetype len = (run[i].isHighSurrogate() && i + 1 < run.size()) ? 2 : 1;
        // One '?' per 16-bit unit, so the bytes are never fewer than the characters.
        if (!EncodeRun(run.sliced(i, len), out)) {
            out.append(QByteArray(len, '?'));
            if (first.isEmpty()) first = run.sliced(i, len).toString();
        }
        i += len - 1;
    }
    return first;
}

void DecodeRun(QByteArrayView run, QString& out) {
    if (run.isEmpty()) return;
    UConverter* conv = SharedConverter();
    ucnv_resetToUnicode(conv);
    const qsizetype start = out.size();
    out.resize(start + run.size() + 4);
    UErrorCode status = U_ZERO_ERROR;
    const int written = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data() + start),
                                      int(run.size()) + 4, run.data(), int(run.size()), &status);
    out.resize(start + (U_FAILURE(status) ? 0 : written));
}

}  // namespace

Encoded Encode(QStringView text) {
    Encoded result;
    result.bytes.reserve(text.size() * 2);
    qsizetype runStart = 0;
    auto flush = [&](qsizetype end) {
        QStringView run = text.sliced(runStart, end - runStart);
        if (!EncodeRun(run, result.bytes)) {
            const QString lost = EncodeLossy(run, result.bytes);
            if (result.lossless) result.firstLost = lost;
            result.lossless = false;
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!IsSwappedControl(text[i].unicode()) && !IsByteEscape(text, i)) continue;
        flush(i);
        result.bytes.append(char(text[i].unicode() & 0xFF));
        runStart = i + 1;
    }
    flush(text.size());
    return result;
}

QString WindowsForms(QStringView text) {
    // Where the Japanese tables of Linux (and Unicode's own JIS mapping) and
    // Windows give one code point different characters.
    static const std::pair<char16_t, char16_t> kPairs[] = {
        {0x301C, 0xFF5E},  // 〜 wave dash -> ～ full-width tilde
        {0x2016, 0x2225},  // ‖ double vertical line -> ∥ parallel to
        {0x2212, 0xFF0D},  // − minus sign -> － full-width hyphen-minus
        {0x2014, 0x2015},  // — em dash -> ― horizontal bar
        {0x00A2, 0xFFE0},  // ¢ -> ￠
        {0x00A3, 0xFFE1},  // £ -> ￡
        {0x00AC, 0xFFE2},  // ¬ -> ￢
        {0x00A6, 0xFFE4},  // ¦ -> ￤
    };
    QString out = text.toString();
    for (QChar& c : out)
        for (const auto& [other, windows] : kPairs)
            if (c.unicode() == other) c = QChar(windows);
    return out;
}

QString Decode(QByteArrayView bytes) {
    // Plain ASCII (paths, Latin names, padding) is the same in code page 932.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) {
            return uchar(c) < 0x80 && !IsSwappedControl(char16_t(uchar(c)));
        }))
        return QString::fromLatin1(bytes.data(), bytes.size());
    QString out;
    out.reserve(bytes.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (!IsSwappedControl(char16_t(uchar(bytes[i])))) continue;
        DecodeRun(bytes.sliced(runStart, i - runStart), out);
        out.append(QChar(char16_t(uchar(bytes[i]))));
        runStart = i + 1;
    }
    DecodeRun(bytes.sliced(runStart), out);
    return out;
}

}  // namespace cp932
