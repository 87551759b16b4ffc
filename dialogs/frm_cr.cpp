#include "dialogs/frm_cr.h"

#include "dialogs/ProcessView.h"
#include "platform/ColorValue.h"
#include "platform/Numeric.h"
#include "platform/PlatformUi.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
constexpr int kTypedHexDigits = 6;

}  // namespace

QString frm_cr::HexText(uint32_t value) {
    return QString::number(value, 16).toUpper();
}

bool ShowColorDialog(QWidget* owner, uint32_t& color) {
    const std::optional<uint32_t> chosen = Ui().ChooseColor(owner);
    if (!chosen) return false;
    color = *chosen;
    return true;
}

frm_cr::frm_cr(ProcessView& view) : DialogBase(view.Owner(), "frm_cr", 3990, 1335), view_(view) {
    setWindowTitle(QStringLiteral("背景色"));
    Label = Place<QLabel>(this, "Label", Twips(120, 120, 1335, 1095));
    Label->setFrameShape(QFrame::Box);
    Label->setAutoFillBackground(true);
    Label->setToolTip(QStringLiteral("サンプル"));
    Label->setAccessibleName(QStringLiteral("サンプル"));
    auto* frame = Place<QGroupBox>(this, "Frame1", Twips(1560, 120, 2295, 615),
                                   QStringLiteral("16進カラー値"));
    Text = Place<QLineEdit>(frame, "Text", Twips(120, 240, 1455, 270));
    btncc = Button(frame, "btncc", QStringLiteral("..."), Twips(1680, 240, 495, 255));
    Text->setAccessibleName(frame->title());
    btncc->setAccessibleName(QStringLiteral("参照"));
    btncc->setAccessibleDescription(QStringLiteral("色の設定から色を選びます"));
    btnOK = Button(this, "btnOK", QStringLiteral("OK"), Twips(1560, 840, 1095, 375));
    Command1 = Button(this, "Command1", QStringLiteral("キャンセル"), Twips(2760, 840, 1095, 375));
    btnOK->setDefault(true);
    setTabOrder(Text, btnOK);
    setTabOrder(btnOK, Command1);
    setTabOrder(Command1, btncc);
    connect(Text, &QLineEdit::textChanged, this, &frm_cr::Text_Change);
    connect(btncc, &QPushButton::clicked, this, &frm_cr::btncc_Click);
    connect(btnOK, &QPushButton::clicked, this, &frm_cr::btnOK_Click);
    connect(Command1, &QPushButton::clicked, this, &QDialog::reject);

    // Form_Load: the current colour, in full even when a store made elsewhere
    // holds more digits than can be typed.
    ShowWhole(Text, HexText(uint32_t(CurrentProcess().BackColor)), kTypedHexDigits);
    Text->setFocus();
}

void frm_cr::Text_Change() {
    const std::optional<uint32_t> value = ParseHex(Text->text());
    if (!value) return;
    QPalette palette = Label->palette();
    palette.setColor(QPalette::Window, ColorFromValue(*value));
    Label->setPalette(palette);
}

void frm_cr::btncc_Click() {
    uint32_t color = 0;
    if (ShowColorDialog(this, color)) Text->setText(HexText(color));
}

void frm_cr::btnOK_Click() {
    const std::optional<uint32_t> value = ParseHex(Text->text());
    if (!value) {
        Ui().ShowError(this, QStringLiteral("カラー値が不正です"));
        return;
    }
    CurrentProcess().BackColor = int32_t(*value);
    view_.ApplyProcess(CurrentProcess());
    accept();
}

void BackColorCommand(ProcessView& view) {
    frm_cr dialog(view);
    dialog.exec();
}
