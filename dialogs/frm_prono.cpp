#include "dialogs/frm_prono.h"

#include "dialogs/ProcessView.h"

#include <QKeyEvent>
#include "dialogs/ListBox.h"

#include <QLabel>
#include <QPushButton>

frm_prono::frm_prono(ProcessView& view)
    : DialogBase(view.Owner(), "frm_prono", 4080, 2010), view_(view) {
    setWindowTitle(QStringLiteral("プロセスの順位"));
    Place<QLabel>(this, "Label1", Twips(120, 120, 2175, 255), QStringLiteral("現在の順番"));
    List = Place<ListBox>(this, "List", Twips(120, 360, 3255, 1140));
    btnUpDown[0] = Button(this, "btnUpDown", QStringLiteral("▲"), Twips(3480, 480, 495, 375));
    btnUpDown[1] = Button(this, "btnUpDown", QStringLiteral("▼"), Twips(3480, 960, 495, 375));
    btnOK = Button(this, "btnOK", QStringLiteral("閉じる"), Twips(1560, 1560, 975, 375));
    List->setAccessibleName(QStringLiteral("現在の順番"));
    btnUpDown[0]->setAccessibleName(QStringLiteral("上へ"));
    btnUpDown[1]->setAccessibleName(QStringLiteral("下へ"));
    btnOK->setDefault(true);
    for (int k = 0; k < 2; ++k)
        connect(btnUpDown[k], &QPushButton::clicked, this, [this, k] { btnUpDown_Click(k); });
    connect(btnOK, &QPushButton::clicked, this, &frm_prono::btnOK_Click);
    if (!TrimFixed(CurrentProcess().Name).isEmpty()) FillList();
    List->setFocus();
}

void frm_prono::FillList() {
    QStringList paths;
    for (const auto& path : CurrentProcess().PanelPath) paths << TrimFixed(path);
    List->SetRows(TextRows(paths));
}

void frm_prono::btnUpDown_Click(int index) {
    const int a = List->currentRow();
    if (a < 0 || !List->SelectedText()) return;
    auto& paths = CurrentProcess().PanelPath;
    int b = a;
    if (index == 0 && a > 0) b = a - 1;
    if (index == 1 && a < List->count() - 1) b = a + 1;
    std::swap(paths[a], paths[b]);
    FillList();
    List->setCurrentRow(b);
}

void frm_prono::btnOK_Click() {
    view_.ApplyProcess(CurrentProcess());
    accept();
}

// The dialog has no cancel button, so Escape does nothing.
void frm_prono::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) return;
    DialogBase::keyPressEvent(event);
}

void OrderCommand(ProcessView& view) {
    frm_prono order(view);
    order.exec();
}
