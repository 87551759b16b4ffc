// The main window: start-up state, menus, showing a process, laying its picture out.
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "tests/support/HugePng.h"
#include "tests/support/ScriptedUi.h"

#include <sys/resource.h>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace {

QAction* Action(frm_main& w, const char* name) {
    return w.findChild<QAction*>(name);
}
QMenu* Menu(frm_main& w, const char* name) {
    return w.findChild<QMenu*>(name);
}

QStringList Captions(QMenu* menu) {
    QStringList captions;
    for (QAction* a : menu->actions()) captions << (a->isSeparator() ? "-" : a->text());
    return captions;
}

bool ProcessMenusEnabled(frm_main& w) {
    return Action(w, "m_SAVE")->isEnabled() && Action(w, "m_EXPORT")->isEnabled() &&
           Menu(w, "m_EDIT")->menuAction()->isEnabled() &&
           Menu(w, "m_VIEW")->menuAction()->isEnabled() &&
           Menu(w, "m_RUN")->menuAction()->isEnabled() &&
           Menu(w, "m_TOOL")->menuAction()->isEnabled();
}

bool ProcessMenusDisabled(frm_main& w) {
    return !Action(w, "m_SAVE")->isEnabled() && !Action(w, "m_EXPORT")->isEnabled() &&
           !Menu(w, "m_EDIT")->menuAction()->isEnabled() &&
           !Menu(w, "m_VIEW")->menuAction()->isEnabled() &&
           !Menu(w, "m_RUN")->menuAction()->isEnabled() &&
           !Menu(w, "m_TOOL")->menuAction()->isEnabled();
}

// Whether a right-button release on the picture opens the View pop-up.
// The pop-up runs its own loop inside the release; a poll closes it as soon as
// it is up, and without a pop-up the release returns at once.
bool PopupOpens(frm_main& w, Qt::MouseButton button) {
    bool opened = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            opened = popup == w.ViewMenu();
            popup->close();
        }
    });
    poll.start(5);
    QTest::mouseRelease(w.Img(), button, {}, QPoint(5, 5));
    return opened;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void freshStart();
    void menuTree();
    void applyShowsTheProcess();
    void applyKeepsLayoutAndTrimsName();
    void fitModes();
    void fitModeOutOfRangeChangesNothing();
    void extremeFixedSizesShowOnlyTheVisiblePart_data();
    void extremeFixedSizesShowOnlyTheVisiblePart();
    void viewMenuCheckMarks();
    void imageStyleItems();
    void popupOnlyForRightButtonOverNamedPicture();
    void exitCloses();
    void largePictureArrivesWhileTheWindowDraws();
};

void MainWindowTest::freshStart() {
    AppFixture app;
    frm_main& w = *app.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Kadrelo"));
    QCOMPARE(w.ClientArea()->size(), QSize(521, 321));
    QVERIFY(ProcessMenusDisabled(w));
    QVERIFY(Menu(w, "m_FILE")->menuAction()->isEnabled());
    QVERIFY(Menu(w, "m_HELP")->menuAction()->isEnabled());
    // The empty frame is two thirds of the client area, a little left of centre and high.
    const QRectF logical = w.Img()->LogicalGeometry();
    QCOMPARE(logical.width(), 521 / 1.5);
    QCOMPARE(logical.height(), 214.0);
    QVERIFY(qAbs(logical.x() - 78.939) < 0.01);
    QVERIFY(qAbs(logical.y() - 35.667) < 0.01);
    QCOMPARE(w.Img()->geometry(), QRect(79, 36, 347, 214));
    QVERIFY(!w.Img()->HasPicture());
    QCOMPARE(w.Img()->Appearance(), 1);
    const QImage shot = w.ClientArea()->grab().toImage();
    QCOMPARE(shot.pixel(5, 5), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(79, 100), qRgb(128, 128, 128));  // the 3D frame's shadow edge
    // Its light edges are the frame's last column and row: 347 x 214 in all.
    QCOMPARE(shot.pixel(425, 100), qRgb(255, 255, 255));
    QCOMPARE(shot.pixel(424, 100), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(426, 100), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(200, 249), qRgb(255, 255, 255));
    QCOMPARE(shot.pixel(200, 248), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(200, 36), qRgb(128, 128, 128));
    // The window's frame sits at the centre of the screen.
    const QPoint centre = w.screen()->availableGeometry().center();
    if (WindowSystemPlacesAndFocuses())
        QTRY_VERIFY((w.frameGeometry().center() - centre).manhattanLength() <= 1);
    QVERIFY(!PopupOpens(w, Qt::RightButton));
}

void MainWindowTest::menuTree() {
    AppFixture app;
    frm_main& w = *app.window;
    QStringList top;
    for (QAction* a : w.menuBar()->actions()) top << a->text();
    QCOMPARE(top, (QStringList{"ファイル(&F)", "編集(&E)", "表示(&V)", "実行(&R)", "ツール(&T)",
                               "ヘルプ(&H)"}));
    QCOMPARE(Captions(Menu(w, "m_FILE")),
             (QStringList{"新しいプロセス(&N)", "他のプロセス(&O)", "-", "プロセスを保存(&S)",
                          "エクスポート(&E)...", "-", "終了(&X)"}));
    QCOMPARE(Captions(Menu(w, "m_EDIT")),
             (QStringList{"プロセスの編集(&S)", "-", "プロセスの順位(&Z)"}));
    QCOMPARE(Captions(Menu(w, "m_VIEW")),
             (QStringList{"背景色変更(&B)", "イメージのスタイル", "-", "イメージの調整(&E)"}));
    QCOMPARE(Captions(Menu(w, "m_STYLE")), (QStringList{"なし", "3D"}));
    QCOMPARE(Captions(Menu(w, "m_RUN")), QStringList{"プレビュー(&P)"});
    QCOMPARE(Captions(Menu(w, "m_TOOL")), QStringList{"オプション(&O)"});
    QCOMPARE(Captions(Menu(w, "m_HELP")), QStringList{"バージョン情報(&A)..."});
    QCOMPARE(Action(w, "m_NEW")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    QCOMPARE(Action(w, "m_OPEN")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    QCOMPARE(Action(w, "m_SAVE")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QCOMPARE(Action(w, "m_PREVIEW")->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(Action(w, "m_EXPORT")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
    QCOMPARE(w.findChildren<QAction*>("m_SET").size(), 3);
    QCOMPARE(w.findChildren<QAction*>("m_APPR").size(), 2);
    QVERIFY(Action(w, "m_APPR")->isCheckable());
}

void MainWindowTest::applyShowsTheProcess() {
    AppFixture app;
    frm_main& w = *app.window;
    ProcessRecord& p = CurrentProcess();
    p = SampleProcess();
    p.BackColor = 0x0000FF;  // red in the lowest byte
    p.ImageAppearance = 0;
    w.ApplyProcess(p);
    QCOMPARE(w.windowTitle(), QStringLiteral("Kadrelo - comic"));
    QVERIFY(ProcessMenusEnabled(w));
    QVERIFY(w.Img()->HasPicture());
    QCOMPARE(w.Img()->Appearance(), 0);
    QCOMPARE(w.Img()->toolTip(), QStringLiteral("フォームに合わせます"));
    QCOMPARE(w.ClientArea()->grab().toImage().pixel(3, 3), qRgb(255, 0, 0));
    const QString tips[] = {"フォームに合わせます", "固定", "元画像の大きさ", "", ""};
    const int16_t modes[] = {0, 1, 2, 3, -1};
    for (int i = 0; i < 5; ++i) {
        p.FitMode = modes[i];
        w.ApplyProcess(p);
        QCOMPARE(w.Img()->toolTip(), tips[i]);
    }
    // A first panel whose file is gone: no picture, the rest as usual.
    AssignFixed(p.PanelPath[0], app.dir->filePath("gone.bmp"));
    p.BackColor = 0xFF0000;
    w.ApplyProcess(p);
    QVERIFY(!w.Img()->HasPicture());
    QCOMPARE(w.ClientArea()->grab().toImage().pixel(3, 3), qRgb(0, 0, 255));
}

void MainWindowTest::applyKeepsLayoutAndTrimsName() {
    AppFixture app;
    frm_main& w = *app.window;
    const QRect before = w.Img()->geometry();
    ProcessRecord& p = CurrentProcess();
    p = SampleProcess(QStringLiteral("  spaced name  "));
    w.ApplyProcess(p);
    QCOMPARE(w.windowTitle(), QStringLiteral("Kadrelo - spaced name"));
    QCOMPARE(w.Img()->geometry(), before);
    AssignFixed(p.Name, QStringLiteral("    "));
    w.ApplyProcess(p);
    QCOMPARE(w.windowTitle(), QStringLiteral("Kadrelo - "));
    QVERIFY(ProcessMenusDisabled(w));
}

void MainWindowTest::fitModes() {
    AppFixture app;
    frm_main& w = *app.window;
    ProcessRecord& p = CurrentProcess();
    p = SampleProcess();
    w.ApplyProcess(p);
    w.resize(w.width() + 100, w.height() + 60);
    QTRY_COMPARE(w.ClientArea()->width(), 621);
    const QSizeF client = w.ClientArea()->size();
    QCOMPARE(w.Img()->LogicalGeometry().size(), client / 1.5);

    p.FitMode = 1;
    p.FixedWidth = 100;
    p.FixedHeight = 50;
    w.FitImage();
    const QRectF fixed = w.Img()->LogicalGeometry();
    QCOMPARE(fixed.size(), QSizeF(100, 50));
    QVERIFY(qAbs(fixed.x() - (621 - 100) / 2.2) < 1e-4);
    QVERIFY(qAbs(fixed.y() - (client.height() - 50) / 3) < 1e-4);

    // Own size: a picture larger than the client area is cut at the edges.
    QImage big(900, 700, QImage::Format_RGB32);
    big.fill(Qt::green);
    big.save(app.dir->filePath("big.png"));
    AssignFixed(p.PanelPath[0], app.dir->filePath("big.png"));
    w.ApplyProcess(p);
    p.FitMode = 2;
    w.FitImage();
    QCOMPARE(w.Img()->LogicalGeometry().size(), QSizeF(900, 700));
    QVERIFY(w.Img()->LogicalGeometry().y() < 0);
    QVERIFY(w.Img()->LogicalGeometry().x() < 0);
}

void MainWindowTest::fitModeOutOfRangeChangesNothing() {
    AppFixture app;
    frm_main& w = *app.window;
    CurrentProcess() = SampleProcess();
    CurrentProcess().FitMode = 7;
    const QRectF before = w.Img()->LogicalGeometry();
    const QSize client = w.ClientArea()->size();
    w.resize(w.width() + 80, w.height() + 80);
    QTRY_COMPARE(w.ClientArea()->size(), client + QSize(80, 80));
    w.FitImage();
    QCOMPARE(w.Img()->LogicalGeometry(), before);
}

void MainWindowTest::extremeFixedSizesShowOnlyTheVisiblePart_data() {
    QTest::addColumn<int>("fixedWidth");
    QTest::addColumn<int>("fixedHeight");
    QTest::addColumn<QPoint>("redAt");  // a client pixel that shows the picture's left half
    QTest::newRow("largest") << INT32_MAX << INT32_MAX << QPoint(260, 160);
    QTest::newRow("smallest") << INT32_MIN << INT32_MIN << QPoint();
    QTest::newRow("40000") << 40000 << 40000 << QPoint(260, 160);
    QTest::newRow("wide strip") << INT32_MAX << 5 << QPoint(260, 107);
    QTest::newRow("zero") << 0 << 0 << QPoint();
    QTest::newRow("negative width") << -1 << 300 << QPoint();
}

void MainWindowTest::extremeFixedSizesShowOnlyTheVisiblePart() {
    QFETCH(int, fixedWidth);
    QFETCH(int, fixedHeight);
    QFETCH(QPoint, redAt);
    AppFixture app;
    frm_main& w = *app.window;
    QImage halves(100, 60, QImage::Format_RGB32);
    halves.fill(Qt::blue);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 50; ++x) halves.setPixel(x, y, qRgb(255, 0, 0));
    const QString picture = app.dir->filePath("halves.png");
    QVERIFY(halves.save(picture));
    CurrentProcess() = SampleProcess();
    AssignFixed(CurrentProcess().PanelPath[0], picture);
    CurrentProcess().FitMode = 1;
    CurrentProcess().FixedWidth = fixedWidth;
    CurrentProcess().FixedHeight = fixedHeight;
    QElapsedTimer clock;
    clock.start();
    w.ApplyProcess(CurrentProcess());
    w.FitImage();
    const QImage shot = w.ClientArea()->grab().toImage();
    w.resize(w.width() + 30, w.height() + 20);
    w.ClientArea()->grab();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(w.ClientArea()->rect().contains(w.Img()->geometry()) || w.Img()->size().isEmpty());
    QCOMPARE(w.Img()->LogicalGeometry().size(), QSizeF(fixedWidth, fixedHeight));
    if (!redAt.isNull()) QCOMPARE(shot.pixel(redAt), qRgb(255, 0, 0));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    QVERIFY2(usage.ru_maxrss < 200 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
}

void MainWindowTest::viewMenuCheckMarks() {
    AppFixture app;
    frm_main& w = *app.window;
    const auto appr = w.findChildren<QAction*>("m_APPR");
    CurrentProcess() = SampleProcess();
    w.ApplyProcess(CurrentProcess());
    auto openView = [&] {
        emit w.ViewMenu()->aboutToShow();
        return QPair<bool, bool>(appr[0]->isChecked(), appr[1]->isChecked());
    };
    CurrentProcess().ImageAppearance = 0;
    QCOMPARE(openView(), (QPair<bool, bool>(true, false)));
    CurrentProcess().ImageAppearance = 1;
    QCOMPARE(openView(), (QPair<bool, bool>(false, true)));
    CurrentProcess().ImageAppearance = 9;  // from a damaged record: marks stay
    QCOMPARE(openView(), (QPair<bool, bool>(false, true)));
}

void MainWindowTest::imageStyleItems() {
    AppFixture app;
    frm_main& w = *app.window;
    CurrentProcess() = SampleProcess();
    w.ApplyProcess(CurrentProcess());
    const auto appr = w.findChildren<QAction*>("m_APPR");
    appr[0]->trigger();
    QCOMPARE(CurrentProcess().ImageAppearance, int16_t(0));
    QCOMPARE(w.Img()->Appearance(), 0);
    QVERIFY(appr[0]->isChecked() && !appr[1]->isChecked());
    appr[1]->trigger();
    QCOMPARE(CurrentProcess().ImageAppearance, int16_t(1));
    QVERIFY(!appr[0]->isChecked() && appr[1]->isChecked());
    QVERIFY(!QFile::exists(app.storePath()));
}

void MainWindowTest::popupOnlyForRightButtonOverNamedPicture() {
    AppFixture app;
    frm_main& w = *app.window;
    QVERIFY(!PopupOpens(w, Qt::RightButton));
    CurrentProcess() = SampleProcess();
    w.ApplyProcess(CurrentProcess());
    QVERIFY(!PopupOpens(w, Qt::LeftButton));
    QVERIFY(PopupOpens(w, Qt::RightButton));
}

void MainWindowTest::exitCloses() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    app.window->ApplyProcess(CurrentProcess());
    Action(*app.window, "m_END")->trigger();
    QVERIFY(!app.window->isVisible());
    QVERIFY(app.ui.questions.isEmpty());
    QVERIFY(!QFile::exists(app.storePath()));
}

QTEST_MAIN(MainWindowTest)
// A picture that takes long to decode does not hold the window up: it comes
// when decoded, and the picture is laid out then. Stretched, it is kept no
// larger than the copy stretching scales from; at its own size, whole (up to
// the kept size).
void MainWindowTest::largePictureArrivesWhileTheWindowDraws() {
    AppFixture app;
    frm_main& w = *app.window;
    w.show();
    ProcessRecord& p = CurrentProcess();
    p = SampleProcess();
    p.FitMode = 0;  // stretched to the window
    const QString huge = app.dir->filePath("huge.png");
    QVERIFY(WriteHugePng(huge, 12000, 12000));
    AssignFixed(p.PanelPath[0], huge);
    QElapsedTimer clock;
    clock.start();
    w.ApplyProcess(p);
    w.FitImage();
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!w.Img()->HasPicture());
    w.ClientArea()->grab();  // the window draws meanwhile
    QTRY_VERIFY_WITH_TIMEOUT(w.Img()->HasPicture(), 20000);
    QCOMPARE(w.Img()->NaturalSize(), QSize(12000, 12000));
    QCOMPARE(w.Img()->CurrentPicture().image.size(), QSize(2560, 2560));
    // At its own size: decoded again, and laid out when it comes.
    p.FitMode = 2;
    w.FitImage();
    const QRect before = w.Img()->geometry();
    QTRY_VERIFY_WITH_TIMEOUT(w.Img()->CurrentPicture().image.width() > 2560, 20000);
    QCOMPARE(w.Img()->CurrentPicture().image.size(), QSize(8192, 8192));  // the kept size
    const QRect arrived = w.Img()->geometry();
    w.FitImage();
    QCOMPARE(w.Img()->geometry(), arrived);
    QCOMPARE(arrived.size(), before.size());
    // A process opened meanwhile wins over a picture still coming.
    p.FitMode = 0;
    w.ApplyProcess(p);
    QVERIFY(!w.Img()->HasPicture());
    p = SampleProcess();
    w.ApplyProcess(p);
    QVERIFY(w.Img()->HasPicture());
    QTest::qWait(1500);
    QCOMPARE(w.Img()->NaturalSize(), QSize(320, 240));
}

#include "tst_mainwindow.moc"
