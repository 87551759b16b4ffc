// The process list: opens or deletes stored processes.
#pragma once

#include "dialogs/DialogBase.h"
#include "model/ProcessRecord.h"

class ProcessView;
class ProcessStore;
class ListBox;
class QPushButton;

class frm_open : public DialogBase {
    Q_OBJECT
  public:
    explicit frm_open(ProcessView& view);

  private:
    bool FillProcessList();
    bool FindProcessByName(const QString& name, ProcessRecord& destination, QString* error);
    void btnOPEN_Click();
    void btnDEL_Click();

    ProcessView& view_;
    const ProcessStore& store_;
    ListBox* List = nullptr;
    QPushButton* btnOPEN = nullptr;
    QPushButton* btnDEL = nullptr;
    QPushButton* btnCLOSE = nullptr;
};

// Open: shows the process list, then lays the main window's picture out again.
void OpenCommand(ProcessView& view);
