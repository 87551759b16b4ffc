#include "dialogs/frm_open.h"

#include "dialogs/ListBox.h"
#include "dialogs/ProcessView.h"
#include "model/ProcessStore.h"
#include "platform/PlatformUi.h"

#include <QLabel>
#include <QPushButton>

frm_open::frm_open(ProcessView& view)
    : DialogBase(view.Owner(), "frm_open", 3825, 1800), view_(view), store_(view.Store()) {
    Place<QLabel>(this, "Label1", Twips(120, 120, 1095, 255), QStringLiteral("プロセス一覧"));
    List = Place<ListBox>(this, "List", Twips(120, 360, 2535, 1320));
    List->setAccessibleName(QStringLiteral("プロセス一覧"));
    btnOPEN = Button(this, "btnOPEN", QStringLiteral("開く"), Twips(2760, 360, 975, 375));
    btnDEL = Button(this, "btnDEL", QStringLiteral("削除"), Twips(2760, 840, 975, 375));
    btnCLOSE = Button(this, "btnCLOSE", QStringLiteral("閉じる"), Twips(2760, 1320, 975, 375));
    btnOPEN->setDefault(true);
    connect(btnOPEN, &QPushButton::clicked, this, &frm_open::btnOPEN_Click);
    connect(btnDEL, &QPushButton::clicked, this, &frm_open::btnDEL_Click);
    connect(btnCLOSE, &QPushButton::clicked, this, &QDialog::reject);
    connect(List, &ListBox::rowChosen, this, &frm_open::btnOPEN_Click);
    setTabOrder(List, btnOPEN);
    setTabOrder(btnOPEN, btnDEL);
    setTabOrder(btnDEL, btnCLOSE);
    FillProcessList();
    List->setFocus();
}

bool frm_open::FillProcessList() {
    const bool exists = store_.Exists();
    btnOPEN->setEnabled(exists);
    btnDEL->setEnabled(exists);
    if (!exists) return false;
    QString error;
    std::optional<TextRows> names = store_.ReadNames(&error);
    if (!names) {
        // An empty list would look like a store without processes.
        btnOPEN->setEnabled(false);
        btnDEL->setEnabled(false);
        Ui().ShowError(parentWidget(), QStringLiteral("プロセスの一覧を読めません\r") + error);
        return false;
    }
    const bool any = !names->isEmpty();
    List->SetRows(std::move(*names));
    return any;
}

bool frm_open::FindProcessByName(const QString& name, ProcessRecord& destination, QString* error) {
    std::optional<ProcessRecord> found = store_.FindProcessByName(name, error);
    if (!found) return false;
    destination = *found;
    return true;
}

void frm_open::btnOPEN_Click() {
    const std::optional<QString> name = List->SelectedText();
    if (!name) return;
    QString error;
    if (FindProcessByName(*name, CurrentProcess(), &error))
        view_.ApplyProcess(CurrentProcess());
    else
        Ui().ShowError(this, QStringLiteral("プロセスを開けません") +
                                 (error.isEmpty() ? QString() : QStringLiteral("\r") + error));
    accept();
}

void frm_open::btnDEL_Click() {
    const std::optional<QString> selected = List->SelectedText();
    if (!selected) return;
    const QString name = *selected;
    if (!Ui().AskYesNo(this, name + QStringLiteral("\r削除しますか？"))) return;
    const StoreResult result = store_.DeleteProcess(name);
    if (!result) {
        Ui().ShowError(this, QStringLiteral("削除出来ませんでした\r") + result.reason);
        return;
    }
    List->clear();
    FillProcessList();
}

void OpenCommand(ProcessView& view) {
    {
        frm_open list(view);
        list.setWindowTitle(QStringLiteral("他のプロセス"));
        list.exec();
    }
    view.FitImage();
}
