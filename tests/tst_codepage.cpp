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
    void invalidBytesSurviveARoundTrip_data();
    void invalidBytesSurviveARoundTrip();
    void charactersOutsideTheBmpAreLossy();
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

void CodePageTest::invalidBytesSurviveARoundTrip_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("FF") << QByteArray::fromHex("41ff42");
    QTest::newRow("80") << QByteArray::fromHex("80");
    QTest::newRow("A0") << QByteArray::fromHex("a0 82a0");
    QTest::newRow("lead byte, space") << QByteArray::fromHex("41 8120 42");
    QTest::newRow("lone lead byte at the end") << QByteArray::fromHex("4142 81");
    QTest::newRow("unassigned pair") << QByteArray::fromHex("8540");
    QTest::newRow("FD FE") << QByteArray::fromHex("fdfe 20 20");
}

void CodePageTest::invalidBytesSurviveARoundTrip() {
    QFETCH(QByteArray, bytes);
    const QString decoded = cp932::Decode(bytes);
    QVERIFY(!decoded.contains(u'\x1a'));
    QVERIFY(decoded.size() <= bytes.size());
    const auto encoded = cp932::Encode(decoded);
    QVERIFY(encoded.lossless);
    QCOMPARE(encoded.bytes, bytes);
    // Valid text around the bad bytes decodes as itself.
    QCOMPARE(cp932::Decode(QByteArray::fromHex("41 8120 42")).right(2), QStringLiteral(" B"));
}

void CodePageTest::charactersOutsideTheBmpAreLossy() {
    // An emoji is two 16-bit units; a field of N units never encodes to fewer than N bytes.
    const QString text = QStringLiteral("ab😀cd");
    const auto encoded = cp932::Encode(text);
    QVERIFY(!encoded.lossless);
    QVERIFY(encoded.bytes.size() >= text.size());
    // A low surrogate that is half of a real pair is no escaped byte.
    QVERIFY(!cp932::Encode(QString::fromUcs4(U"\U00010080")).lossless);
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
