// The player: shows the four panels of the current process one after another,
// each for its display time, with the pointer hidden and the window on top.
// Space pauses, Escape stops, Enter shows the path of the panel on screen.
#pragma once

#include "player/PanelDecoder.h"
#include "player/RunSchedule.h"

#include <QDialog>
#include <QRegion>
#include <memory>

class FramePresenter;
class ImageControl;
class PanelStage;
class ProcessView;
class QLabel;
class QScreen;
class QTimer;

class frm_prev : public QDialog {
    Q_OBJECT
  public:
    explicit frm_prev(QWidget* owner);
    ~frm_prev() override;

    bool Running = false;
    bool Paused = false;
    int32_t PanelIndex = 0;

    // Whether the picture of panel index (0 to 3) is decoded (used by tests).
    bool PanelDecoded(int index) const { return decoder_->Ready(index); }

  signals:
    // When a panel is on the screen and its time starts (used by measurements).
    void PanelShown(int index);

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Form_Activate();
    void Form_KeyUp(int keyCode);
    void Form_QueryUnload();
    QRegion LayOutPanel();
    void DrawAhead(const QRegion& changed);
    void ShowDrawnAhead(const QRegion& changed);
    bool AlreadyDrawnAhead(const QWidget* widget, const QPaintEvent* event) const;
    bool WaitUntilExposed();
    bool WaitForPanel();
    void ShowBackground();
    void EndRun();
    uint64_t WaitPanelTime(uint64_t start);
    bool ShowFirstFrame(QEvent* expose);
    void WaitForEventsUntil(uint64_t deadlineMicros);
    void StartDecoding();
    void PlaceLabel();
    void PrepareBackingStore(QScreen* screen);

    QLabel* Label = nullptr;
    std::unique_ptr<PanelStage> stage_;  // the background, the panel and the thumbnails
    ImageControl* Img = nullptr;         // the stage's panel picture
    QTimer* wake_ = nullptr;
    std::unique_ptr<PanelDecoder> decoder_;
    std::unique_ptr<FramePresenter> presenter_;
    RunSchedule schedule_;
    bool closed_ = false;
    bool runStarted_ = false;
    QRegion drawnAhead_;  // what is in the drawing memory but not yet on the screen
    bool showingDrawnAhead_ = false;
    bool firstShowing_ = false;  // the panel's picture control was hidden until this panel
    bool waitingForExposure_ = false;
    uint64_t firstShownAt_ = 0;  // when panel 1 reached the screen, if it was drawn on exposure
};

// Sets the pointer's display counter so that the pointer is shown (past 0) or
// hidden (below 0).
void SetCursorVisible(bool visible);
void SetTopMost(QWidget* window, bool topMost);

// Preview: plays the current process in the player.
void PreviewCommand(ProcessView& view);
