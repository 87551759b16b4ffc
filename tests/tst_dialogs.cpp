// The options, background colour, image fit and about dialogs.
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "dialogs/frm_appr.h"
#include "dialogs/frm_cr.h"
#include "dialogs/frm_opt.h"
#include "dialogs/frm_version.h"
#include "platform/Numeric.h"
#include "tests/support/ScriptedUi.h"

#include <QColorDialog>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

QColor SampleOf(frm_cr& dialog) {
    return dialog.findChild<QLabel*>("Label")->palette().color(QPalette::Window);
}

void Type(QLineEdit* box, const QString& text) {
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

// Text committed by an input method, as Japanese is typed.
void Compose(QLineEdit* box, const QString& text) {
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QCoreApplication::sendEvent(box, &commit);
}

bool LinkLit(QLabel* link) {
    return link->font().underline() &&
           link->palette().color(QPalette::WindowText) == QColor(0, 0, 255);
}

bool LinkAtRest(QLabel* link) {
    return !link->font().underline() &&
           link->palette().color(QPalette::WindowText) == QColor(0, 0, 0);
}

void MoveOver(QWidget* widget) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void numbersTheUserTypes_data();
    void numbersTheUserTypes();
    void optionsShowAndStore();
    void optionsShowStoredIntervalWhole_data();
    void optionsShowStoredIntervalWhole();
    void optionsRefuseNonNumbers();
    void optionsCancelKeepsEverything();
    void colourSampleFollowsTyping();
    void colourOkAppliesAndCancelWritesNothing();
    void colourChooserResultIsBgr();
    void dialogsSitCentredOnTheirOwner();
    void yesNoQuestionsHaveNoCancel();
    void messagesShowStoredTextAsItIs();
    void fitDialogFreezesPresentSize();
    void fitDialogModes();
    void aboutShowsVersionAndBeeps();
    void aboutLinksHoverAndHandOff();
};

void DialogsTest::numbersTheUserTypes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");  // INT_MIN: not accepted
    const int no = INT_MIN;
    QTest::newRow("plain") << "2000" << 2000;
    QTest::newRow("spaces and sign") << " -12 " << -12;
    QTest::newRow("plus") << "+7" << 7;
    QTest::newRow("1.5 to even") << "1.5" << 2;
    QTest::newRow("2.5 to even") << "2.5" << 2;
    QTest::newRow("-0.4") << "-0.4" << 0;
    QTest::newRow(".5") << ".5" << 0;
    QTest::newRow("3.") << "3." << 3;
    QTest::newRow("exponent") << "1e3" << 1000;
    QTest::newRow("out of range") << "1e10" << no;
    QTest::newRow("letters") << "abc" << no;
    QTest::newRow("trailing letter") << "12x" << no;
    QTest::newRow("double minus") << "--" << no;
    QTest::newRow("hex") << "&H10" << no;
    QTest::newRow("thousands") << "1,000" << no;
    QTest::newRow("point alone") << "." << no;
    // What a Japanese input method types.
    QTest::newRow("full-width 500") << "５００" << 500;
    QTest::newRow("full-width sign") << "－１２" << -12;
    QTest::newRow("minus sign") << "−5" << -5;
    QTest::newRow("full-width point") << "１．５" << 2;
    QTest::newRow("ideographic spaces") << "　７　" << 7;
    QTest::newRow("full-width exponent") << "１ｅ３" << 1000;
    QTest::newRow("yen") << "５００円" << no;
}

void DialogsTest::numbersTheUserTypes() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    const auto number = ParseNumber(text);
    const auto value = number ? ToInt32RoundedHalfEven(*number) : std::nullopt;
    QCOMPARE(value.value_or(INT_MIN), expected);
}

void DialogsTest::optionsShowAndStore() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().IntervalMs = 2000;
    CurrentProcess().RunStyle = 2;
    frm_opt options(app.window.get());
    options.show();
    auto* text = options.findChild<QLineEdit*>("Text1");
    const auto opt = options.findChildren<QRadioButton*>("opt");
    QCOMPARE(text->text(), QStringLiteral("2000"));
    QVERIFY(opt[2]->isChecked());
    QCOMPARE(text->maxLength(), 4);
    Type(text, "50000");
    QCOMPARE(text->text(), QStringLiteral("5000"));  // a fifth character cannot be typed
    Compose(text, "５００");
    QCOMPARE(text->text(), QStringLiteral("５００"));
    opt[1]->click();
    QTest::keyClick(text, Qt::Key_Return);
    QVERIFY(!options.isVisible());
    QCOMPARE(CurrentProcess().IntervalMs, 500);
    QCOMPARE(CurrentProcess().RunStyle, int16_t(1));

    frm_opt empty(app.window.get());
    empty.show();
    Type(empty.findChild<QLineEdit*>("Text1"), "");
    empty.findChildren<QPushButton*>("btn")[0]->click();
    QCOMPARE(empty.findChild<QLineEdit*>("Text1")->text(), QStringLiteral("0"));
    QCOMPARE(CurrentProcess().IntervalMs, 0);

    frm_opt negative(app.window.get());
    negative.show();
    Type(negative.findChild<QLineEdit*>("Text1"), "-1");
    negative.findChildren<QPushButton*>("btn")[0]->click();
    QCOMPARE(CurrentProcess().IntervalMs, -1);
    QVERIFY(app.ui.errors.isEmpty());
}

void DialogsTest::optionsShowStoredIntervalWhole_data() {
    QTest::addColumn<int>("stored");
    QTest::newRow("10000") << 10000;
    QTest::newRow("largest") << INT32_MAX;
    QTest::newRow("smallest") << INT32_MIN;
}

void DialogsTest::optionsShowStoredIntervalWhole() {
    QFETCH(int, stored);
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().IntervalMs = stored;
    {
        frm_opt options(app.window.get());
        options.show();
        QCOMPARE(options.findChild<QLineEdit*>("Text1")->text(), QString::number(stored));
        QTest::keyClick(&options, Qt::Key_Return);
    }
    QCOMPARE(CurrentProcess().IntervalMs, stored);
    frm_opt options(app.window.get());
    options.show();
    auto* text = options.findChild<QLineEdit*>("Text1");
    QTest::keyClick(text, Qt::Key_End);
    QTest::keyClicks(text, "7");  // nothing can be typed beyond the shown value
    QCOMPARE(text->text(), QString::number(stored));
    Type(text, "123456");  // a fresh text takes four characters again
    QCOMPARE(text->text(), QStringLiteral("1234"));
}

void DialogsTest::optionsRefuseNonNumbers() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().IntervalMs = 300;
    frm_opt options(app.window.get());
    options.show();
    auto* text = options.findChild<QLineEdit*>("Text1");
    Type(text, "12x");
    options.findChildren<QRadioButton*>("opt")[1]->click();
    options.findChildren<QPushButton*>("btn")[0]->click();
    QCOMPARE(app.ui.errors, QStringList{"タイマ値が不正です"});
    QVERIFY(options.isVisible());
    QCOMPARE(text->text(), QStringLiteral("12x"));
    QCOMPARE(CurrentProcess().IntervalMs, 300);
    QCOMPARE(CurrentProcess().RunStyle, int16_t(0));
    Type(text, "120");
    options.findChildren<QPushButton*>("btn")[0]->click();
    QCOMPARE(CurrentProcess().IntervalMs, 120);
    QCOMPARE(CurrentProcess().RunStyle, int16_t(1));
}

void DialogsTest::optionsCancelKeepsEverything() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().RunStyle = 7;  // from a store made elsewhere: no button chosen
    const ProcessRecord before = CurrentProcess();
    frm_opt options(app.window.get());
    options.show();
    for (QRadioButton* b : options.findChildren<QRadioButton*>("opt")) QVERIFY(!b->isChecked());
    Type(options.findChild<QLineEdit*>("Text1"), "99");
    options.findChildren<QRadioButton*>("opt")[2]->click();
    QTest::keyClick(&options, Qt::Key_Escape);
    QVERIFY(!options.isVisible());
    QCOMPARE(CurrentProcess(), before);
}

void DialogsTest::colourSampleFollowsTyping() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().BackColor = 0xFF0000;
    frm_cr dialog(*app.window);
    dialog.show();
    auto* text = dialog.findChild<QLineEdit*>("Text");
    QCOMPARE(text->text(), QStringLiteral("FF0000"));
    QCOMPARE(SampleOf(dialog), QColor(0, 0, 255));
    Type(text, "800000");
    QCOMPARE(SampleOf(dialog), QColor(0, 0, 0x80));
    Compose(text, "ｆＦ８０");  // full-width, as a Japanese input method types
    QCOMPARE(SampleOf(dialog), QColor(0x80, 0xFF, 0));
    Type(text, "ff");
    QCOMPARE(SampleOf(dialog), QColor(255, 0, 0));
    QTest::keyClicks(text, "g");
    QCOMPARE(SampleOf(dialog), QColor(255, 0, 0));  // the last valid colour stays
    Type(text, "");
    QCOMPARE(SampleOf(dialog), QColor(255, 0, 0));
    dialog.findChild<QPushButton*>("btnOK")->click();
    QCOMPARE(app.ui.errors, QStringList{"カラー値が不正です"});
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.findChild<QLineEdit*>("Text")->maxLength(), 6);
}

void DialogsTest::colourOkAppliesAndCancelWritesNothing() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    app.window->ApplyProcess(CurrentProcess());
    {
        frm_cr dialog(*app.window);
        dialog.show();
        QCOMPARE(dialog.findChild<QLineEdit*>("Text")->text(), QStringLiteral("0"));
        QCOMPARE(SampleOf(dialog), QColor(0, 0, 0));
        app.ui.colors << 0x00FF00u;
        dialog.findChild<QPushButton*>("btncc")->click();
        QCOMPARE(dialog.findChild<QLineEdit*>("Text")->text(), QStringLiteral("FF00"));
        QTest::keyClick(&dialog, Qt::Key_Escape);  // picked, then cancelled
    }
    QCOMPARE(CurrentProcess().BackColor, 0);
    frm_cr dialog(*app.window);
    dialog.show();
    Type(dialog.findChild<QLineEdit*>("Text"), "ff8000");
    QTest::keyClick(dialog.findChild<QLineEdit*>("Text"), Qt::Key_Return);
    QCOMPARE(CurrentProcess().BackColor, 0xFF8000);
    QCOMPARE(app.window->ClientArea()->grab().toImage().pixel(2, 2), qRgb(0x00, 0x80, 0xFF));
}

void DialogsTest::colourChooserResultIsBgr() {
    QCOMPARE(frm_cr::HexText(0), QStringLiteral("0"));
    QCOMPARE(frm_cr::HexText(0xFF), QStringLiteral("FF"));
    QCOMPARE(frm_cr::HexText(0x0A0B0C), QStringLiteral("A0B0C"));
    CurrentProcess() = SampleProcess();
    CurrentProcess().BackColor = int32_t(0x12345678);  // more digits than can be typed
    ViewStandIn view;
    frm_cr dialog(view);
    dialog.show();
    QCOMPARE(dialog.findChild<QLineEdit*>("Text")->text(), QStringLiteral("12345678"));
    // The real chooser (no scripted boxes here): it opens on black with 16 white
    // custom colours, and red 0x12, green 0x34, blue 0x56 comes back as 0x00563412.
    bool opensOnBlack = false, customWhite = true;
    WhenModal([&](QWidget* modal) {
        auto* chooser = qobject_cast<QColorDialog*>(modal);
        QVERIFY(chooser);
        opensOnBlack = chooser->currentColor() == QColor(Qt::black);
        for (int i = 0; i < 16; ++i) customWhite &= QColorDialog::customColor(i) == Qt::white;
        chooser->setCurrentColor(QColor(0x12, 0x34, 0x56));
        chooser->accept();
    });
    dialog.findChild<QPushButton*>("btncc")->click();
    QVERIFY(opensOnBlack);
    QVERIFY(customWhite);
    QCOMPARE(dialog.findChild<QLineEdit*>("Text")->text(), QStringLiteral("563412"));
    WhenModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    uint32_t color = 7;
    QVERIFY(!ShowColorDialog(&dialog, color));  // cancelled
    QCOMPARE(color, 7u);
}

void DialogsTest::dialogsSitCentredOnTheirOwner() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    app.window->move(app.window->pos() + QPoint(-70, 40));
    QTRY_VERIFY(app.window->frameGeometry().topLeft().x() < 300);
    const QPoint owner = app.window->frameGeometry().center();
    std::vector<std::unique_ptr<QDialog>> dialogs;
    dialogs.emplace_back(new frm_opt(app.window.get()));
    dialogs.emplace_back(new frm_cr(*app.window));
    dialogs.emplace_back(new frm_appr(app.window.get(), *app.window->Img()));
    dialogs.emplace_back(new frm_version(app.window.get()));
    for (auto& dialog : dialogs) {
        dialog->show();
        if (WindowSystemPlacesAndFocuses())
            QTRY_VERIFY2((dialog->frameGeometry().center() - owner).manhattanLength() <= 1,
                         dialog->objectName().toLatin1());
        // No minimise or maximise button is asked of the window manager.
        const Qt::WindowFlags flags = dialog->windowFlags();
        QVERIFY(flags & Qt::CustomizeWindowHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        dialog->close();
    }
}

// A name or path in a message is shown as its characters, whatever markup it holds.
void DialogsTest::messagesShowStoredTextAsItIs() {
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    QStringList shown;
    auto read = [&](QWidget* box) {
        auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        shown << (label->textFormat() == Qt::PlainText ? label->text() : QString());
        qobject_cast<QMessageBox*>(box)->buttons().first()->click();
    };
    WhenModal(read);
    Ui().AskYesNo(&owner, QStringLiteral("<img src=r.bmp>\r削除しますか？"));
    WhenModal(read);
    Ui().ShowError(&owner, QStringLiteral("開けません\r<b>/p/x.bmp</b>"));
    QCOMPARE(shown,
             (QStringList{"<img src=r.bmp>\n削除しますか？", "開けません\n<b>/p/x.bmp</b>"}));
}

void DialogsTest::yesNoQuestionsHaveNoCancel() {
    // The real message box (no scripted boxes here).
    QWidget owner;
    owner.resize(400, 300);
    owner.show();
    bool stayedOpen = false, closeButton = true, centred = false;
    WhenModal([&](QWidget* box) {
        QTest::keyClick(box, Qt::Key_Escape);
        box->close();
        stayedOpen = box->isVisible();
        closeButton = box->windowFlags() & Qt::WindowCloseButtonHint;
        centred =
            (box->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength() <=
                1 ||
            !WindowSystemPlacesAndFocuses();
        qobject_cast<QMessageBox*>(box)->button(QMessageBox::No)->click();
    });
    QVERIFY(!Ui().AskYesNo(&owner, QStringLiteral("削除しますか？")));
    QVERIFY(stayedOpen);
    QVERIFY(!closeButton);
    QVERIFY(centred);
    WhenModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });  // Yes is the default
    QVERIFY(Ui().AskYesNo(&owner, QStringLiteral("削除しますか？")));
}

void DialogsTest::fitDialogFreezesPresentSize() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    app.window->ApplyProcess(CurrentProcess());
    app.window->FitImage();
    WhenModal([](QWidget* dialog) {
        dialog->findChildren<QRadioButton*>("opt")[1]->click();
        QCOMPARE(CurrentProcess().FitMode, int16_t(1));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    ImageAdjustCommand(*app.window);
    QCOMPARE(CurrentProcess().FitMode, int16_t(1));
    QCOMPARE(CurrentProcess().FixedWidth, 347);  // 347.33 from the mode in force
    QCOMPARE(CurrentProcess().FixedHeight, 214);
    QCOMPARE(app.window->Img()->toolTip(), QStringLiteral("固定"));
    const QSize client = app.window->ClientArea()->size();
    app.window->resize(app.window->width() + 200, app.window->height() + 100);
    QTRY_COMPARE(app.window->ClientArea()->size(), client + QSize(200, 100));
    QCOMPARE(app.window->Img()->LogicalGeometry().size(), QSizeF(347, 214));
}

void DialogsTest::fitDialogModes() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().FitMode = 2;
    app.window->ApplyProcess(CurrentProcess());
    app.window->FitImage();
    {
        frm_appr dialog(app.window.get(), *app.window->Img());
        QVERIFY(dialog.findChildren<QRadioButton*>("opt")[2]->isChecked());
        dialog.show();
        dialog.findChildren<QRadioButton*>("opt")[0]->click();
        QTest::keyClick(&dialog, Qt::Key_Return);
    }
    QCOMPARE(CurrentProcess().FixedWidth, 320);  // the picture's own size, mode 2 was in force
    QCOMPARE(CurrentProcess().FitMode, int16_t(0));
    CurrentProcess().FitMode = 5;
    frm_appr dialog(app.window.get(), *app.window->Img());
    for (QRadioButton* b : dialog.findChildren<QRadioButton*>("opt")) QVERIFY(!b->isChecked());
    dialog.close();
    QCOMPARE(CurrentProcess().FitMode, int16_t(5));
}

void DialogsTest::aboutShowsVersionAndBeeps() {
    QCOMPARE(frm_version::VersionText(2, 0, 1), QStringLiteral("2.01"));
    QCOMPARE(frm_version::VersionText(1, 2, 10), QStringLiteral("1.210"));
    AppFixture app;
    for (int i = 1; i <= 2; ++i) {
        WhenModal([](QWidget* about) { QTest::keyClick(about, Qt::Key_Escape); });
        AboutCommand(*app.window);
        QCOMPARE(app.ui.beeps, i);
    }
    frm_version about(app.window.get());
    QCOMPARE(about.windowTitle(), QStringLiteral("Kadrelo バージョン情報"));
    const auto labels = about.findChildren<QLabel*>("Label");
    QCOMPARE(labels[0]->text(), QStringLiteral("Kadrelo"));
    QCOMPARE(labels[1]->text(), QStringLiteral("2.01"));
    QVERIFY(about.findChild<QLabel*>("Label2")->text().startsWith(QStringLiteral("Copyright")));
    QVERIFY(about.findChild<ImageControl*>("Image1")->HasPicture());
    about.show();
    QTest::keyClick(&about, Qt::Key_Return);
    QVERIFY(!about.isVisible());
}

void DialogsTest::aboutLinksHoverAndHandOff() {
    AppFixture app;
    frm_version about(app.window.get());
    about.show();
    auto* mail = about.findChild<QLabel*>("Label3");
    auto* web = about.findChild<QLabel*>("Label4");
    QVERIFY(LinkAtRest(mail) && LinkAtRest(web));
    MoveOver(mail);
    QVERIFY(LinkLit(mail) && LinkAtRest(web));
    MoveOver(web);
    QVERIFY(LinkAtRest(mail) && LinkLit(web));
    MoveOver(about.findChildren<QLabel*>("Label")[1]);
    QVERIFY(LinkLit(web));
    MoveOver(about.findChild<QLabel*>("Label2"));
    QVERIFY(LinkAtRest(mail) && LinkAtRest(web));
    MoveOver(web);
    MoveOver(&about);
    QVERIFY(LinkAtRest(web));
    QTest::mouseClick(mail, Qt::LeftButton);
    QTest::mouseClick(web, Qt::LeftButton);
    QCOMPARE(app.ui.opened,
             (QStringList{"mailto:" + frm_version::kMailAddress, frm_version::kWebAddress}));
    QVERIFY(about.isVisible());
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
