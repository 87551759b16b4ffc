// The player: panel timing on a scripted clock, pause, stop, the status line,
// the run styles and what a run leaves behind.
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "player/RunSchedule.h"
#include "player/frm_prev.h"
#include "tests/support/HugePng.h"
#include "tests/support/ScriptedUi.h"

#include <QAbstractEventDispatcher>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace {

// Drives a run: a fake clock that moves 10 ms at every real millisecond (and
// stands still while the next panel decodes), keys sent at chosen fake times,
// and the fake time at which each panel was shown.
class RunScript : public QObject {
  public:
    // An action taken a number of fake milliseconds after a panel was shown.
    struct Step {
        int panel;
        uint64_t afterMs;
        std::function<void(frm_prev&)> action;
    };

    QList<uint64_t> shownAtMs;
    uint64_t hiddenAtMs = 0;
    std::function<void(frm_prev&, int)> onPanel;

    explicit RunScript(QList<Step> steps) : steps_(std::move(steps)) {
        SetClockSource([this] { return nowMs_ * 1000; });
    }
    ~RunScript() override { SetClockSource({}); }

    // Attaches to the player as it is shown, before its run starts.
    void Play(frm_main& window) {
        qApp->installEventFilter(this);
        PreviewCommand(window);
        qApp->removeEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && qobject_cast<frm_prev*>(watched) && !hiddenAtMs)
            hiddenAtMs = nowMs_;
        if (event->type() == QEvent::Show && !attached_)
            if (auto* player = qobject_cast<frm_prev*>(watched)) {
                attached_ = true;
                Attach(*player);
            }
        return false;
    }

  private:
    void Attach(frm_prev& player) {
        connect(&player, &frm_prev::PanelShown, this, [this, &player](int index) {
            shownAtMs << nowMs_;
            if (onPanel) onPanel(player, index);
        });
        auto* tick = new QTimer(&player);
        connect(tick, &QTimer::timeout, this, [this, &player] {
            // The clock stands still while the next panel is still decoding:
            // these runs are about the schedule, not about the decoder's speed.
            const int next = int(shownAtMs.size());
            if (next < 4 && !player.PanelDecoded(next)) return;
            nowMs_ += 10;
            while (!steps_.isEmpty() && steps_.first().panel < shownAtMs.size() &&
                   shownAtMs[steps_.first().panel] + steps_.first().afterMs <= nowMs_)
                steps_.takeFirst().action(player);
        });
        tick->start(1);
    }

    QList<Step> steps_;
    bool attached_ = false;
    uint64_t nowMs_ = 100000;
};

void Release(frm_prev& player, Qt::Key key) {
    QTest::keyRelease(&player, key);
}

void UseSamples(int runStyle, int interval, int fitMode = 0) {
    CurrentProcess() = SampleProcess();
    CurrentProcess().RunStyle = int16_t(runStyle);
    CurrentProcess().IntervalMs = interval;
    CurrentProcess().FitMode = int16_t(fitMode);
}

}  // namespace

class PlayerTest : public QObject {
    Q_OBJECT
  private slots:
    void eachPanelForItsIntervalAfterDrawing();
    void pauseRestartsThePanelsWholeTime();
    void escapeWhilePausedEndsTheRun();
    void enterShowsPathThatStays();
    void labelColourFollowsBackground_data();
    void labelColourFollowsBackground();
    void intervalZeroFlashesThroughAndRestores();
    void extremeFixedSizesPlay_data();
    void extremeFixedSizesPlay();
    void iconizeShowsThumbnailsOfShownPanels();
    void screenShowsWhatTheWindowDraws_data();
    void screenShowsWhatTheWindowDraws();
    void fullScreenStretchesOverClientArea();
    void fittedLayoutAndMissingPanel();
    void reactivationStartsNoSecondRun();
    void closingDuringRunEndsItCleanly();
    void waitingSleepsUntilThePanelIsDue();
    void scheduleCountsFromTheScreenAndRestartsOnResume();
    void waitsNeverSpinOnZeroMillisecondTimers();
    void keysActWhilePanelOneDecodes();
    void wideOwnSizePanelAfterSmallerOneIsDrawn();
};

void PlayerTest::eachPanelForItsIntervalAfterDrawing() {
    AppFixture app;
    UseSamples(0, 500);
    RunScript run({});
    run.onPanel = [](frm_prev& player, int) {
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BlankCursor);
        QVERIFY(player.windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    };
    run.Play(*app.window);
    QCOMPARE(run.shownAtMs.size(), 4);
    run.shownAtMs << run.hiddenAtMs;  // the last panel too stays its whole time
    for (int i = 1; i < 5; ++i) {
        const uint64_t shown = run.shownAtMs[i] - run.shownAtMs[i - 1];
        QVERIFY2(shown >= 500 && shown <= 520, qPrintable(QString::number(shown)));
    }
}

void PlayerTest::pauseRestartsThePanelsWholeTime() {
    AppFixture app;
    UseSamples(0, 2000);
    QString pausedText, resumedText;
    RunScript run({{1, 1500,
                    [&](frm_prev& p) {
                        Release(p, Qt::Key_Space);
                        pausedText = p.findChild<QLabel*>("Label")->text();
                    }},
                   {1, 11500, [&](frm_prev& p) {
                        Release(p, Qt::Key_Space);
                        resumedText = p.findChild<QLabel*>("Label")->text();
                    }}});
    run.Play(*app.window);
    QCOMPARE(pausedText, QStringLiteral("ポーズ中..."));
    QCOMPARE(resumedText, QString());
    QCOMPARE(run.shownAtMs.size(), 4);
    const uint64_t second = run.shownAtMs[2] - run.shownAtMs[1];
    QVERIFY2(second >= 13500 && second <= 13540, qPrintable(QString::number(second)));
}

void PlayerTest::escapeWhilePausedEndsTheRun() {
    AppFixture app;
    UseSamples(0, 1000);
    RunScript run({{0, 1500, [](frm_prev& p) { Release(p, Qt::Key_Space); }},
                   {0, 4000, [](frm_prev& p) { Release(p, Qt::Key_Escape); }}});
    run.Play(*app.window);
    QCOMPARE(run.shownAtMs.size(), 2);
    QVERIFY(!QGuiApplication::overrideCursor());
}

// The path is shown as it is, also where it looks like markup.
void PlayerTest::enterShowsPathThatStays() {
    AppFixture app;
    UseSamples(0, 1000);
    const QString second = app.dir->filePath("<img src=r.bmp>.jpg");
    QVERIFY(QFile::copy(app.samplePath("panel2.jpg"), second));
    AssignFixed(CurrentProcess().PanelPath[1], second);
    QStringList texts;
    QList<bool> shown;
    bool whole = false;
    RunScript run({{0, 1500, [](frm_prev& p) { Release(p, Qt::Key_Return); }}});
    run.onPanel = [&](frm_prev& p, int) {
        auto* label = p.findChild<QLabel*>("Label");
        texts << label->text();
        shown << label->isVisible();
        whole = label->width() >= label->fontMetrics().horizontalAdvance(second);
    };
    run.Play(*app.window);
    QCOMPARE(texts, (QStringList{"", "", second, second}));  // read as each panel starts
    QVERIFY(whole);  // drawn as its characters, not as a picture
    // While empty, the status line is not there to hide part of the picture.
    QCOMPARE(shown, (QList<bool>{false, false, true, true}));
}

void PlayerTest::labelColourFollowsBackground_data() {
    QTest::addColumn<int>("back");
    QTest::addColumn<QColor>("text");
    QTest::newRow("0x7FFFFF gives white") << 0x7FFFFF << QColor(Qt::white);
    QTest::newRow("0x800000 gives black") << 0x800000 << QColor(Qt::black);
}

void PlayerTest::labelColourFollowsBackground() {
    QFETCH(int, back);
    QFETCH(QColor, text);
    AppFixture app;
    UseSamples(0, 1000);
    CurrentProcess().BackColor = back;
    QColor seen, background;
    RunScript run({{0, 500, [&](frm_prev& p) {
                        Release(p, Qt::Key_A);
                        auto* label = p.findChild<QLabel*>("Label");
                        seen = label->palette().color(QPalette::WindowText);
                        background = p.palette().color(QPalette::Window);
                        Release(p, Qt::Key_Escape);
                    }}});
    run.Play(*app.window);
    QCOMPARE(seen, text);
    const uint32_t v = uint32_t(back);
    QCOMPARE(background, QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF));
}

void PlayerTest::intervalZeroFlashesThroughAndRestores() {
    AppFixture app;
    UseSamples(0, 0);
    RunScript run({});
    run.Play(*app.window);
    QCOMPARE(run.shownAtMs.size(), 4);
    QVERIFY(run.shownAtMs.last() - run.shownAtMs.first() <= 30);
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(CursorDisplayCount() >= 1);
    CurrentProcess().IntervalMs = -5;
    RunScript negative({});
    negative.Play(*app.window);
    QCOMPARE(negative.shownAtMs.size(), 4);
}

void PlayerTest::extremeFixedSizesPlay_data() {
    QTest::addColumn<int>("runStyle");
    QTest::addColumn<int>("side");
    QTest::newRow("largest") << 0 << INT32_MAX;
    QTest::newRow("smallest") << 0 << INT32_MIN;
    QTest::newRow("40000, iconize") << 2 << 40000;
}

void PlayerTest::extremeFixedSizesPlay() {
    QFETCH(int, runStyle);
    QFETCH(int, side);
    AppFixture app;
    UseSamples(runStyle, 100, 1);
    CurrentProcess().FixedWidth = CurrentProcess().FixedHeight = side;
    QElapsedTimer clock;
    clock.start();
    bool inside = true;
    RunScript run({});
    run.onPanel = [&](frm_prev& p, int) {
        const QWidget* img = p.findChild<ImageControl*>("Img");
        inside = inside && (p.rect().contains(img->geometry()) || img->size().isEmpty());
    };
    run.Play(*app.window);
    QCOMPARE(run.shownAtMs.size(), 4);
    QVERIFY(inside);
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
}

void PlayerTest::iconizeShowsThumbnailsOfShownPanels() {
    AppFixture app;
    UseSamples(2, 100);
    QList<QList<QRect>> visibleIcons;
    RunScript run({});
    run.onPanel = [&](frm_prev& p, int) {
        QList<QRect> icons;
        for (ImageControl* icon : p.findChildren<ImageControl*>("PreIcon"))
            icons << (icon->isVisible() ? icon->geometry() : QRect());
        visibleIcons << icons;
    };
    run.Play(*app.window);
    QCOMPARE(visibleIcons.size(), 4);
    const QRect none;
    QCOMPARE(visibleIcons[0], (QList<QRect>{none, none, none, none}));
    QCOMPARE(visibleIcons[3], (QList<QRect>{none, QRect(9, 10, 50, 50), QRect(69, 10, 50, 50),
                                            QRect(129, 10, 50, 50)}));
}

// Each panel after the first is drawn ahead and put on the screen when due:
// what reaches the screen is exactly what the window draws afresh.
void PlayerTest::screenShowsWhatTheWindowDraws_data() {
    QTest::addColumn<int>("runStyle");
    QTest::addColumn<int>("fitMode");
    QTest::newRow("fitted, natural size") << 0 << 0;
    QTest::newRow("full screen") << 1 << 0;
    QTest::newRow("iconized, fixed size") << 2 << 1;
}

void PlayerTest::screenShowsWhatTheWindowDraws() {
    QFETCH(int, runStyle);
    QFETCH(int, fitMode);
    AppFixture app;
    if (app.window->screen()->grabWindow(app.window->winId()).isNull())
        QSKIP("this window system does not show its screen to programs");
    UseSamples(runStyle, 100, fitMode);
    AssignFixed(CurrentProcess().PanelPath[2], app.dir->filePath("gone.jpg"));  // a blank panel
    int compared = 0;
    RunScript run({});
    run.onPanel = [&](frm_prev& p, int index) {
        const QImage screen = p.screen()->grabWindow(p.winId()).toImage();
        const QImage fresh = p.grab().toImage().convertToFormat(screen.format());
        QVERIFY2(screen == fresh, qPrintable(QStringLiteral("panel %1").arg(index + 1)));
        ++compared;
    };
    run.Play(*app.window);
    QCOMPARE(compared, 4);
}

void PlayerTest::fullScreenStretchesOverClientArea() {
    AppFixture app;
    UseSamples(1, 100, 2);
    QList<bool> covers;
    RunScript run({});
    run.onPanel = [&](frm_prev& p, int) {
        auto* img = p.findChild<ImageControl*>("Img");
        covers << (img->isVisible() && img->geometry() == p.rect());
    };
    run.Play(*app.window);
    QCOMPARE(covers, (QList<bool>{true, true, true, true}));
}

void PlayerTest::fittedLayoutAndMissingPanel() {
    AppFixture app;
    UseSamples(0, 100);
    AssignFixed(CurrentProcess().PanelPath[1], app.dir->filePath("gone.jpg"));
    QList<bool> pictures;
    QRectF layout;
    QSize client;
    RunScript run({});
    run.onPanel = [&](frm_prev& p, int) {
        auto* img = p.findChild<ImageControl*>("Img");
        pictures << img->HasPicture();
        layout = img->LogicalGeometry();
        client = p.size();
    };
    run.Play(*app.window);
    QCOMPARE(pictures, (QList<bool>{true, false, true, true}));
    QCOMPARE(layout.size(), QSizeF(client) / 1.5);
    QVERIFY(qAbs(layout.x() - (client.width() - layout.width()) / 2.2) < 1e-6);
    QVERIFY(qAbs(layout.y() - (client.height() - layout.height()) / 3) < 1e-6);
}

void PlayerTest::reactivationStartsNoSecondRun() {
    AppFixture app;
    UseSamples(0, 300);
    RunScript run({{0, 100, [](frm_prev& p) {
                        QEvent activation(QEvent::ActivationChange);
                        QCoreApplication::sendEvent(&p, &activation);
                        p.activateWindow();
                    }}});
    run.Play(*app.window);
    QCOMPARE(run.shownAtMs.size(), 4);
    // An activation still pending when Escape ends the run starts none either.
    RunScript escaped({{0, 100, [](frm_prev& p) {
                            p.activateWindow();
                            QEvent activation(QEvent::ActivationChange);
                            QCoreApplication::sendEvent(&p, &activation);
                            Release(p, Qt::Key_Escape);
                        }}});
    escaped.Play(*app.window);
    QCOMPARE(escaped.shownAtMs.size(), 1);
}

void PlayerTest::closingDuringRunEndsItCleanly() {
    AppFixture app;
    UseSamples(0, 1000);
    RunScript run({{0, 1500, [](frm_prev& p) { p.close(); }}});
    run.Play(*app.window);
    QCOMPARE(run.shownAtMs.size(), 2);
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(app.window->isVisible());
}

// The timing of a run on its own, with times chosen by the test.
void PlayerTest::scheduleCountsFromTheScreenAndRestartsOnResume() {
    RunSchedule schedule;
    schedule.StartPanel(1'000'000);
    QCOMPARE(schedule.Due(500), uint64_t(1'500'000));
    QCOMPARE(schedule.Due(0), uint64_t(1'000'000));
    QCOMPARE(schedule.Due(-7), uint64_t(1'000'000));  // as fast as panels can be drawn
    QCOMPARE(schedule.Due(INT32_MAX), 1'000'000 + uint64_t(INT32_MAX) * 1000);
    QVERIFY(!schedule.LayOutNextNow(1'491'999, 500));
    QVERIFY(schedule.LayOutNextNow(1'492'000, 500));
    QCOMPARE(schedule.WaitUntil(500), uint64_t(1'492'000));
    // A resume 10 s later gives the panel its whole time again.
    schedule.StartPanel(11'300'000);
    QCOMPARE(schedule.Due(500), uint64_t(11'800'000));
    QVERIFY(!schedule.LayOutNextNow(11'500'000, 500));
}

// Every wait either arms a timer of at least a millisecond or sleeps its last
// stretch: a 0 ms timer would fire at once, again and again.
void PlayerTest::waitsNeverSpinOnZeroMillisecondTimers() {
    const uint64_t now = 5'000'000;
    for (uint64_t left = 1; left <= 20'000; ++left) {
        const RunSchedule::WaitPlan plan = RunSchedule::PlanWait(now, now + left);
        QVERIFY2(plan.timerMs > 0 || plan.sleepRest, qPrintable(QString::number(left)));
        // The timer wakes the loop no later than the final stretch begins.
        QVERIFY(uint64_t(plan.timerMs) * 1000 + RunSchedule::kFinalStretchMicros <= left ||
                plan.sleepRest);
        QVERIFY(!plan.sleepRest || left <= RunSchedule::kFinalStretchMicros + 999);
    }
    const RunSchedule::WaitPlan past = RunSchedule::PlanWait(now, now - 1);
    QVERIFY(past.timerMs == 0 && !past.sleepRest);
}

QTEST_MAIN(PlayerTest)
// A panel that takes long to decode keeps the keys alive: Space pauses at
// once, Escape ends the run at once (the decoding is cancelled), and no panel
// is shown before its picture is there.
void PlayerTest::keysActWhilePanelOneDecodes() {
    AppFixture app;
    UseSamples(0, 1000);
    const QString huge = app.dir->filePath("huge.png");
    QVERIFY(WriteHugePng(huge, 12000, 12000));
    AssignFixed(CurrentProcess().PanelPath[0], huge);
    AssignFixed(CurrentProcess().PanelPath[1], huge);
    QElapsedTimer clock;
    qint64 escapedAt = -1;
    QString pausedText;
    int shown = 0;
    QTimer keys;
    connect(&keys, &QTimer::timeout, [&] {
        auto* player = app.window->findChild<frm_prev*>();
        if (!player || !player->Running) return;
        connect(player, &frm_prev::PanelShown, [&shown] { ++shown; });
        Release(*player, Qt::Key_Space);
        pausedText = player->findChild<QLabel*>(QStringLiteral("Label"))->text();
        Release(*player, Qt::Key_Escape);
        escapedAt = clock.elapsed();
        keys.stop();
    });
    keys.start(150);
    // Should the keys go unheard, the run is ended before long all the same.
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, [&] {
        if (auto* player = app.window->findChild<frm_prev*>()) player->close();
    });
    limit.start(10000);
    clock.start();
    PreviewCommand(*app.window);
    const qint64 endedAt = clock.elapsed();
    QCOMPARE(pausedText, QStringLiteral("ポーズ中..."));
    QVERIFY(escapedAt > 0);
    QVERIFY2(endedAt - escapedAt < 100, qPrintable(QString::number(endedAt - escapedAt)));
    QCOMPARE(shown, 0);
}

#include "tst_player.moc"

// Between panels the player sleeps: its event loop wakes for the timer that
// ends the wait, for the window system, and not over and over.
void PlayerTest::waitingSleepsUntilThePanelIsDue() {
    AppFixture app;
    UseSamples(0, 150);
    int wakes = 0;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    const auto counting =
        connect(dispatcher, &QAbstractEventDispatcher::awake, [&wakes] { ++wakes; });
    QElapsedTimer clock;
    clock.start();
    PreviewCommand(*app.window);
    disconnect(counting);
    QVERIFY(clock.elapsed() >= 4 * 150);
    QVERIFY2(wakes < 4 * 25, qPrintable(QString::number(wakes)));
}

// A panel at its own size, wider than the window, after a smaller one: the
// window's background, drawn again where the picture passed on its way, must
// not cover the picture drawn ahead.
void PlayerTest::wideOwnSizePanelAfterSmallerOneIsDrawn() {
    AppFixture app;
    if (app.window->screen()->grabWindow(app.window->winId()).isNull())
        QSKIP("this window system does not show its screen to programs");
    const QSize client = app.window->screen()->size();
    QImage small(100, 80, QImage::Format_RGB32);
    small.fill(Qt::red);
    QImage wide(client.width() + 100, client.height() / 3, QImage::Format_RGB32);
    wide.fill(Qt::blue);
    QVERIFY(small.save(app.dir->filePath("small.png")));
    QVERIFY(wide.save(app.dir->filePath("wide.png")));
    UseSamples(0, 100, 2);
    for (int i = 0; i < 4; ++i)
        AssignFixed(CurrentProcess().PanelPath[i],
                    app.dir->filePath(i % 2 ? "wide.png" : "small.png"));
    QList<QRgb> shown;
    RunScript run({});
    run.onPanel = [&](frm_prev& p, int) {
        const QImage screen = p.screen()->grabWindow(p.winId()).toImage();
        shown << screen.pixel(p.findChild<ImageControl*>("Img")->geometry().center());
    };
    run.Play(*app.window);
    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255);
    QCOMPARE(shown, (QList<QRgb>{red, blue, red, blue}));
}
