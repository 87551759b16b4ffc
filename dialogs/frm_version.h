// The about box: title, version, copyright and the two links.
#pragma once

#include "dialogs/DialogBase.h"

#include <array>

class ImageControl;
class ProcessView;
class QLabel;
class QPushButton;

class frm_version : public DialogBase {
    Q_OBJECT
  public:
    explicit frm_version(QWidget* owner);

    static const QString kMailAddress;
    static const QString kWebAddress;
    // Major, ".", minor and revision, with nothing between minor and revision.
    static QString VersionText(int major, int minor, int revision);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void ResetLabel3() { SetLinkLook(Label3, false); }
    void ResetLabel4() { SetLinkLook(Label4, false); }
    static constexpr double kReadableContrast = 4.5;
    QColor LinkColour(bool lit) const;
    void SetLinkLook(QLabel* link, bool lit);
    void OpenLink(const QObject* link);
    bool LinkKeyEvent(QObject* watched, QEvent* event);

    ImageControl* Image1 = nullptr;
    std::array<QLabel*, 2> Label{};
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Command1 = nullptr;
};

void AboutCommand(ProcessView& view);
