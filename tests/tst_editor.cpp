// New, Edit process, the process editor and the order dialog.
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "dialogs/ListBox.h"
#include "dialogs/frm_process.h"
#include "dialogs/frm_prono.h"
#include "tests/support/ScriptedUi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

QList<QLineEdit*> Boxes(QWidget* editor) {
    return editor->findChildren<QLineEdit*>("Text1");
}
QList<ImageControl*> Previews(QWidget* editor) {
    return editor->findChildren<ImageControl*>("Image1");
}

void TypePaths(QWidget* editor, const QStringList& paths) {
    const auto boxes = Boxes(editor);
    for (int i = 0; i < 4; ++i) boxes[i]->setText(paths[i]);
}

QStringList StoredPaths() {
    QStringList paths;
    for (const auto& p : CurrentProcess().PanelPath) paths << TrimFixed(p);
    return paths;
}

}  // namespace

class EditorTest : public QObject {
    Q_OBJECT
  private slots:
    void newWithoutProcessOpensAtOnce();
    void newWithProcessAnsweredNoChangesNothing();
    void newYesThenCancelLeavesEmptyProcess();
    void newModeOkStoresPathsAndName();
    void editModeShowsStoredPathsAndKeepsName();
    void blankNameMeansNewMode();
    void invalidPanelAnsweredYesStopsAtOnce();
    void invalidPanelAnsweredNoSkipsIt();
    void directoryHiddenAndEmptyFailTheTest();
    void browseSetsBoxAndPreview();
    void dropSetsBoxAndPreview();
    void pathBoxRefusesEveryOtherDrop();
    void pathsThatCannotBeStoredWholeFailTheTest();
    void keysAndLayout();
    void orderMovesPanelsDown();
    void orderButtonsAndCloseBox();
    void orderEscapeDoesNothing();
};

void EditorTest::newWithoutProcessOpensAtOnce() {
    AppFixture app;
    QString title;
    int emptyBoxes = 0;
    WhenModal([&](QWidget* editor) {
        title = editor->windowTitle();
        for (QLineEdit* box : Boxes(editor)) emptyBoxes += box->text().isEmpty();
        editor->close();
    });
    NewProcessCommand(*app.window);
    QVERIFY(app.ui.questions.isEmpty());
    QCOMPARE(title, QStringLiteral("新しいプロセス"));
    QCOMPARE(emptyBoxes, 4);
}

void EditorTest::newWithProcessAnsweredNoChangesNothing() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().BackColor = 0xFF;
    app.window->ApplyProcess(CurrentProcess());
    const ProcessRecord before = CurrentProcess();
    NewProcessCommand(*app.window);  // the question is answered No
    QCOMPARE(app.ui.questions, QStringList{"現在のプロセスを破棄しますか？"});
    QCOMPARE(CurrentProcess(), before);
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - comic"));
}

void EditorTest::newYesThenCancelLeavesEmptyProcess() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    CurrentProcess().BackColor = 0xFF;
    CurrentProcess().ImageAppearance = 1;
    app.window->ApplyProcess(CurrentProcess());
    app.ui.answers << true;
    WhenModal([](QWidget* editor) { QTest::keyClick(editor, Qt::Key_Escape); });
    NewProcessCommand(*app.window);
    QCOMPARE(CurrentProcess(), ProcessRecord{});
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - "));
    QVERIFY(!app.window->Img()->HasPicture());
    QCOMPARE(app.window->Img()->Appearance(), 0);
    QCOMPARE(app.window->ClientArea()->grab().toImage().pixel(2, 2), qRgb(0, 0, 0));
    QVERIFY(!app.window->findChild<QAction*>("m_SAVE")->isEnabled());
}

void EditorTest::newModeOkStoresPathsAndName() {
    AppFixture app;
    const ProcessRecord sample = SampleProcess();
    QStringList paths;
    for (const auto& p : sample.PanelPath) paths << TrimFixed(p);
    WhenModal([&](QWidget* editor) {
        QCOMPARE(editor->windowIcon().cacheKey() != 0, true);
        TypePaths(editor, paths);
        QTest::keyClick(Boxes(editor)[0], Qt::Key_Return);
    });
    NewProcessCommand(*app.window);
    QCOMPARE(StoredPaths(), paths);
    QCOMPARE(RawText(CurrentProcess().Name), QStringLiteral("新しいプロセス") + QString(9, u' '));
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - 新しいプロセス"));
    QVERIFY(app.window->Img()->HasPicture());
    QVERIFY(app.ui.questions.isEmpty());
}

void EditorTest::editModeShowsStoredPathsAndKeepsName() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("X"));
    AssignFixed(CurrentProcess().PanelPath[3], app.dir->filePath("deleted.png"));
    frm_process editor(*app.window, QStringLiteral("プロセスの編集"));
    const auto boxes = Boxes(&editor);
    QCOMPARE(boxes[3]->text(), app.dir->filePath("deleted.png"));  // no trailing spaces
    const auto previews = Previews(&editor);
    for (int i = 0; i < 3; ++i) QVERIFY(previews[i]->HasPicture());
    QVERIFY(!previews[3]->HasPicture());
    QCOMPARE(previews[0]->toolTip(), QStringLiteral("プレビュー"));
    // A file that is there but cannot be shown leaves the preview empty, and its tooltip says why.
    QFile broken(app.dir->filePath("broken.png"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
    broken.close();
    boxes[2]->setText(broken.fileName());
    editor.findChild<QPushButton*>("btnPREV")->click();
    QVERIFY(!previews[2]->HasPicture());
    QCOMPARE(previews[2]->toolTip(),
             QStringLiteral("プレビュー\n画像が壊れています（16 バイト目）"));
    QCOMPARE(previews[0]->toolTip(), QStringLiteral("プレビュー"));
    boxes[3]->setText(app.samplePath("panel1.bmp"));
    editor.findChild<QPushButton*>("btnOK")->click();
    QCOMPARE(TrimFixed(CurrentProcess().Name), QStringLiteral("X"));
    QVERIFY(app.ui.questions.isEmpty());
}

void EditorTest::blankNameMeansNewMode() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("    "));
    frm_process editor(*app.window, QStringLiteral("プロセスの編集"));
    for (QLineEdit* box : Boxes(&editor)) QVERIFY(box->text().isEmpty());
    TypePaths(&editor, StoredPaths());
    editor.findChild<QPushButton*>("btnOK")->click();
    QCOMPARE(TrimFixed(CurrentProcess().Name), QStringLiteral("新しいプロセス"));
}

void EditorTest::invalidPanelAnsweredYesStopsAtOnce() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("keep"));
    const QStringList old = StoredPaths();
    app.window->ApplyProcess(CurrentProcess());
    frm_process editor(*app.window, QStringLiteral("プロセスの編集"));
    editor.show();
    QStringList typed = {old[1], old[0], app.dir->filePath("nothing.bmp"), old[2]};
    TypePaths(&editor, typed);
    app.ui.answers << true;
    AssignFixed(CurrentProcess().Name, QStringLiteral("renamed"));
    editor.findChild<QPushButton*>("btnOK")->click();
    QCOMPARE(app.ui.questions, QStringList{"不正なパスがあります\r3コマ目\rやり直しますか？"});
    QCOMPARE(StoredPaths(), (QStringList{old[1], old[0], old[2], old[3]}));
    QCOMPARE(TrimFixed(CurrentProcess().Name), QStringLiteral("renamed"));
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - keep"));  // not re-applied
    QVERIFY(editor.isVisible());
    editor.findChild<QPushButton*>("btnCAN")->click();
    QVERIFY(!editor.isVisible());
    QCOMPARE(StoredPaths(), (QStringList{old[1], old[0], old[2], old[3]}));
}

void EditorTest::invalidPanelAnsweredNoSkipsIt() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("keep"));
    const QStringList old = StoredPaths();
    frm_process editor(*app.window, QStringLiteral("プロセスの編集"));
    editor.show();
    TypePaths(&editor, {old[3], "", old[1], app.dir->path()});
    app.ui.answers << false << false;
    editor.findChild<QPushButton*>("btnOK")->click();
    QCOMPARE(app.ui.questions, (QStringList{"不正なパスがあります\r2コマ目\rやり直しますか？",
                                            "不正なパスがあります\r4コマ目\rやり直しますか？"}));
    QCOMPARE(StoredPaths(), (QStringList{old[3], old[1], old[1], old[3]}));
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - keep"));
    QVERIFY(!editor.isVisible());
}

void EditorTest::directoryHiddenAndEmptyFailTheTest() {
    AppFixture app;
    const QString hidden = app.dir->filePath(".hidden.png");
    QFile::copy(app.samplePath("panel4.png"), hidden);
    frm_process editor(*app.window, QStringLiteral("新しいプロセス"));
    TypePaths(&editor, {app.dir->path(), hidden, "", "/dev/null"});
    editor.findChild<QPushButton*>("btnPREV")->click();
    for (ImageControl* preview : Previews(&editor)) QVERIFY(!preview->HasPicture());
    editor.findChild<QPushButton*>("btnOK")->click();
    QCOMPARE(app.ui.questions.size(), 4);
}

void EditorTest::browseSetsBoxAndPreview() {
    AppFixture app;
    frm_process editor(*app.window, QStringLiteral("新しいプロセス"));
    const auto buttons = editor.findChildren<QPushButton*>("btn");
    app.ui.files << app.samplePath("panel2.jpg");
    buttons[1]->click();
    QCOMPARE(app.ui.fileFilters, QStringList{"全ての画像ファイル:bmp;jpeg;jpg;ico;emf"});
    QCOMPARE(Boxes(&editor)[1]->text(), app.samplePath("panel2.jpg"));
    QVERIFY(Previews(&editor)[1]->HasPicture());
    buttons[1]->click();  // cancelled: nothing changes
    QCOMPARE(Boxes(&editor)[1]->text(), app.samplePath("panel2.jpg"));
    // A file that is no picture: the box takes the path, the preview keeps its picture.
    const QString text = app.dir->filePath("notes.bmp");
    QFile f(text);
    f.open(QIODevice::WriteOnly);
    f.write("hello");
    f.close();
    app.ui.files << text;
    buttons[1]->click();
    QCOMPARE(Boxes(&editor)[1]->text(), text);
    QVERIFY(Previews(&editor)[1]->HasPicture());
}

void EditorTest::dropSetsBoxAndPreview() {
    AppFixture app;
    frm_process editor(*app.window, QStringLiteral("新しいプロセス"));
    editor.show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(app.samplePath("panel1.bmp"))});
    ImageControl* preview = Previews(&editor)[2];
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(preview, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(preview, &drop);
    QCOMPARE(Boxes(&editor)[2]->text(), app.samplePath("panel1.bmp"));
    QVERIFY(preview->HasPicture());
    QCOMPARE(CurrentProcess(), ProcessRecord{});  // nothing else changes

    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(app.dir->path())});
    QDropEvent refused(QPointF(5, 5), Qt::CopyAction, &folder, Qt::LeftButton, {});
    QCoreApplication::sendEvent(Boxes(&editor)[0], &refused);
    QVERIFY(Boxes(&editor)[0]->text().isEmpty());
}

void EditorTest::pathBoxRefusesEveryOtherDrop() {
    AppFixture app;
    frm_process editor(*app.window, QStringLiteral("新しいプロセス"));
    editor.show();
    QLineEdit* box = Boxes(&editor)[1];
    box->setText(QStringLiteral("/kept"));
    auto withText = [](const QList<QUrl>& urls, const QString& text) {
        auto* mime = new QMimeData;
        if (!urls.isEmpty()) mime->setUrls(urls);
        mime->setText(text);
        return mime;
    };
    const QUrl sample = QUrl::fromLocalFile(app.samplePath("panel1.bmp"));
    const QList<QMimeData*> drops = {
        withText({}, QStringLiteral("plain text")),
        withText({QUrl::fromLocalFile(app.dir->path())}, app.dir->path()),
        withText({QUrl("https://example.org/a.png")}, QStringLiteral("https://example.org/a.png")),
        withText({sample, QUrl::fromLocalFile(app.samplePath("panel2.jpg"))}, "two\nfiles"),
        withText({}, app.samplePath("panel1.bmp") + "\n")};
    for (QMimeData* mime : drops) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(box, &enter);
        QVERIFY2(!enter.isAccepted(), qPrintable(mime->text()));
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(box, &drop);
        QCOMPARE(box->text(), QStringLiteral("/kept"));
        delete mime;
    }
    QMimeData one;
    one.setUrls({sample});
    one.setText(sample.toString());
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &one, Qt::LeftButton, {});
    QCoreApplication::sendEvent(box, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &one, Qt::LeftButton, {});
    QCoreApplication::sendEvent(box, &drop);
    QCOMPARE(box->text(), app.samplePath("panel1.bmp"));
}

void EditorTest::pathsThatCannotBeStoredWholeFailTheTest() {
    AppFixture app;
    // A file whose full path has 281 characters, one of 259, and one of 200
    // characters that takes more than 260 bytes in code page 932.
    auto fileWithPath = [&](const QStringList& folders, int length) {
        QString path = app.dir->path();
        for (const QString& f : folders) path += u'/' + f;
        QDir().mkpath(path);
        path += u'/';
        path += QString(length - path.size() - 4, u'p') + ".png";
        QFile::copy(app.samplePath("panel4.png"), path);
        return path;
    };
    const QString tooLong = fileWithPath({QString(100, u'a'), QString(100, u'b')}, 281);
    const QString longest = fileWithPath({QString(100, u'c'), QString(100, u'd')}, 259);
    const QString wide = fileWithPath({QString(60, u'漢'), QString(60, u'字')}, 200);
    QCOMPARE(tooLong.size(), 281);
    QVERIFY(QFileInfo(tooLong).isFile() && QFileInfo(longest).isFile() && QFileInfo(wide).isFile());
    CurrentProcess() = SampleProcess(QStringLiteral("keep"));
    const QStringList old = StoredPaths();
    frm_process editor(*app.window, QStringLiteral("プロセスの編集"));
    editor.show();
    app.ui.files << tooLong;
    editor.findChildren<QPushButton*>("btn")[0]->click();  // chosen
    QCOMPARE(Boxes(&editor)[0]->text(), tooLong);
    Boxes(&editor)[1]->setText(wide);  // typed
    Boxes(&editor)[2]->setText(longest);
    app.ui.answers << false << false;
    editor.findChild<QPushButton*>("btnOK")->click();
    QCOMPARE(app.ui.questions, (QStringList{"不正なパスがあります\r1コマ目\rやり直しますか？",
                                            "不正なパスがあります\r2コマ目\rやり直しますか？"}));
    QCOMPARE(StoredPaths(), (QStringList{old[0], old[1], longest, old[3]}));
}

void EditorTest::keysAndLayout() {
    AppFixture app;
    frm_process editor(*app.window, QStringLiteral("新しいプロセス"));
    QCOMPARE(editor.size(), QSize(422, 270));
    const auto frames = editor.findChildren<QGroupBox*>("Frame1");
    QCOMPARE(frames[3]->title(), QStringLiteral("４コマ目"));
    QCOMPARE(frames[3]->geometry(), QRect(8, 176, 345, 41));
    QCOMPARE(Previews(&editor)[0]->size(), QSize(53, 53));
    QVERIFY(editor.findChild<QPushButton*>("btnOK")->isDefault());
    QCOMPARE(editor.findChild<QPushButton*>("btnPREV")->text(), QStringLiteral("更新"));
    editor.show();
    QTest::keyClick(&editor, Qt::Key_Escape);
    QVERIFY(!editor.isVisible());
    QCOMPARE(CurrentProcess(), ProcessRecord{});
}

void EditorTest::orderMovesPanelsDown() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    const QStringList old = StoredPaths();
    frm_prono order(*app.window);
    auto* list = order.findChild<ListBox*>("List");
    QCOMPARE(list->Rows(), old);
    QVERIFY(list->NothingSelected());
    const auto buttons = order.findChildren<QPushButton*>("btnUpDown");
    list->setCurrentRow(0);
    for (int i = 0; i < 3; ++i) buttons[1]->click();
    QCOMPARE(StoredPaths(), (QStringList{old[1], old[2], old[3], old[0]}));
    QCOMPARE(list->Rows(), StoredPaths());
    QCOMPARE(list->currentRow(), 3);
    buttons[1]->click();  // already last: nothing moves, selection stays
    QCOMPARE(list->currentRow(), 3);
    QCOMPARE(StoredPaths(), (QStringList{old[1], old[2], old[3], old[0]}));
}

void EditorTest::orderButtonsAndCloseBox() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    AssignFixed(CurrentProcess().PanelPath[1], QString());
    app.window->ApplyProcess(CurrentProcess());
    const QImage before = app.window->Img()->grab().toImage();
    const QStringList old = StoredPaths();
    {
        frm_prono order(*app.window);
        order.show();
        auto* list = order.findChild<ListBox*>("List");
        const auto buttons = order.findChildren<QPushButton*>("btnUpDown");
        buttons[0]->click();  // nothing selected
        QCOMPARE(StoredPaths(), old);
        list->setCurrentRow(1);
        buttons[0]->click();  // the empty panel moves to the top
        QCOMPARE(StoredPaths(), (QStringList{"", old[0], old[2], old[3]}));
        order.close();  // the close box keeps the moves but does not re-apply
    }
    QVERIFY(app.window->Img()->HasPicture());
    QCOMPARE(app.window->Img()->grab().toImage(), before);
    {
        frm_prono order(*app.window);
        order.show();
        order.findChild<QPushButton*>("btnOK")->click();
    }
    QVERIFY(!app.window->Img()->HasPicture());
}

void EditorTest::orderEscapeDoesNothing() {
    AppFixture app;
    frm_prono order(*app.window);
    QCOMPARE(order.findChild<ListBox*>("List")->count(), 0);  // no process, no list
    order.show();
    QTest::keyClick(&order, Qt::Key_Escape);
    QVERIFY(order.isVisible());
    QTest::keyClick(&order, Qt::Key_Return);
    QVERIFY(!order.isVisible());
}

QTEST_MAIN(EditorTest)
#include "tst_editor.moc"
