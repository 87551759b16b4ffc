// The order dialog: moves the panels of the current process up and down.
#pragma once

#include "dialogs/DialogBase.h"

#include <array>

class ProcessView;
class ListBox;
class QPushButton;

class frm_prono : public DialogBase {
    Q_OBJECT
  public:
    explicit frm_prono(ProcessView& view);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    ProcessView& view_;
    void FillList();
    void btnUpDown_Click(int index);
    void btnOK_Click();

    ListBox* List = nullptr;
    std::array<QPushButton*, 2> btnUpDown{};
    QPushButton* btnOK = nullptr;
};

void OrderCommand(ProcessView& view);
