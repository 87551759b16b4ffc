// Every caption of every dialog shows whole, at the font resolution CTest sets
// (QT_FONT_DPI, with the toolkit's own scaling on or off): layouts given in
// twips grow with the font.
#include "app/Application.h"
#include "app/frm_main.h"
#include "tests/support/ScriptedUi.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

namespace {

// What the text needs when drawn in the widget's font, access-key marks left
// out: as wide as its ink reaches, as high as its lines.
QSize TextSize(const QWidget* widget, QString text) {
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    const QFontMetrics metrics = widget->fontMetrics();
    int width = 0;
    const QStringList lines = text.split(u'\n');
    for (const QString& line : lines)
        width = std::max(width, metrics.tightBoundingRect(line).right() + 1);
    return QSize(width, metrics.height() * int(lines.size()));
}

// The captions of a dialog that do not fit their controls, by object name.
QStringList Clipped(QWidget& dialog) {
    QStringList clipped;
    auto check = [&](QWidget* w, const QString& text, QSize room) {
        if (text.isEmpty() || !w->isVisibleTo(&dialog)) return;
        const QSize need = TextSize(w, text);
        if (need.width() > room.width() || need.height() > room.height())
            clipped << QStringLiteral("%1 \"%2\": needs %3x%4, has %5x%6")
                           .arg(w->objectName(), text)
                           .arg(need.width())
                           .arg(need.height())
                           .arg(room.width())
                           .arg(room.height());
    };
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        check(b, b->text(), b->size() - QSize(4, 2));
    // An option button's text comes after its round mark.
    for (QRadioButton* b : dialog.findChildren<QRadioButton*>())
        check(b, b->text(),
              b->size() - QSize(b->sizeHint().width() - TextSize(b, b->text()).width(), 0));
    for (QLabel* l : dialog.findChildren<QLabel*>())
        if (!l->wordWrap()) check(l, l->text(), l->contentsRect().size());
    for (QGroupBox* g : dialog.findChildren<QGroupBox*>()) check(g, g->title(), g->size());
    return clipped;
}

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void captionsShowWhole();
    void programFontOutlastsAThemesFont();
};

void LayoutTest::initTestCase() {
    SetUpApplication(*qApp);
    qInfo("logical %g dots per inch, device pixel ratio %g",
          QGuiApplication::primaryScreen()->logicalDotsPerInch(),
          QGuiApplication::primaryScreen()->devicePixelRatio());
}

void LayoutTest::captionsShowWhole() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    const std::vector<std::unique_ptr<QDialog>> dialogs = EveryDialog(*app.window);
    // Every menu of the main window shows on its menu bar.
    auto* more =
        app.window->menuBar()->findChild<QWidget*>(QStringLiteral("qt_menubar_ext_button"));
    QVERIFY(more && !more->isVisible());
    for (auto& dialog : dialogs) {
        dialog->show();
        const QStringList clipped = Clipped(*dialog);
        QVERIFY2(clipped.isEmpty(), qPrintable(dialog->objectName() + QStringLiteral(": ") +
                                               clipped.join(QStringLiteral("; "))));
        dialog->close();
    }
}

// A platform theme sets its own font once the program runs; the program's stays.
void LayoutTest::programFontOutlastsAThemesFont() {
    const QFont program = QApplication::font();
    QCOMPARE(program.pointSize(), 9);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Serif"), 14));
    QCOMPARE(QApplication::font(), program);
    AppFixture app;
    QCOMPARE(app.window->font(), program);
}

QTEST_MAIN(LayoutTest)
#include "tst_layout.moc"
