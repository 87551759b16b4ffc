// The options dialog: the run style and the display time of each panel.
#pragma once

#include "dialogs/DialogBase.h"

#include <array>

class ProcessView;
class QLineEdit;
class QPushButton;
class QRadioButton;

class frm_opt : public DialogBase {
    Q_OBJECT
  public:
    explicit frm_opt(QWidget* owner);

  private:
    void Form_Load();
    void btn_Click(int index);

    QLineEdit* Text1 = nullptr;
    std::array<QRadioButton*, 3> opt{};
    std::array<QPushButton*, 2> btn{};
};

void OptionsCommand(ProcessView& view);
