#include "player/frm_prev.h"

#include "dialogs/ImageControl.h"
#include "dialogs/ProcessView.h"
#include "model/PictureLayout.h"
#include "platform/ColorValue.h"
#include "platform/Desktop.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <thread>

namespace {

constexpr int kEnter = 13, kSpace = 32, kEscape = 27;

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

frm_prev::frm_prev(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("frm_prev"));
    setAutoFillBackground(true);
    Label = new QLabel(this);
    Label->setObjectName(QStringLiteral("Label"));
    Label->setAutoFillBackground(true);
    Img = new ImageControl(this);
    Img->setObjectName(QStringLiteral("Img"));
    Img->hide();
    for (int i = 0; i < 4; ++i) {
        PreIcon[i] = new ImageControl(this);
        PreIcon[i]->setObjectName(QStringLiteral("PreIcon"));
        PreIcon[i]->SetBorder(false);
        PreIcon[i]->hide();
    }
    Label->raise();  // the status line stays readable over a full-screen panel
    wake_ = new QTimer(this);
    wake_->setSingleShot(true);
    wake_->setTimerType(Qt::PreciseTimer);

    // As large as the screen the main window is on, which the run styles expect.
    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) setGeometry(screen->geometry());
}

frm_prev::~frm_prev() = default;

void frm_prev::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    SetEmptyWindowName(this);  // the caption is empty, so is the window's name
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

void frm_prev::closeEvent(QCloseEvent* event) {
    if (!closed_) Form_QueryUnload();
    closed_ = true;
    QDialog::closeEvent(event);
}

// The size the picture control will have, when it lies wholly inside the
// window. Otherwise the panel is decoded at its own size, and the control
// scales only the part of it that is visible.
QSize frm_prev::DisplaySize() const {
    const ProcessRecord& process = CurrentProcess();
    if (RunOf(process.RunStyle) == Run::FullScreen) return size();
    const std::optional<PictureLayout> layout = LayOutPicture(
        QSizeF(size()), process.FitMode, QSizeF(process.FixedWidth, process.FixedHeight), QSizeF());
    if (!layout || !layout->stretch) return QSize();
    const QRect whole = ToPixels(layout->rect);
    return rect().contains(whole) ? whole.size() : QSize();
}

void frm_prev::StartDecoding() {
    const ProcessRecord& process = CurrentProcess();
    const bool draws = RunOf(process.RunStyle).has_value();
    std::array<PanelDecoder::Request, 4> requests;
    for (int i = 0; i < 4; ++i)
        requests[i] = {draws ? TrimFixed(process.PanelPath[i]) : QString(), DisplaySize()};
    decoder_ = std::make_unique<PanelDecoder>(std::move(requests));
}

void frm_prev::Form_Activate() {
    if (Running || closed_) return;
    Running = true;
    PanelIndex = 0;
    SetCursorVisible(false);
    SetTopMost(this, true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ColorFromValue(uint32_t(CurrentProcess().BackColor)));
    setPalette(palette);
    Label->setPalette(palette);
    PlaceLabel();
    StartDecoding();

    for (;;) {
        DoEvents();
        if (closed_) return;
        DrawPanel();
        emit PanelShown(PanelIndex);
        WaitPanelTime();
        if (closed_) return;
        ++PanelIndex;
        if (PanelIndex > 3 || !Running) break;
    }
    close();
}

void frm_prev::DrawPanel() {
    // Only what changes is drawn: the old and the new picture and the thumbnails.
    QRegion changed = Img->isVisible() ? QRegion(Img->geometry()) : QRegion();
    if (const std::optional<Run> run = RunOf(CurrentProcess().RunStyle)) {
        if (*run == Run::FullScreen)
            ShowPanelFull();
        else
            ShowPanelFitted(CurrentProcess().FitMode);
        if (*run == Run::Iconize) ShowPanelIcon();
    }
    changed += Img->geometry();
    if (PanelIndex > 0) changed += PreIcon[PanelIndex]->geometry();
    repaint(changed);  // drawn now, so that the panel's time starts when it is on screen
}

// Waits the panel's display time, counted from the end of its drawing, while
// the window goes on handling events. A pause restarts the whole time.
void frm_prev::WaitPanelTime() {
    PrepareNextPanel();
    uint64_t start = ClockMicros();
    for (;;) {
        const int64_t interval = CurrentProcess().IntervalMs;
        if (interval <= 0 || ClockMicros() - start >= uint64_t(interval) * 1000) return;
        WaitForEventsUntil(start + uint64_t(interval) * 1000);
        if (closed_) return;
        if (Paused) {
            while (Paused && Running && !closed_)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (closed_) return;
            start = ClockMicros();
        }
        if (!Running) return;
    }
}

// Sleeps until an event arrives or the deadline is near; the precise timer
// makes sure one does. Timers can fire a few milliseconds late, so the timer
// wakes the loop a little early and the last stretch is waited in short naps.
void frm_prev::WaitForEventsUntil(uint64_t deadlineMicros) {
    constexpr uint64_t kFinalStretch = 3000;
    const uint64_t now = ClockMicros();
    if (now >= deadlineMicros) return;
    const uint64_t remaining = deadlineMicros - now;
    if (remaining > kFinalStretch) {
        if (!wake_->isActive())
            wake_->start(int(std::min<uint64_t>((remaining - kFinalStretch) / 1000, INT32_MAX)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return;
    }
    DoEvents();
    std::this_thread::sleep_for(std::chrono::microseconds(std::min<uint64_t>(remaining, 200)));
}

// Converts the next panel's picture for drawing while this one is on screen,
// when it has been decoded already.
void frm_prev::PrepareNextPanel() {
    const int next = PanelIndex + 1;
    if (next > 3 || !decoder_->Ready(next)) return;
    const Picture& picture = decoder_->Get(next);
    if (!picture.isNull()) prepared_[next] = QPixmap::fromImage(picture.image);
}

void frm_prev::ShowPanelFitted(int16_t fitMode) {
    const ProcessRecord& process = CurrentProcess();
    Img->hide();
    Img->SetPicture(decoder_->Get(PanelIndex), std::exchange(prepared_[PanelIndex], {}));
    // An unknown fit mode keeps the stretching and size the picture had.
    const QSizeF client = size();
    const std::optional<PictureLayout> layout = LayOutPicture(
        client, fitMode, QSizeF(process.FixedWidth, process.FixedHeight), Img->OwnSize());
    if (layout) {
        Img->SetStretch(layout->stretch);
        Img->SetLogicalGeometry(layout->rect);
    } else {
        Img->SetLogicalPos(PicturePlace(client, Img->LogicalGeometry().size()));
    }
    Img->SetAppearance(process.ImageAppearance);
    Img->show();
}

void frm_prev::ShowPanelFull() {
    Img->hide();
    Img->SetStretch(true);
    Img->SetPicture(decoder_->Get(PanelIndex), std::exchange(prepared_[PanelIndex], {}));
    Img->SetLogicalGeometry(QRectF(QPointF(0, 0), QSizeF(size())));
    Img->SetAppearance(CurrentProcess().ImageAppearance);
    Img->show();
}

void frm_prev::ShowPanelIcon() {
    const int i = PanelIndex;
    if (i <= 0) return;
    ImageControl* icon = PreIcon[i];
    icon->SetStretch(true);
    const Picture& shown = decoder_->Get(i - 1);
    icon->SetPicture(shown.isNull() ? Picture{}
                                    : Picture{shown.image.scaled(50, 50, Qt::IgnoreAspectRatio,
                                                                 Qt::SmoothTransformation),
                                              shown.naturalSize});
    icon->SetLogicalGeometry(QRectF(60 * i - 51, 10, 50, 50));
    icon->show();
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
    frm_prev player(view.Owner());
    player.exec();
}
