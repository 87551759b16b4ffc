#include "player/frm_prev.h"

#include "player/FramePresenter.h"
#include "player/PanelStage.h"

#include "dialogs/ImageControl.h"
#include "dialogs/ProcessView.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/LargeMemory.h"

#include <QBackingStore>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

constexpr int kEnter = 13, kSpace = 32, kEscape = 27;
const QString kStatusName = QStringLiteral("状態");
// How long a run's picture memory is kept after it, for a run soon after.
constexpr int kKeepMemoryAfterRunMs = 10000;
// How long panel 1 waits for the window system to show the window.
constexpr uint64_t kExposeLimitMicros = 2'000'000;

int KeyCodeOf(const QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kEnter;
        case Qt::Key_Space:
            return kSpace;
        case Qt::Key_Escape:
            return kEscape;
        default:
            return 0;
    }
}

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace

void SetCursorVisible(bool visible) {
    if (visible) {
        while (ShowCursor(true) <= 0) {
        }
    } else {
        while (ShowCursor(false) >= 0) {
        }
    }
}

void SetTopMost(QWidget* window, bool topMost) {
    SetWindowTopMost(window, topMost);
}

frm_prev::frm_prev(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      presenter_(FramePresenter::ForThisDisplay()) {
    setObjectName(QStringLiteral("frm_prev"));
    // The background is drawn by paintEvent, so that drawing ahead can skip it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    Label = new QLabel(this);
    Label->setObjectName(QStringLiteral("Label"));
    Label->setTextFormat(Qt::PlainText);  // a path is shown as it is, whatever it holds
    Label->setAccessibleName(kStatusName);
    Label->setAutoFillBackground(true);
    stage_ = std::make_unique<PanelStage>(*this);
    Img = stage_->Img;
    Img->installEventFilter(this);
    for (ImageControl* icon : stage_->PreIcon) icon->installEventFilter(this);
    Label->raise();  // the status line stays readable over a full-screen panel
    wake_ = new QTimer(this);
    wake_->setSingleShot(true);
    wake_->setTimerType(Qt::PreciseTimer);

    // The whole screen the main window is on, which the run styles expect. The
    // full-screen state is what covers a screen on every window system: some
    // place even a screen-sized window below their panels.
    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) setGeometry(screen->geometry());
    setWindowState(Qt::WindowFullScreen);
    // Panel 1 is decoded while the window is made and shown.
    StartDecoding();
    PrepareBackingStore(screen);
}

// The window's drawing memory, as large as the screen, is made and its pages
// taken in one go before the first drawing, which would otherwise fault them
// in one by one. Some window systems (Wayland) hand out that memory only
// inside a paint cycle, so it is asked for inside an empty one.
void frm_prev::PrepareBackingStore(QScreen* screen) {
    create();
    windowHandle()->installEventFilter(this);
    if (screen) windowHandle()->setScreen(screen);
    QBackingStore* store = backingStore();
    store->resize(size());
    store->beginPaint(QRegion());
    if (auto* image = dynamic_cast<QImage*>(store->paintDevice()))
        PrefaultMemory(image->bits(), size_t(image->sizeInBytes()));
    store->endPaint();
}

frm_prev::~frm_prev() = default;

void frm_prev::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    presenter_->NameWindow(this);  // the caption is empty, so is the window's name
    // The run starts on the first activation; a window manager may never
    // activate a window, so the first showing counts as one too.
    QTimer::singleShot(0, this, &frm_prev::Form_Activate);
}

void frm_prev::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Deferred, so that the run never starts inside show() before the modal loop runs.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        QTimer::singleShot(0, this, &frm_prev::Form_Activate);
}

// The keys act when released; the press must not reach QDialog, which would close on Escape.
void frm_prev::keyPressEvent(QKeyEvent* event) {
    event->accept();
}

void frm_prev::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) return;
    Form_KeyUp(KeyCodeOf(event));
}

// The window system may size the window after the run has started; the
// status line keeps to the bottom-left all the same.
void frm_prev::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    PlaceLabel();
}

void frm_prev::closeEvent(QCloseEvent* event) {
    if (!closed_) Form_QueryUnload();
    closed_ = true;
    QDialog::closeEvent(event);
}

void frm_prev::StartDecoding() {
    const ProcessRecord& process = CurrentProcess();
    const bool draws = RunOf(process.RunStyle).has_value();
    std::array<PanelDecoder::Request, 4> requests;
    for (int i = 0; i < 4; ++i)
        requests[i] = {draws ? TrimFixed(process.PanelPath[i]) : QString(),
                       PanelStage::DecodeSize(process, size(), devicePixelRatioF())};
    // A decoded panel wakes the player if it is waiting for it.
    decoder_ = std::make_unique<PanelDecoder>(std::move(requests), [this] {
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    });
}

void frm_prev::Form_Activate() {
    // One run a player: an activation still pending when a run has ended (a
    // window system that hands the focus around while the player leaves the
    // screen) starts none.
    if (Running || closed_ || runStarted_) return;
    runStarted_ = true;
    Running = true;
    PanelIndex = 0;
    SetCursorVisible(false);
    SetTopMost(this, true);
    stage_->SetBackground(CurrentProcess());
    Label->setPalette(palette());
    PlaceLabel();

    // Panel 1 is laid out before the window is first drawn, so that this first
    // drawing shows it: one frame instead of two. While it is still decoding,
    // the window shows its background and keeps handling keys.
    const bool firstReady = decoder_->Ready(0);
    QRegion changed = firstReady ? LayOutPanel() : QRegion();
    bool drawnAlready = windowHandle() && windowHandle()->isExposed();
    if (!WaitUntilExposed()) return;
    if (!firstReady) {
        if (!WaitForPanel()) return EndRun();
        changed = LayOutPanel();
        drawnAlready = true;
    }
    uint64_t due = 0;  // when the next panel is to be on the screen
    for (;;) {
        // The panel's time starts when it is on the screen, not before.
        uint64_t shown = firstShownAt_;
        if (PanelIndex > 0 || drawnAlready || !shown) {
            SleepUntil(due);
            ShowDrawnAhead(changed);
            presenter_->WaitUntilOnScreen();
            shown = ClockMicros();
        }
        decoder_->DecodeTheRest();
        due = WaitPanelTime(shown);
        if (closed_) return;
        ++PanelIndex;
        if (PanelIndex > 3 || !Running) break;
        if (!decoder_->Ready(PanelIndex)) {
            SleepUntil(due);  // the panel before stays its whole time
            ShowBackground();
            if (!WaitForPanel()) return EndRun();
        }
        changed = LayOutPanel();
    }
    SleepUntil(due);  // the last panel too stays its whole time, and no longer
    EndRun();
}

void frm_prev::EndRun() {
    if (closed_) return;
    presenter_->TakeOffScreen(this);
    close();
}

// While the current panel is still decoding, the window shows its background
// (and the thumbnails) instead of the panel whose time is over.
void frm_prev::ShowBackground() {
    const QRegion old = stage_->HidePanel();
    if (!old.isEmpty()) repaint(old);
}

// Handles events until the current panel is decoded (the decoder's notice
// wakes the wait) or the run ends; true when the panel is ready to be shown.
bool frm_prev::WaitForPanel() {
    while (Running && !closed_ && !decoder_->Ready(PanelIndex))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return Running && !closed_;
}

// Sets the window up for the current panel and returns what has to be drawn
// again: the old and the new picture and the thumbnails. Nothing handles
// events until the panel is drawn, so nothing shows it early.
QRegion frm_prev::LayOutPanel() {
    firstShowing_ = !Img->isVisible();
    static const Picture none;
    const Picture& previous = PanelIndex > 0 ? decoder_->Get(PanelIndex - 1) : none;
    const QRegion changed =
        stage_->ShowPanel(CurrentProcess(), PanelIndex, decoder_->Get(PanelIndex), previous);
    DrawAhead(changed);
    return changed;
}

// Draws the panel into the window's drawing memory now, while the screen
// still shows the previous one: when the panel is due, only the copy to the
// screen is left. Where the drawing memory is cleared at each drawing (a
// see-through window, Wayland), the panel is drawn when due instead.
void frm_prev::DrawAhead(const QRegion& changed) {
    drawnAhead_ = QRegion();
    QBackingStore* store = backingStore();
    const QWindow* window = windowHandle();
    if (!store || !window || !window->isExposed() || window->format().hasAlpha() ||
        !presenter_->KeepsDrawingMemory())
        return;
    store->beginPaint(changed);
    render(store->paintDevice(), changed.boundingRect().topLeft(), changed,
           DrawWindowBackground | DrawChildren);
    store->endPaint();
    drawnAhead_ = changed;
}

// Puts the panel on the screen through the usual repaint, whose drawing of
// what was drawn ahead is skipped.
void frm_prev::ShowDrawnAhead(const QRegion& changed) {
    showingDrawnAhead_ = true;
    repaint(changed);
    // The repaint leaves a picture control that was hidden until now to a
    // later flush, which would put the panel on the screen after its time had
    // started; it goes there now.
    if (firstShowing_ && backingStore()) backingStore()->flush(changed, windowHandle());
    showingDrawnAhead_ = false;
    drawnAhead_ = QRegion();
}

// True for a paint event, during ShowDrawnAhead, of what is drawn already.
bool frm_prev::AlreadyDrawnAhead(const QWidget* widget, const QPaintEvent* event) const {
    if (!showingDrawnAhead_) return false;
    return (event->region().translated(widget->mapTo(this, QPoint())) - drawnAhead_).isEmpty();
}

// While what was drawn ahead goes to the screen, the background is drawn only
// around it: the repaint can cover more (where a picture control was on its
// way to its new place), and the background must not cover a picture whose own
// drawing is skipped.
void frm_prev::paintEvent(QPaintEvent* event) {
    const QRegion region = showingDrawnAhead_ ? event->region() - drawnAhead_ : event->region();
    QPainter painter(this);
    stage_->PaintBackground(painter, region);
}

bool frm_prev::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose) return ShowFirstFrame(event);
    if (event->type() == QEvent::Paint && watched->isWidgetType() &&
        AlreadyDrawnAhead(static_cast<QWidget*>(watched), static_cast<QPaintEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

// Panel 1 is drawn when the window is first exposed; its time starts as soon
// as that drawing is on the screen, before whatever other events came with it.
// The exposures that came with the mapping are then out of date: the whole
// window was drawn after them, so they are not drawn again.
bool frm_prev::ShowFirstFrame(QEvent* expose) {
    if (!Running || PanelIndex != 0 || !windowHandle()->isExposed()) return false;
    if (firstShownAt_) return waitingForExposure_;
    static_cast<QObject*>(windowHandle())->event(expose);  // the window's own handling: the drawing
    presenter_->WaitUntilOnScreen();
    firstShownAt_ = ClockMicros();
    return true;
}

// Panel 1 is drawn once the window is on the screen; until the window system
// shows it, drawing would go nowhere while panel 1's time ran.
bool frm_prev::WaitUntilExposed() {
    const uint64_t limit = ClockMicros() + kExposeLimitMicros;
    waitingForExposure_ = true;
    while (!closed_ && windowHandle() && !windowHandle()->isExposed() && ClockMicros() < limit)
        WaitForEventsUntil(limit);
    waitingForExposure_ = false;
    wake_->stop();  // set for the limit, which is later than panel 1's deadline
    return !closed_;
}

// Waits the panel's display time, counted from when it reached the screen,
// while the window goes on handling events, and returns shortly before the
// time is up with the moment it is up; the next panel is laid out meanwhile.
// A pause restarts the whole time; a stop ends it at once.
uint64_t frm_prev::WaitPanelTime(uint64_t start) {
    emit PanelShown(PanelIndex);
    schedule_.StartPanel(start);
    for (;;) {
        const int64_t interval = CurrentProcess().IntervalMs;
        if (schedule_.LayOutNextNow(ClockMicros(), interval)) {
            DoEvents();  // what came in last, a pause included
            if (!Paused && Running) return schedule_.Due(interval);
        } else {
            WaitForEventsUntil(schedule_.WaitUntil(interval));
        }
        if (closed_ || !Running) return ClockMicros();
        if (Paused) {
            while (Paused && Running && !closed_)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (closed_ || !Running) return ClockMicros();
            schedule_.StartPanel(ClockMicros());
        }
    }
}

// Sleeps until an event arrives or the deadline is near; the precise timer
// makes sure one does.
void frm_prev::WaitForEventsUntil(uint64_t deadlineMicros) {
    const RunSchedule::WaitPlan plan = RunSchedule::PlanWait(ClockMicros(), deadlineMicros);
    if (plan.timerMs > 0) {
        if (!wake_->isActive()) wake_->start(plan.timerMs);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return;
    }
    if (!plan.sleepRest) return;
    DoEvents();
    SleepUntil(deadlineMicros);
}

void frm_prev::Form_KeyUp(int keyCode) {
    QPalette palette = Label->palette();
    palette.setColor(QPalette::WindowText,
                     CurrentProcess().BackColor <= 0x7FFFFF ? Qt::white : Qt::black);
    Label->setPalette(palette);
    switch (keyCode) {
        case kEnter:
            Label->setText(TrimFixed(CurrentProcess().PanelPath[std::clamp(PanelIndex, 0, 3)]));
            break;
        case kSpace:
            Paused = !Paused;
            Label->setText(Paused ? QStringLiteral("ポーズ中...") : QString());
            break;
        case kEscape:
            Running = false;
            break;
        default:
            return;
    }
    const QString status = Label->text();
    Label->setAccessibleName(status.isEmpty() ? kStatusName
                                              : kStatusName + QStringLiteral("：") + status);
    PlaceLabel();
}

// The status line sits at the bottom-left, as wide as its text; while it is
// empty it is not there at all, so it hides nothing of the picture.
void frm_prev::PlaceLabel() {
    Label->adjustSize();
    Label->move(0, height() - Label->height());
    Label->setVisible(!Label->text().isEmpty());
}

void frm_prev::Form_QueryUnload() {
    PanelIndex = 0;
    Paused = false;
    Running = false;
    SetCursorVisible(true);
    SetTopMost(this, false);
}

void PreviewCommand(ProcessView& view) {
    // A run's picture memory is reused by its next pictures, and kept a while
    // after it, so that playing again soon needs no fresh memory either.
    auto keep = std::make_shared<KeepLargeMemory>();
    {
        frm_prev player(view.Owner());
        player.exec();
    }
    QTimer::singleShot(kKeepMemoryAfterRunMs, qApp, [keep] {});
}
