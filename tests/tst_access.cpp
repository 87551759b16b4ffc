// What screen readers and keyboard users get, and text that stays readable
// under dark and high-contrast themes.
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "dialogs/ListBox.h"
#include "dialogs/frm_open.h"
#include "dialogs/frm_process.h"
#include "dialogs/frm_prono.h"
#include "dialogs/frm_version.h"
#include "platform/ColorValue.h"
#include "player/frm_prev.h"
#include "tests/support/ScriptedUi.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

QString SpokenName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

QAccessible::Role SpokenRole(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->role() : QAccessible::NoRole;
}

// The controls of a window that take the keyboard or show a picture but have no name.
QStringList Unnamed(QWidget& window) {
    QStringList unnamed;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const bool counts = (w->focusPolicy() != Qt::NoFocus && w->isVisibleTo(&window) &&
                             !w->objectName().startsWith(u"qt_")) ||
                            qobject_cast<ImageControl*>(w);
        if (counts && SpokenName(w).isEmpty())
            unnamed << w->objectName() + u'(' + w->metaObject()->className() + u')';
    }
    return unnamed;
}

QPalette DarkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(53, 53, 53));
    p.setColor(QPalette::WindowText, QColor(230, 230, 230));
    p.setColor(QPalette::Base, QColor(35, 35, 35));
    p.setColor(QPalette::Text, QColor(230, 230, 230));
    p.setColor(QPalette::Button, QColor(53, 53, 53));
    p.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    p.setColor(QPalette::Link, QColor(90, 170, 255));
    return p;
}

QPalette HighContrastPalette() {
    QPalette p;
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        p.setColor(role, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(role, Qt::white);
    p.setColor(QPalette::Link, Qt::yellow);
    return p;
}

// A theme's palette for as long as it lives, whatever the test's outcome.
class ThemeScope {
  public:
    explicit ThemeScope(const QPalette& theme) : before_(QApplication::palette()) {
        QApplication::setPalette(theme);
    }
    ~ThemeScope() { QApplication::setPalette(before_); }

  private:
    QPalette before_;
};

double TextContrast(const QWidget* w) {
    return ContrastRatio(w->palette().color(QPalette::WindowText),
                         w->palette().color(QPalette::Window));
}

}  // namespace

class AccessTest : public QObject {
    Q_OBJECT
  private slots:
    void everyControlHasAName();
    void picturesAreNamedByPanelAndFile();
    void playerPicturesAndStatusLine();
    void aboutLinksByKeyboard();
    void aboutLinksUnderThemes_data();
    void aboutLinksUnderThemes();
    void everyTextReadsUnderThemes_data() { aboutLinksUnderThemes_data(); }
    void everyTextReadsUnderThemes();
};

void AccessTest::everyControlHasAName() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    app.window->ApplyProcess(CurrentProcess());
    const std::vector<std::unique_ptr<QDialog>> dialogs = EveryDialog(*app.window);
    QCOMPARE(Unnamed(*app.window), QStringList());
    for (auto& dialog : dialogs) {
        dialog->show();
        QVERIFY2(
            Unnamed(*dialog).isEmpty(),
            qPrintable(dialog->objectName() + QStringLiteral(": ") + Unnamed(*dialog).join(u' ')));
        dialog->close();
    }
    frm_prono order(*app.window);
    const auto arrows = order.findChildren<QPushButton*>("btnUpDown");
    QCOMPARE(SpokenName(arrows[0]), QStringLiteral("上へ"));
    QCOMPARE(SpokenName(arrows[1]), QStringLiteral("下へ"));
    QCOMPARE(SpokenName(order.findChild<ListBox*>("List")), QStringLiteral("現在の順番"));
    frm_open list(*app.window);
    QCOMPARE(SpokenName(list.findChild<ListBox*>("List")), QStringLiteral("プロセス一覧"));
    frm_process editor(*app.window, QStringLiteral("プロセスの編集"));
    QCOMPARE(SpokenName(editor.findChildren<QPushButton*>("btn")[2]), QStringLiteral("参照"));
    QCOMPARE(SpokenName(editor.findChildren<QWidget*>("Text1")[2]), QStringLiteral("３コマ目"));
}

void AccessTest::picturesAreNamedByPanelAndFile() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    app.window->ApplyProcess(CurrentProcess());
    QCOMPARE(SpokenRole(app.window->Img()), QAccessible::Graphic);
    QCOMPARE(SpokenName(app.window->Img()), QStringLiteral("１コマ目：panel1.bmp"));
    frm_process editor(*app.window, QStringLiteral("プロセスの編集"));
    auto* preview = editor.findChildren<ImageControl*>("Image1")[1];
    QCOMPARE(SpokenRole(preview), QAccessible::Graphic);
    QCOMPARE(SpokenName(preview), QStringLiteral("２コマ目のプレビュー：panel2.jpg"));
    frm_version about(app.window.get());
    QCOMPARE(SpokenName(about.findChild<ImageControl*>("Image1")),
             QStringLiteral("Kadreloのアイコン"));
}

void AccessTest::playerPicturesAndStatusLine() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().RunStyle = 2;
    CurrentProcess().IntervalMs = 150;
    QStringList pictures;
    QStringList statuses;
    PanelWatch watch([&](frm_prev& player, int index) {
        pictures << SpokenName(player.findChild<ImageControl*>("Img"));
        auto* status = player.findChild<QLabel*>("Label");
        if (index == 1) {
            statuses << SpokenName(status);
            QTest::keyRelease(&player, Qt::Key_Space);
            statuses << SpokenName(status);
            QTest::keyRelease(&player, Qt::Key_Space);
        }
        if (index == 3)
            for (ImageControl* icon : player.findChildren<ImageControl*>("PreIcon"))
                if (icon->isVisible()) pictures << SpokenName(icon);
    });
    PreviewCommand(*app.window);
    QCOMPARE(pictures,
             (QStringList{"１コマ目：panel1.bmp", "２コマ目：panel2.jpg", "３コマ目：panel3.ico",
                          "４コマ目：panel4.png", "１コマ目：panel1.bmp", "２コマ目：panel2.jpg",
                          "３コマ目：panel3.ico"}));
    QCOMPARE(statuses, (QStringList{"状態", "状態：ポーズ中..."}));
}

// Tab reaches the two links after the button; Enter and Space open them and
// leave the dialog open.
void AccessTest::aboutLinksByKeyboard() {
    if (!WindowSystemPlacesAndFocuses()) QSKIP("no keyboard focus without a keyboard");
    ScriptedUi ui;
    QWidget owner;
    frm_version about(&owner);
    about.show();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    auto* mail = about.findChild<QLabel*>("Label3");
    auto* web = about.findChild<QLabel*>("Label4");
    QCOMPARE(QApplication::focusWidget(), about.findChild<QWidget*>("Command1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), mail);
    QVERIFY(mail->font().underline());
    QTest::keyClick(mail, Qt::Key_Return);
    QTest::keyClick(mail, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), web);
    QVERIFY(!mail->font().underline());
    QTest::keyClick(web, Qt::Key_Space);
    QCOMPARE(ui.opened,
             (QStringList{"mailto:" + frm_version::kMailAddress, frm_version::kWebAddress}));
    QVERIFY(about.isVisible());
}

void AccessTest::aboutLinksUnderThemes_data() {
    QTest::addColumn<QPalette>("theme");
    QTest::addColumn<bool>("described");
    QTest::newRow("light") << QApplication::palette() << true;
    QTest::newRow("dark") << DarkPalette() << false;
    QTest::newRow("high contrast") << HighContrastPalette() << false;
}

void AccessTest::aboutLinksUnderThemes() {
    QFETCH(QPalette, theme);
    QFETCH(bool, described);
    const ThemeScope themed(theme);
    ScriptedUi ui;
    QWidget owner;
    frm_version about(&owner);
    about.show();
    auto* mail = about.findChild<QLabel*>("Label3");
    auto* web = about.findChild<QLabel*>("Label4");
    const QColor rest = mail->palette().color(QPalette::WindowText);
    if (described) QCOMPARE(rest, QColor(0, 0, 0));
    for (QLabel* label : about.findChildren<QLabel*>())
        QVERIFY2(TextContrast(label) >= 4.5, qPrintable(label->objectName()));
    // Lit by the keyboard, as the mouse lights it.
    QEvent focusIn(QEvent::FocusIn);
    QCoreApplication::sendEvent(web, &focusIn);
    QVERIFY(web->font().underline());
    QVERIFY(TextContrast(web) >= 4.5);
    if (described) QCOMPARE(web->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    if (!described)
        QCOMPARE(web->palette().color(QPalette::WindowText), theme.color(QPalette::Link));
}

// Every caption, label and typed text of every window against its own background.
void AccessTest::everyTextReadsUnderThemes() {
    QFETCH(QPalette, theme);
    const ThemeScope themed(theme);
    AppFixture app;
    CurrentProcess() = SampleProcess();
    app.window->ApplyProcess(CurrentProcess());
    const std::vector<std::unique_ptr<QDialog>> dialogs = EveryDialog(*app.window);
    for (auto& dialog : dialogs) {
        dialog->show();
        for (QWidget* w : dialog->findChildren<QWidget*>()) {
            const QVariant text = w->property("text");
            // Disabled controls are meant to recede.
            if (!text.isValid() || text.toString().isEmpty() || !w->isVisibleTo(dialog.get()) ||
                !w->isEnabled())
                continue;
            const double contrast = ContrastRatio(w->palette().color(w->foregroundRole()),
                                                  w->palette().color(w->backgroundRole()));
            QVERIFY2(contrast >= 4.5, qPrintable(dialog->objectName() + u' ' + w->objectName() +
                                                 u' ' + QString::number(contrast)));
        }
        dialog->close();
    }
}

QTEST_MAIN(AccessTest)
#include "tst_access.moc"
