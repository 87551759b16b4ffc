// Export: frames against the player's own drawing, the files' sizes, rows and
// frame times as their readers see them, what a failure or a cancel leaves
// behind, the dialog and the command-line tool.
#include "app/frm_main.h"
#include "export/Export.h"
#include "export/frm_export.h"
#include "platform/FileOps.h"
#include "player/frm_prev.h"
#include "tests/support/ScriptedUi.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <webp/demux.h>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cerrno>

namespace {

QImage Load(const QString& path) {
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// What the player put on the screen for each panel of the current process;
// or what it draws, in its screen's pixels (a scaled offscreen screen keeps
// only a copy at its own scale).
QList<QImage> PlayersFrames(frm_main& window, QSize* client, bool drawn = false) {
    QList<QImage> frames;
    PanelWatch watch([&](frm_prev& player, int) {
        *client = player.size();
        const QPixmap shot = drawn ? player.grab() : player.screen()->grabWindow(player.winId());
        frames << shot.toImage().convertToFormat(QImage::Format_RGB32);
    });
    PreviewCommand(window);
    return frames;
}

QList<QImage> ExportedFrames(const QString& folder, QSize size) {
    ExportOptions options;
    options.format = ExportFormat::Frames;
    options.size = size;
    const QString out = QDir(folder).filePath(QStringLiteral("frame.png"));
    const ExportOutcome outcome = ExportProcess(CurrentProcess(), out, options);
    if (outcome.status != ExportOutcome::Done) qWarning() << outcome.reason;
    QList<QImage> frames;
    for (int i = 0; i < 4; ++i) frames << Load(FramePath(out, i));
    return frames;
}

struct WebpFrames {
    QList<QImage> canvases;
    QList<int> durations;
    int loops = -1;
};

// The animation as libwebp's own decoder plays it.
WebpFrames ReadWebp(const QString& path) {
    QFile file(path);
    WebpFrames read;
    if (!file.open(QIODevice::ReadOnly)) return read;
    const QByteArray bytes = file.readAll();
    const WebPData data{reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_BGRA;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    if (!decoder) return read;
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(decoder, &info);
    read.loops = int(info.loop_count);
    int before = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder, &pixels, &timestamp)) break;
        read.canvases << QImage(pixels, int(info.canvas_width), int(info.canvas_height),
                                QImage::Format_ARGB32)
                             .convertToFormat(QImage::Format_RGB32);
        read.durations << timestamp - before;
        before = timestamp;
    }
    WebPAnimDecoderDelete(decoder);
    return read;
}

// The GIF's frame delays in milliseconds and its loop count, as giflib reads them.
QList<int> GifDelays(const QString& path, int* loops) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(QFile::encodeName(path).constData(), &error);
    QList<int> delays;
    if (!gif || DGifSlurp(gif) != GIF_OK) return delays;
    for (int i = 0; i < gif->ImageCount; ++i) {
        GraphicsControlBlock control;
        DGifSavedExtensionToGCB(gif, i, &control);
        delays << control.DelayTime * 10;
        for (int e = 0; e + 1 < gif->SavedImages[i].ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = gif->SavedImages[i].ExtensionBlocks[e];
            if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
                QByteArray(reinterpret_cast<const char*>(block.Bytes), 11) == "NETSCAPE2.0") {
                const ExtensionBlock& sub = gif->SavedImages[i].ExtensionBlocks[e + 1];
                *loops = sub.Bytes[1] | (sub.Bytes[2] << 8);
            }
        }
    }
    DGifCloseFile(gif, &error);
    return delays;
}

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// File-system calls that fail in a chosen way: creating a file, or every
// write past the first 100 bytes (a disk that fills up).
class FailingFiles : public FileOps {
  public:
    int openError = 0;
    int writeError = 0;
    int Open(const char* path, int flags, mode_t mode) override {
        if (openError && (flags & O_CREAT)) return errno = openError, -1;
        return FileOps::Open(path, flags, mode);
    }
    ssize_t PWrite(int fd, const void* buffer, size_t size, off_t offset) override {
        if (writeError && offset + off_t(size) > 100) return errno = writeError, -1;
        return FileOps::PWrite(fd, buffer, size, offset);
    }
};

}  // namespace

class ExportTest : public QObject {
    Q_OBJECT
  private slots:
    void framesAreWhatThePlayerShows_data();
    void framesAreWhatThePlayerShows();
    void screenSizedFramesAreAsSharpAsThePlayer();
    void stripHoldsTheFourFramesTopToBottom();
    void animationsKeepTheIntervalAndLoop_data();
    void animationsKeepTheIntervalAndLoop();
    void repeatedPanelsKeepTheirOwnFrames();
    void failureOrCancelLeavesNothing_data();
    void failureOrCancelLeavesNothing();
    void dialogWritesTheChosenFormat();
    void dialogAsksBeforeReplacingAndSaysWhy();
    void toolExitsAndMessages();
    void toolStopsAtAFileSizeLimit();
};

// Every run style, fit mode and border look: each frame equals the player's
// screen at the same client size, pixel for pixel.
void ExportTest::framesAreWhatThePlayerShows_data() {
    QTest::addColumn<int>("runStyle");
    QTest::addColumn<int>("fitMode");
    QTest::addColumn<int>("look");
    for (int run : {0, 2})
        for (int fit : {0, 1, 2})
            for (int look : {0, 1})
                QTest::addRow("run %d, fit %d, look %d", run, fit, look) << run << fit << look;
    QTest::newRow("full screen, flat") << 1 << 0 << 0;
    QTest::newRow("full screen, 3D") << 1 << 2 << 1;
    QTest::newRow("unknown fit mode") << 0 << 7 << 1;
}

void ExportTest::framesAreWhatThePlayerShows() {
    QFETCH(int, runStyle);
    QFETCH(int, fitMode);
    QFETCH(int, look);
    AppFixture app;
    if (app.window->screen()->grabWindow(app.window->winId()).isNull())
        QSKIP("this window system does not show its screen to programs");
    // A picture wider than the window, after a smaller one, and a missing panel.
    QImage wide(app.window->screen()->size().width() + 40, 90, QImage::Format_RGB32);
    wide.fill(QColor(20, 120, 220));
    QVERIFY(wide.save(app.dir->filePath("wide.png")));
    CurrentProcess() = SampleProcess();
    ProcessRecord& p = CurrentProcess();
    AssignFixed(p.PanelPath[1], app.dir->filePath("wide.png"));
    AssignFixed(p.PanelPath[2], app.dir->filePath("gone.png"));
    p.RunStyle = int16_t(runStyle);
    p.FitMode = int16_t(fitMode);
    p.ImageAppearance = int16_t(look);
    p.FixedWidth = 300;
    p.FixedHeight = 200;
    p.BackColor = 0x336699;
    p.IntervalMs = 50;
    QSize client;
    const QList<QImage> shown = PlayersFrames(*app.window, &client);
    QCOMPARE(shown.size(), 4);
    const QList<QImage> exported = ExportedFrames(app.dir->path(), client);
    for (int i = 0; i < 4; ++i)
        QVERIFY2(exported[i] == shown[i], qPrintable(QStringLiteral("panel %1").arg(i + 1)));
}

// The dialog's screen size is the screen in its own pixels; frames of it are
// the player's drawing pixel for pixel, also on a scaled screen.
void ExportTest::screenSizedFramesAreAsSharpAsThePlayer() {
    AppFixture app;
    if (app.window->screen()->grabWindow(app.window->winId()).isNull())
        QSKIP("this window system does not show its screen to programs");
    CurrentProcess() = SampleProcess();
    CurrentProcess().RunStyle = 2;
    CurrentProcess().IntervalMs = 50;
    QSize client;
    QList<QImage> shown = PlayersFrames(*app.window, &client, true);
    QCOMPARE(shown.size(), 4);
    const frm_export dialog(app.window.get());
    const std::optional<frm_export::Frame> frame = dialog.FrameSize();
    QVERIFY(frame);
    QCOMPARE(frame->ratio, app.window->devicePixelRatioF());
    QCOMPARE(frame->size, shown[0].size());
    ExportOptions options;
    options.format = ExportFormat::Frames;
    options.size = frame->size;
    options.pixelRatio = frame->ratio;
    const QString out = app.dir->filePath(QStringLiteral("screen.png"));
    QCOMPARE(ExportProcess(CurrentProcess(), out, options).status, ExportOutcome::Done);
    for (int i = 0; i < 4; ++i) {
        shown[i].setDevicePixelRatio(1);
        QVERIFY2(Load(FramePath(out, i)) == shown[i],
                 qPrintable(QStringLiteral("panel %1").arg(i + 1)));
    }
}

// The strip is W x 4H, frame k in rows kH to (k+1)H; Qt's reader reads it.
void ExportTest::stripHoldsTheFourFramesTopToBottom() {
    QTemporaryDir dir;
    CurrentProcess() = SampleProcess();
    CurrentProcess().RunStyle = 2;
    const QSize size(320, 200);
    ExportOptions options;
    options.size = size;
    const QString strip = dir.filePath("strip.png");
    QCOMPARE(ExportProcess(CurrentProcess(), strip, options).status, ExportOutcome::Done);
    const QImage read = Load(strip);
    QCOMPARE(read.size(), QSize(320, 800));
    const QList<QImage> frames = ExportedFrames(dir.path(), size);
    for (int i = 0; i < 4; ++i) QCOMPARE(read.copy(0, i * 200, 320, 200), frames[i]);
    QCOMPARE(FilesIn(dir.path()).size(), 5);  // the strip and the four numbered frames
}

void ExportTest::animationsKeepTheIntervalAndLoop_data() {
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("gifMs");
    QTest::newRow("1234 ms") << 1234 << 1230;
    QTest::newRow("1235 ms rounds up") << 1235 << 1240;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("negative plays at once") << -5 << 0;
}

// WebP through libwebp's decoder: four frames of exactly the interval, the
// same pixels as the frames (lossless), looping for ever. GIF through giflib:
// the interval to the nearest 10 ms, looping for ever.
void ExportTest::animationsKeepTheIntervalAndLoop() {
    QFETCH(int, interval);
    QFETCH(int, gifMs);
    QTemporaryDir dir;
    CurrentProcess() = SampleProcess();
    CurrentProcess().IntervalMs = interval;
    ExportOptions options;
    options.size = QSize(240, 180);
    options.format = ExportFormat::WebP;
    QCOMPARE(ExportProcess(CurrentProcess(), dir.filePath("a.webp"), options).status,
             ExportOutcome::Done);
    options.format = ExportFormat::Gif;
    QCOMPARE(ExportProcess(CurrentProcess(), dir.filePath("a.gif"), options).status,
             ExportOutcome::Done);
    const WebpFrames webp = ReadWebp(dir.filePath("a.webp"));
    const int webpMs = std::max(0, interval);
    QCOMPARE(webp.durations, (QList<int>{webpMs, webpMs, webpMs, webpMs}));
    QCOMPARE(webp.loops, 0);
    const QList<QImage> frames = ExportedFrames(dir.path(), options.size);
    QCOMPARE(webp.canvases, frames);
    QImageReader qt(dir.filePath("a.webp"));  // Qt's reader plays it alike
    QCOMPARE(qt.imageCount(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(qt.read().convertToFormat(QImage::Format_RGB32), frames[i]);
    int loops = -1;
    QCOMPARE(GifDelays(dir.filePath("a.gif"), &loops), (QList<int>{gifMs, gifMs, gifMs, gifMs}));
    QCOMPARE(loops, 0);
    QCOMPARE(QImage(dir.filePath("a.gif")).size(), options.size);  // Qt's reader too
    QCOMPARE(TimingFor(ExportFormat::Gif, interval).changed, gifMs != interval);
}

// Two panels that look the same still have a frame each, lasting the interval.
void ExportTest::repeatedPanelsKeepTheirOwnFrames() {
    QTemporaryDir dir;
    CurrentProcess() = SampleProcess();
    ProcessRecord& p = CurrentProcess();
    p.PanelPath[1] = p.PanelPath[0];
    AssignFixed(p.PanelPath[3], QString());
    p.IntervalMs = 700;
    ExportOptions options;
    options.size = QSize(200, 150);
    options.format = ExportFormat::WebP;
    QCOMPARE(ExportProcess(p, dir.filePath("r.webp"), options).status, ExportOutcome::Done);
    const WebpFrames webp = ReadWebp(dir.filePath("r.webp"));
    QCOMPARE(webp.durations, (QList<int>{700, 700, 700, 700}));
    QCOMPARE(webp.canvases, ExportedFrames(dir.path(), options.size));
    QCOMPARE(webp.canvases[0], webp.canvases[1]);
}

void ExportTest::failureOrCancelLeavesNothing_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("openError");
    QTest::addColumn<int>("writeError");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("reason");
    const QString full = DescribeFileError(ENOSPC);
    const QString readOnly = DescribeFileError(EROFS);
    for (ExportFormat f :
         {ExportFormat::Strip, ExportFormat::Frames, ExportFormat::WebP, ExportFormat::Gif}) {
        const QString name = SuffixOf(f) + (f == ExportFormat::Frames ? "s" : "");
        QTest::addRow("%s, disk full", qPrintable(name)) << int(f) << 0 << ENOSPC << false << full;
        QTest::addRow("%s, read-only", qPrintable(name))
            << int(f) << EROFS << 0 << false << readOnly;
        QTest::addRow("%s, cancelled", qPrintable(name)) << int(f) << 0 << 0 << true << QString();
    }
}

// A failed or cancelled export leaves no file and no part of one, and keeps
// a file of the same name as it was; a failure says why.
void ExportTest::failureOrCancelLeavesNothing() {
    QFETCH(int, format);
    QFETCH(int, openError);
    QFETCH(int, writeError);
    QFETCH(bool, cancel);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.") + SuffixOf(ExportFormat(format)));
    QFile old(out);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    CurrentProcess() = SampleProcess();
    ExportOptions options;
    options.format = ExportFormat(format);
    options.size = QSize(400, 300);
    ExportProgress progress;
    progress.cancel = cancel;
    FailingFiles files;
    files.openError = openError;
    files.writeError = writeError;
    SetFiles(&files);
    const ExportOutcome outcome = ExportProcess(CurrentProcess(), out, options, &progress);
    SetFiles(nullptr);
    QCOMPARE(outcome.status, cancel ? ExportOutcome::Cancelled : ExportOutcome::Refused);
    QCOMPARE(outcome.reason, reason);
    QCOMPARE(FilesIn(dir.path()), QStringList{QFileInfo(out).fileName()});
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
}

// Ctrl+E opens the dialog; GIF with a typed size writes the file, says how it
// rounds the time, and leaves the process as it was.
void ExportTest::dialogWritesTheChosenFormat() {
    AppFixture app;
    QAction* command = app.window->findChild<QAction*>("m_EXPORT");
    QVERIFY(!command->isEnabled());  // no process yet, as Preview
    CurrentProcess() = SampleProcess();
    CurrentProcess().IntervalMs = 1234;
    app.window->ApplyProcess(CurrentProcess());
    QVERIFY(command->isEnabled());
    const ProcessRecord before = CurrentProcess();
    const QString out = app.dir->filePath("comic.gif");
    QString note, suggested;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<frm_export*>(modal);
        QVERIFY(dialog);
        auto* file = dialog->findChild<QLineEdit*>("txtFile");
        QVERIFY(file->text().endsWith(u"/comic.png"));
        // By the keyboard where the window system gives the dialog the keyboard.
        const auto formats = dialog->findChildren<QRadioButton*>("opt");
        if (WindowSystemPlacesAndFocuses()) {
            QVERIFY(formats[0]->hasFocus());
            QTest::keyClick(formats[0], Qt::Key_Down);
            QTest::keyClick(formats[1], Qt::Key_Down);
        } else {
            formats[2]->click();
        }
        QVERIFY(formats[2]->isChecked());  // アニメーション GIF
        suggested = file->text();
        note = dialog->findChild<QLabel*>("lblTiming")->text();
        dialog->findChild<QComboBox*>("cboSize")->setEditText(QStringLiteral("320 x 240"));
        file->setText(out);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    if (WindowSystemPlacesAndFocuses())
        QTest::keyClick(app.window.get(), Qt::Key_E, Qt::ControlModifier);
    else
        command->trigger();
    QVERIFY(suggested.endsWith(u"/comic.gif"));
    QCOMPARE(note, QStringLiteral("GIF の表示時間は 10 ミリ秒単位です（1234 → 1230 ミリ秒）"));
    QCOMPARE(QImage(out).size(), QSize(320, 240));
    int loops = -1;
    QCOMPARE(GifDelays(out, &loops), (QList<int>{1230, 1230, 1230, 1230}));
    QVERIFY(std::memcmp(&before, &CurrentProcess(), sizeof before) == 0);
    QVERIFY(app.ui.errors.isEmpty());
}

// An existing file is replaced only after a Yes; a size that is none and a
// folder that cannot be written are refused with their reason, the dialog open.
void ExportTest::dialogAsksBeforeReplacingAndSaysWhy() {
    AppFixture app;
    CurrentProcess() = SampleProcess();
    const QString out = app.dir->filePath("x.png");
    QFile existing(out);
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("keep") == 4);
    existing.close();
    frm_export dialog(app.window.get());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.findChild<QLineEdit*>("txtFile")->setText(out);
    auto* size = dialog.findChild<QComboBox*>("cboSize");
    size->setEditText(QStringLiteral("big"));
    QTest::keyClick(&dialog, Qt::Key_Return);
    QCOMPARE(app.ui.errors.size(), 1);
    QVERIFY(
        app.ui.errors[0].startsWith(QStringLiteral("1コマの大きさは 幅×高さ で入力してください")));
    size->setCurrentIndex(1);
    QCOMPARE(dialog.FrameSize()->size, QSize(800, 600));
    QCOMPARE(dialog.FrameSize()->ratio, 1.0);
    app.ui.answers.enqueue(false);
    QTest::keyClick(&dialog, Qt::Key_Return);
    QCOMPARE(app.ui.questions, QStringList{"x.png は既にあります。\r置き換えますか？"});
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep"));
    existing.close();
    dialog.findChild<QLineEdit*>("txtFile")->setText(app.dir->filePath("no/such/folder/x.png"));
    QTest::keyClick(&dialog, Qt::Key_Return);
    QCOMPARE(app.ui.errors.last(),
             QStringLiteral("書き出せませんでした\r") + DescribeFileError(ENOENT));
    QVERIFY(dialog.isVisible());
}

namespace {
struct ToolRun {
    int status;
    QString out, err;
};

ToolRun RunTool(const QStringList& args, const QString& prlimit = {}) {
    QProcess tool;
    if (prlimit.isEmpty()) {
        tool.start(QStringLiteral(KADRELO_EXPORT_TOOL), args);
    } else {
        tool.start(QStringLiteral("prlimit"),
                   QStringList{prlimit, QStringLiteral(KADRELO_EXPORT_TOOL)} + args);
    }
    tool.waitForFinished(60000);
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAllStandardOutput()),
            QString::fromUtf8(tool.readAllStandardError())};
}

QString StoreWithSample(const QTemporaryDir& dir) {
    const QString path = dir.filePath("Process.dat");
    const ProcessStore store(path);
    (void)store.SaveProcess(SampleProcess(QStringLiteral("Comic")), [] { return false; });
    return path;
}
}  // namespace

// 0 done, 1 refused (no such name, an output that cannot be written), 2 bad
// usage; the name is matched as the list matches it (any case).
void ExportTest::toolExitsAndMessages() {
    QTemporaryDir dir;
    const QString store = StoreWithSample(dir);
    const ToolRun done = RunTool({store, "COMIC", dir.filePath("c.webp"), "--size", "160x120"});
    QCOMPARE(done.status, 0);
    QCOMPARE(ReadWebp(dir.filePath("c.webp")).canvases.size(), 4);
    QCOMPARE(RunTool({store, "comic", dir.filePath("f.png"), "--frames", "--size", "64x48"}).status,
             0);
    QCOMPARE(QImage(dir.filePath("f-4.png")).size(), QSize(64, 48));
    const ToolRun unknown = RunTool({store, "nobody", dir.filePath("n.png")});
    QCOMPARE(unknown.status, 1);
    QCOMPARE(unknown.err, QStringLiteral("kadrelo-export: プロセスを開けません："
                                         "「nobody」という名前のプロセスはありません\n"));
    const ToolRun unwritable = RunTool({store, "comic", dir.filePath("none/x.gif")});
    QCOMPARE(unwritable.status, 1);
    QCOMPARE(unwritable.err, QStringLiteral("kadrelo-export: 書き出せません：") +
                                 DescribeFileError(ENOENT) + u'\n');
    QCOMPARE(RunTool({store, "comic", dir.filePath("x.bmp")}).status, 2);
    QCOMPARE(RunTool({store, "comic", dir.filePath("x.gif"), "--frames"}).status, 2);
    QCOMPARE(RunTool({store, "comic", dir.filePath("x.png"), "--size", "0x10"}).status, 2);
    QCOMPARE(RunTool({store, "comic", dir.filePath("x.png"), "--quality", "50"}).status, 2);
    QVERIFY(RunTool({"--help"}).out.contains(u"kadrelo-export(1)"));
    QVERIFY(RunTool({"--version"}).out.startsWith(u"kadrelo-export " KADRELO_VERSION));
}

// A file-size limit (a disk that fills) fails the export: status 1, the reason,
// no file and no part of one.
void ExportTest::toolStopsAtAFileSizeLimit() {
    if (QStandardPaths::findExecutable(QStringLiteral("prlimit")).isEmpty())
        QSKIP("prlimit is not installed");
    QTemporaryDir dir;
    const QString store = StoreWithSample(dir);
    const ToolRun run =
        RunTool({store, "comic", dir.filePath("big.png"), "--size", "1000x1000"}, "--fsize=20000");
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err,
             QStringLiteral("kadrelo-export: 書き出せません：") + DescribeFileError(EFBIG) + u'\n');
    QCOMPARE(FilesIn(dir.path()), QStringList{"Process.dat"});
}

QTEST_MAIN(ExportTest)
#include "tst_export.moc"
