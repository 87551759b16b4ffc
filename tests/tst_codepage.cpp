// Code page 932 conversion and the name match.
#include "platform/CodePage932.h"
#include "platform/NameMatch.h"

#include <QTest>

class CodePageTest : public QObject {
    Q_OBJECT
  private slots:
    void windowsTable();
    void controlCodesPassThrough();
    void lossIsReported();
    void invalidBytesDecodeToReplacement();
    void nameMatchIgnoresCaseOnly();
};

void CodePageTest::windowsTable() {
    const auto encoded = cp932::Encode(QStringLiteral("新しいプロセス"));
    QVERIFY(encoded.lossless);
    QCOMPARE(encoded.bytes, QByteArray::fromHex("9056 82b5 82a2 8376 838d 835a 8358"));
    // Characters where the Windows table differs from plain Shift-JIS.
    const QString windowsOnly = QStringLiteral("～－①髙ⅰ\\¥");
    const auto roundTrip = cp932::Encode(windowsOnly.left(5));
    QCOMPARE(roundTrip.bytes, QByteArray::fromHex("8160 817c 8740 fbfc fa40"));
    QCOMPARE(cp932::Decode(roundTrip.bytes), windowsOnly.left(5));
    QCOMPARE(cp932::Encode(u"C:\\a").bytes, QByteArray("C:\\a"));
}

void CodePageTest::controlCodesPassThrough() {
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c) controls += QChar(c);
    controls += QChar(0x7F);
    const auto encoded = cp932::Encode(controls + QStringLiteral("あ"));
    QVERIFY(encoded.lossless);
    QByteArray expected;
    for (int c = 0; c < 0x20; ++c) expected += char(c);
    expected += char(0x7F);
    QCOMPARE(encoded.bytes, expected + QByteArray::fromHex("82a0"));
    QCOMPARE(cp932::Decode(encoded.bytes), controls + QStringLiteral("あ"));
}

void CodePageTest::lossIsReported() {
    for (const QString& text :
         {QStringLiteral("café"), QStringLiteral("한"), QStringLiteral("a😀b")}) {
        const auto encoded = cp932::Encode(text);
        QVERIFY2(!encoded.lossless, qPrintable(text));
    }
    QVERIFY(cp932::Encode(QStringLiteral("ABCｶﾅ漢字")).lossless);
}

void CodePageTest::invalidBytesDecodeToReplacement() {
    const QString decoded = cp932::Decode(QByteArray::fromHex("41 81 20 42 ff"));
    QVERIFY(decoded.startsWith(u'A'));
    QVERIFY(decoded.contains(QChar(0xFFFD)) || decoded.contains(u'\x1a'));
}

void CodePageTest::nameMatchIgnoresCaseOnly() {
    QVERIFY(NamesMatch(u"Comic", u"COMIC"));
    QVERIFY(NamesMatch(u"ＡＢＣ", u"ａｂｃ"));
    QVERIFY(!NamesMatch(u"カナ", u"かな"));
    QVERIFY(!NamesMatch(u"ｶﾅ", u"カナ"));
    QVERIFY(!NamesMatch(u"abc", u"abd"));
}

QTEST_APPLESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
