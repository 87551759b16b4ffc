// The order dialog: moves the panels of the current process up and down.
#pragma once

#include "dialogs/DialogBase.h"

#include <array>

class MainWindow;
class QListWidget;
class QPushButton;

class frm_prono : public DialogBase {
    Q_OBJECT
  public:
    explicit frm_prono(QWidget* owner);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void FillList();
    void btnUpDown_Click(int index);
    void btnOK_Click();

    QListWidget* List = nullptr;
    std::array<QPushButton*, 2> btnUpDown{};
    QPushButton* btnOK = nullptr;
};

void OrderCommand(MainWindow& window);
