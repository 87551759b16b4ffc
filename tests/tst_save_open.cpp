// The Save command and the process list, through the real windows.
#include "app/SaveCommand.h"
#include "app/StoreLocation.h"
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "dialogs/ListBox.h"
#include "dialogs/frm_open.h"
#include "model/ProcessStore.h"
#include "tests/support/ScriptedUi.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the store directly, so that names differing only in case both stay.
void Store(AppFixture& app, const QStringList& names) {
    QByteArray bytes("PH   \0\0", 7);
    bytes[5] = char(names.size());
    for (int i = 0; i < names.size(); ++i) {
        ProcessRecord r = SampleProcess(names[i]);
        r.IntervalMs = i;
        QString problem;
        bytes += *EncodeRecord(r, &problem);
    }
    QFile f(app.storePath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

class SaveOpenTest : public QObject {
    Q_OBJECT
  private slots:
    void saveAsksWithPromptAndStores();
    void nameTooLongIsAskedAgain();
    void cancelWritesNothing();
    void blankNameIsStoredAndReadsEmpty();
    void decliningOverwriteShowsNoFailure();
    void foreignFileIsReportedAndKept();
    void unstorableNameIsReportedWithReason_data();
    void unstorableNameIsReportedWithReason();
    void linuxSpellingsStoreAsWindowsText();
    void listShowsNamesInFileOrder();
    void openByEnterReplacesWholeProcess();
    void keyboardAloneOpensALoneProcess();
    void firstArrowKeySelects_data();
    void firstArrowKeySelects();
    void storeLocation();
    void unreadableStoreIsReportedWhenTheListOpens();
    void openByDoubleClickAndCaseTwins();
    void deleteAsksRefillsAndKeepsCurrent();
    void missingOrForeignStoreButtons();
    void escapeClosesAndFitImageRuns();
};

void SaveOpenTest::saveAsksWithPromptAndStores() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("old"));
    app.ui.inputs << QStringLiteral("新しい名前");
    SaveCommand(*app.window);
    QCOMPARE(app.ui.prompts,
             (QStringList{"保存名を16文字以内で入力してください\r拡張子などはいりません\r"
                          "そのままで良ければ、OKボタンをクリックしてください",
                          "Kadrelo", "old"}));
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - 新しい名前"));
    QCOMPARE(ReadBytes(app.storePath()).size(), 1085);
    QString error;
    QCOMPARE(ProcessStore(app.storePath()).Read(&error)->NameAt(0), QStringLiteral("新しい名前"));
    QVERIFY(app.ui.errors.isEmpty());
}

void SaveOpenTest::nameTooLongIsAskedAgain() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("old"));
    app.ui.inputs << QStringLiteral("一二三四五六七八九") << QStringLiteral("一二三四五六七八");
    SaveCommand(*app.window);
    QCOMPARE(app.ui.prompts.size(), 6);
    QCOMPARE(app.ui.prompts[5], QStringLiteral("old"));  // the current name again
    QVERIFY(app.ui.errors.isEmpty());
    QCOMPARE(TrimFixed(CurrentProcess().Name), QStringLiteral("一二三四五六七八"));
    QCOMPARE(ReadBytes(app.storePath()).mid(7, 16),
             QByteArray::fromHex("88ea 93f1 8e4f 8e6c 8cdc 985a 8eb5 94aa"));
}

void SaveOpenTest::cancelWritesNothing() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("old"));
    const ProcessRecord before = CurrentProcess();
    SaveCommand(*app.window);  // no scripted input: Cancel
    QCOMPARE(CurrentProcess(), before);
    QVERIFY(!QFile::exists(app.storePath()));
}

void SaveOpenTest::blankNameIsStoredAndReadsEmpty() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("old"));
    app.ui.inputs << QStringLiteral("   ");
    SaveCommand(*app.window);
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - "));
    QVERIFY(!app.window->findChild<QAction*>("m_SAVE")->isEnabled());
    QCOMPARE(ReadBytes(app.storePath()).mid(7, 16), QByteArray(16, ' '));
}

void SaveOpenTest::decliningOverwriteShowsNoFailure() {
    AppFixture app;
    Store(app, {"Comic"});
    const QByteArray before = ReadBytes(app.storePath());
    CurrentProcess() = SampleProcess(QStringLiteral("other"));
    app.ui.inputs << QStringLiteral("COMIC");
    app.ui.answers << false;
    SaveCommand(*app.window);
    QCOMPARE(app.ui.questions, QStringList{"同じ名前の設定があります\r上書きしますか？"});
    QVERIFY(app.ui.errors.isEmpty());
    QCOMPARE(ReadBytes(app.storePath()), before);
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - COMIC"));
}

void SaveOpenTest::foreignFileIsReportedAndKept() {
    AppFixture app;
    QFile f(app.storePath());
    f.open(QIODevice::WriteOnly);
    f.write("not a store file at all");
    f.close();
    CurrentProcess() = SampleProcess(QStringLiteral("old"));
    app.window->ApplyProcess(CurrentProcess());
    app.ui.inputs << QStringLiteral("new");
    SaveCommand(*app.window);
    QCOMPARE(app.ui.errors.size(), 1);
    QVERIFY(app.ui.errors[0].startsWith(QStringLiteral("保存出来ませんでした\r")));
    QCOMPARE(ReadBytes(app.storePath()), QByteArray("not a store file at all"));
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - old"));
    QCOMPARE(TrimFixed(CurrentProcess().Name), QStringLiteral("new"));
}

void SaveOpenTest::unstorableNameIsReportedWithReason_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");  // the first character that cannot be stored
    QTest::newRow("accents") << QStringLiteral("Ünïcode") << QStringLiteral("Ü");
    QTest::newRow("korean") << QStringLiteral("名前한") << QStringLiteral("한");
    QTest::newRow("emoji") << QStringLiteral("😀") << QStringLiteral("😀");
    QTest::newRow("emoji at the end of the field")
        << QStringLiteral("abcdefghijklmn😀") << QStringLiteral("😀");
}

void SaveOpenTest::unstorableNameIsReportedWithReason() {
    QFETCH(QString, name);
    QFETCH(QString, shown);
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("old"));
    app.ui.inputs << name;
    SaveCommand(*app.window);
    QCOMPARE(app.ui.errors,
             QStringList{QStringLiteral(
                             "保存出来ませんでした\rプロセス名に保存できない文字「%1」があります")
                             .arg(shown)});
    QVERIFY(!QFile::exists(app.storePath()));
    // A path with a character outside the BMP is refused the same way.
    CurrentProcess() = SampleProcess(QStringLiteral("old"));
    AssignFixed(CurrentProcess().PanelPath[2], QStringLiteral("/p/😀.png"));
    app.ui.inputs << QStringLiteral("old");
    SaveCommand(*app.window);
    QCOMPARE(
        app.ui.errors.last(),
        QStringLiteral("保存出来ませんでした\r3コマ目のパスに保存できない文字「😀」があります"));
    QVERIFY(!QFile::exists(app.storePath()));
}

void SaveOpenTest::linuxSpellingsStoreAsWindowsText() {
    AppFixture app;
    CurrentProcess() = SampleProcess(QStringLiteral("old"));
    app.ui.inputs << QStringLiteral("A〜B−¢£¬‖");
    SaveCommand(*app.window);
    QVERIFY(app.ui.errors.isEmpty());
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - A～B－￠￡￢∥"));
    QFile store(app.storePath());
    QVERIFY(store.open(QIODevice::ReadOnly));
    QCOMPARE(store.readAll().mid(7, 16),
             QByteArray::fromHex("41 8160 42 817c 8191 8192 81ca 8161 2020"));
    // Typed again the Linux way, it is the same name: the store asks before overwriting.
    app.ui.inputs << QStringLiteral("a〜b−¢£¬‖");
    app.ui.answers << false;
    SaveCommand(*app.window);
    QCOMPARE(app.ui.questions, QStringList{"同じ名前の設定があります\r上書きしますか？"});
}

void SaveOpenTest::listShowsNamesInFileOrder() {
    AppFixture app;
    Store(app, {"zeta", "alpha", "  mid  "});
    frm_open list(*app.window);
    QCOMPARE(list.findChild<ListBox*>("List")->Rows(), (QStringList{"zeta", "alpha", "mid"}));
    QVERIFY(list.findChild<QPushButton*>("btnOPEN")->isEnabled());
    QVERIFY(list.findChild<QPushButton*>("btnOPEN")->isDefault());
}

void SaveOpenTest::openByEnterReplacesWholeProcess() {
    AppFixture app;
    ProcessRecord stored = SampleProcess(QStringLiteral("stored"));
    stored.BackColor = 0x00FF00;
    stored.RunStyle = 2;
    stored.FitMode = 1;
    stored.FixedWidth = 120;
    stored.FixedHeight = 90;
    ProcessStore(app.storePath()).SaveProcess(stored, [] { return true; });
    CurrentProcess() = SampleProcess(QStringLiteral("current"));
    WhenModal([](QWidget* dialog) {
        auto* list = dialog->findChild<ListBox*>("List");
        list->setCurrentRow(0);
        QTest::keyClick(list, Qt::Key_Return);
    });
    OpenCommand(*app.window);
    QCOMPARE(CurrentProcess(), stored);
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - stored"));
    // Laid out by the opened process's own fixed size once the list has closed.
    QCOMPARE(app.window->Img()->LogicalGeometry().size(), QSizeF(120, 90));
}

void SaveOpenTest::keyboardAloneOpensALoneProcess() {
    if (!WindowSystemPlacesAndFocuses()) QSKIP("no keyboard focus without a keyboard");
    AppFixture app;
    Store(app, {"lone"});
    // Ctrl+O, Down, Enter: the first arrow key selects the row it lands on.
    QStringList seen;
    WhenModal([&](QWidget* dialog) {
        auto* list = dialog->findChild<ListBox*>("List");
        QVERIFY(list->hasFocus());
        QVERIFY(list->NothingSelected());
        QVERIFY(!list->currentIndex().isValid());  // no row looks current before a choice
        QTest::keyClick(list, Qt::Key_Down);
        seen = list->Rows().filter(QStringLiteral("lone"));
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(list->SelectedText().has_value());
        QTest::keyClick(list, Qt::Key_Return);
    });
    QTest::keyClick(app.window.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(seen, QStringList{"lone"});
    QCOMPARE(app.window->windowTitle(), QStringLiteral("Kadrelo - lone"));
}

void SaveOpenTest::firstArrowKeySelects_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("row");
    QTest::newRow("Down") << int(Qt::Key_Down) << 0;
    QTest::newRow("Up") << int(Qt::Key_Up) << 0;
    QTest::newRow("Home") << int(Qt::Key_Home) << 0;
    QTest::newRow("End") << int(Qt::Key_End) << 2;
}

void SaveOpenTest::firstArrowKeySelects() {
    QFETCH(int, key);
    QFETCH(int, row);
    AppFixture app;
    Store(app, {"a", "b", "c"});
    frm_open list(*app.window);
    list.show();
    auto* box = list.findChild<ListBox*>("List");
    QTest::keyClick(box, Qt::Key(key));
    QCOMPARE(box->currentRow(), row);
    QVERIFY(box->SelectedText().has_value());
    QTest::keyClick(box, Qt::Key_Down);  // from then on, arrows move as usual
    QCOMPARE(box->currentRow(), std::min(row + 1, 2));
    QTest::keyClick(box, Qt::Key_F2);  // names are picked here, never edited
    QVERIFY(box->findChildren<QLineEdit*>().isEmpty());
}

void SaveOpenTest::storeLocation() {
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
    const QString xdg = dir.filePath("data/kadrelo/Process.dat");
    // A portable copy or a build folder: beside the executable.
    const QString portable = dir.filePath("portable");
    QDir().mkpath(portable);
    QCOMPARE(StoreLocation(portable), portable + "/Process.dat");
    // A folder that no one may write to, even the superuser that runs the tests.
    QFile::setPermissions(portable, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QCOMPARE(StoreLocation(portable), xdg);
    QFile::setPermissions(portable,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // An installed program, writable or not.
    const QString bin = dir.filePath("prefix/bin");
    QDir().mkpath(bin);
    QDir().mkpath(dir.filePath("prefix/share/applications"));
    QCOMPARE(StoreLocation(bin), bin + "/Process.dat");
    QFile entry(dir.filePath("prefix/share/applications/org.example.kadrelo.desktop"));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.close();
    QCOMPARE(StoreLocation(bin), xdg);
    // The first save there creates the folder.
    ProcessRecord r;
    AssignFixed(r.Name, QStringLiteral("first"));
    QVERIFY(ProcessStore(xdg).SaveProcess(r, [] { return true; }).ok);
    QVERIFY(QFileInfo(xdg).isFile());
    // A store already beside the program is the store, also in a folder no one may write to.
    QVERIFY(QFile::copy(xdg, portable + "/Process.dat"));
    QFile::setPermissions(portable, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QCOMPARE(StoreLocation(portable), portable + "/Process.dat");
    QFile::setPermissions(portable,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // A relative XDG_DATA_HOME is ignored; without HOME the home folder comes from
    // the password database.
    qputenv("XDG_DATA_HOME", "relative/data");
    QCOMPARE(StoreLocation(bin), QDir::homePath() + "/.local/share/kadrelo/Process.dat");
    const QByteArray home = qgetenv("HOME");
    qunsetenv("HOME");
    const QString fromPasswd = QFile::decodeName(::getpwuid(::getuid())->pw_dir);
    QCOMPARE(StoreLocation(bin), fromPasswd + "/.local/share/kadrelo/Process.dat");
    qputenv("HOME", home);
    qunsetenv("XDG_DATA_HOME");
}

// A store that cannot be read says so when the list opens, instead of an
// empty list that looks like a store without processes.
void SaveOpenTest::unreadableStoreIsReportedWhenTheListOpens() {
    AppFixture app;
    QCOMPARE(::mkfifo(app.storePath().toLocal8Bit().constData(), 0644), 0);
    bool buttonsOff = false;
    WhenModal([&](QWidget* dialog) {
        buttonsOff = !dialog->findChild<QPushButton*>("btnOPEN")->isEnabled() &&
                     !dialog->findChild<QPushButton*>("btnDEL")->isEnabled();
        dialog->close();
    });
    OpenCommand(*app.window);
    QCOMPARE(app.ui.errors,
             QStringList{"プロセスの一覧を読めません\rProcess.dat が通常のファイルではありません"});
    QVERIFY(buttonsOff);
}

void SaveOpenTest::openByDoubleClickAndCaseTwins() {
    AppFixture app;
    Store(app, {"Twin", "x", "TWIN"});
    WhenModal([](QWidget* dialog) {
        auto* list = dialog->findChild<ListBox*>("List");
        list->doItemsLayout();
        const QRect item = list->RowRect(2);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, item.center());
        QTimer::singleShot(500, dialog, [dialog] { dialog->close(); });  // when it did not open
    });
    OpenCommand(*app.window);
    QCOMPARE(TrimFixed(CurrentProcess().Name), QStringLiteral("Twin"));  // the first in file order
    QCOMPARE(CurrentProcess().IntervalMs, 0);
}

void SaveOpenTest::deleteAsksRefillsAndKeepsCurrent() {
    AppFixture app;
    Store(app, {"a", "b", "A"});
    CurrentProcess() = SampleProcess(QStringLiteral("a"));
    const ProcessRecord current = CurrentProcess();
    frm_open dialog(*app.window);
    auto* list = dialog.findChild<ListBox*>("List");
    auto* del = dialog.findChild<QPushButton*>("btnDEL");
    del->click();  // nothing selected: no question
    QVERIFY(app.ui.questions.isEmpty());
    list->setCurrentRow(1);
    del->click();  // answered No
    QCOMPARE(app.ui.questions, QStringList{"b\r削除しますか？"});
    QCOMPARE(list->count(), 3);
    list->setCurrentRow(2);
    app.ui.answers << true;
    del->click();
    QCOMPARE(list->Rows(), QStringList{"b"});  // both spellings of "a" went
    QVERIFY(list->NothingSelected());
    QCOMPARE(CurrentProcess(), current);

    list->setCurrentRow(0);
    app.ui.answers << true;
    del->click();
    QVERIFY(list->Rows().isEmpty());
    QVERIFY(del->isEnabled());
    QCOMPARE(ReadBytes(app.storePath()).size(), 7);

    QFile::remove(app.storePath());
    dialog.findChild<ListBox*>("List")->SetRows(TextRows({"ghost"}));
    list->setCurrentRow(0);
    app.ui.answers << true;
    del->click();
    QCOMPARE(app.ui.errors.size(), 1);
    QVERIFY(app.ui.errors[0].startsWith(QStringLiteral("削除出来ませんでした\r")));
    QCOMPARE(list->Rows(), QStringList{"ghost"});
}

void SaveOpenTest::missingOrForeignStoreButtons() {
    AppFixture app;
    {
        frm_open dialog(*app.window);
        QVERIFY(!dialog.findChild<QPushButton*>("btnOPEN")->isEnabled());
        QVERIFY(!dialog.findChild<QPushButton*>("btnDEL")->isEnabled());
    }
    QFile f(app.storePath());
    f.open(QIODevice::WriteOnly);
    f.write("XX\0\0\0\1\0", 7);
    f.close();
    frm_open dialog(*app.window);
    QCOMPARE(dialog.findChild<ListBox*>("List")->count(), 0);
    QVERIFY(dialog.findChild<QPushButton*>("btnOPEN")->isEnabled());
    QVERIFY(dialog.findChild<QPushButton*>("btnDEL")->isEnabled());
}

void SaveOpenTest::escapeClosesAndFitImageRuns() {
    AppFixture app;
    Store(app, {"one"});
    CurrentProcess() = SampleProcess(QStringLiteral("cur"));
    CurrentProcess().FitMode = 1;
    CurrentProcess().FixedWidth = 60;
    CurrentProcess().FixedHeight = 30;
    const ProcessRecord before = CurrentProcess();
    QString title;
    WhenModal([&](QWidget* dialog) {
        title = dialog->windowTitle();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    OpenCommand(*app.window);
    QCOMPARE(title, QStringLiteral("他のプロセス"));
    QCOMPARE(CurrentProcess(), before);
    QCOMPARE(app.window->Img()->LogicalGeometry().size(), QSizeF(60, 30));
}

QTEST_MAIN(SaveOpenTest)
#include "tst_save_open.moc"
