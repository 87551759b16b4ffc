// The process editor: the four panel images of the current process.
#pragma once

#include "dialogs/DialogBase.h"
#include "model/ProcessRecord.h"

#include <array>

class ImageControl;
class ProcessView;
class QGroupBox;
class QLineEdit;
class QPushButton;

class frm_process : public DialogBase {
    Q_OBJECT
  public:
    frm_process(ProcessView& view, const QString& title);

    static const QString kNewName;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    ProcessView& view_;
    void Form_Load();
    void btn_Click(int index);
    void btnPREV_Click();
    void btnOK_Click();
    void SetPanelFromFile(int index, const QString& path);
    void ShowPreview(int index, const QString& path);
    int PanelOf(QObject* widget) const;

    std::array<QGroupBox*, kPanelCount> Frame1{};
    std::array<QLineEdit*, kPanelCount> Text1{};
    std::array<QPushButton*, kPanelCount> btn{};
    std::array<ImageControl*, kPanelCount> Image1{};
    QPushButton* btnOK = nullptr;
    QPushButton* btnCAN = nullptr;
    QPushButton* btnPREV = nullptr;
    FixedText<kNameLength> EditName{};
};

// The open-image dialog: the full path of an existing picture file, or the empty text.
QString ShowOpenImageDialog(QWidget* owner);

// New: after an optional discard question, resets the current process and opens the editor.
void NewProcessCommand(ProcessView& view);
// Edit process: opens the editor on the current process.
void EditProcessCommand(ProcessView& view);
