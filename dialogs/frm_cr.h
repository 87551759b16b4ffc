// The background colour dialog: a hexadecimal colour value with a live sample.
#pragma once

#include "dialogs/DialogBase.h"

#include <cstdint>

class ProcessView;
class QLabel;
class QLineEdit;
class QPushButton;

class frm_cr : public DialogBase {
    Q_OBJECT
  public:
    explicit frm_cr(ProcessView& view);

    // The program's form of a colour value: upper-case hexadecimal, no prefix,
    // no leading zeros.
    static QString HexText(uint32_t value);

  private:
    ProcessView& view_;
    void Text_Change();
    void btncc_Click();
    void btnOK_Click();

    QLabel* Label = nullptr;
    QLineEdit* Text = nullptr;
    QPushButton* btncc = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* Command1 = nullptr;
};

// Shows the system's colour chooser owned by owner; true and the colour (0x00BBGGRR) on OK.
bool ShowColorDialog(QWidget* owner, uint32_t& color);

void BackColorCommand(ProcessView& view);
