// The fixed-length text rules and the zero record.
#include "model/ProcessRecord.h"

#include <QTest>

class RecordTest : public QObject {
    Q_OBJECT
  private slots:
    void trimCutsAtFirstNulThenStripsSpaces_data();
    void trimCutsAtFirstNulThenStripsSpaces();
    void trimKeepsIdeographicSpace();
    void assignPadsWithSpaces();
    void assignCutsLongText();
    void zeroRecordReadsEmpty();
};

void RecordTest::trimCutsAtFirstNulThenStripsSpaces_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all NULs") << QString(16, QChar(0)) << "";
    QTest::newRow("spaces, abc, NULs") << QStringLiteral("  abc") + QString(11, QChar(0)) << "abc";
    QTest::newRow("ab NUL cd") << QStringLiteral("ab") + QChar(0) + QStringLiteral("cd") << "ab";
    QTest::newRow("spaces NUL letter") << QStringLiteral("  ") + QChar(0) + u'x' << "";
    QTest::newRow("inner space kept") << "a b"
                                      << "a b";
    QTest::newRow("spaces only") << "    "
                                 << "";
}

void RecordTest::trimCutsAtFirstNulThenStripsSpaces() {
    QFETCH(QString, raw);
    QFETCH(QString, expected);
    QCOMPARE(TrimFixed(raw), expected);
}

void RecordTest::trimKeepsIdeographicSpace() {
    QCOMPARE(TrimFixed(QStringLiteral("　名前　 ")), QStringLiteral("　名前　"));
}

void RecordTest::assignPadsWithSpaces() {
    FixedText<kNameLength> name{};
    AssignFixed(name, QStringLiteral("新しいプロセス"));
    QCOMPARE(RawText(name), QStringLiteral("新しいプロセス") + QString(9, u' '));
    QCOMPARE(TrimFixed(name), QStringLiteral("新しいプロセス"));
}

void RecordTest::assignCutsLongText() {
    FixedText<kNameLength> name{};
    AssignFixed(name, QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
    QCOMPARE(RawText(name), QStringLiteral("ABCDEFGHIJKLMNOP"));
}

void RecordTest::zeroRecordReadsEmpty() {
    const ProcessRecord zero;
    QCOMPARE(CurrentProcess(), zero);
    QVERIFY(TrimFixed(zero.Name).isEmpty());
    for (const auto& path : zero.PanelPath) QVERIFY(TrimFixed(path).isEmpty());
    QCOMPARE(zero.IntervalMs, 0);
    QCOMPARE(zero.FitMode, int16_t(0));
}

QTEST_APPLESS_MAIN(RecordTest)
#include "tst_record.moc"
