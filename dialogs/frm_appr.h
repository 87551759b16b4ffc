// The image fit dialog: how the main window sizes its picture.
#pragma once

#include "dialogs/DialogBase.h"

#include <array>

class ImageControl;
class ProcessView;
class QPushButton;
class QRadioButton;

class frm_appr : public DialogBase {
    Q_OBJECT
  public:
    frm_appr(QWidget* owner, const ImageControl& mainPicture);

    void done(int result) override;

  private:
    void opt_Click(int index);

    const ImageControl& mainPicture_;
    std::array<QRadioButton*, 3> opt{};
    QPushButton* btnOK = nullptr;
};

// Image adjustment: shows the dialog, then shows and lays out the process again.
void ImageAdjustCommand(ProcessView& view);
