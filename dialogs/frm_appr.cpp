#include "dialogs/frm_appr.h"

#include "dialogs/ImageControl.h"
#include "dialogs/ProcessView.h"
#include "platform/Numeric.h"

#include <QButtonGroup>
#include <QPushButton>
#include <QRadioButton>

frm_appr::frm_appr(QWidget* owner, const ImageControl& mainPicture)
    : DialogBase(owner, "frm_appr", 3390, 1935), mainPicture_(mainPicture) {
    setWindowTitle(QStringLiteral("イメージの調整"));
    const QString captions[] = {QStringLiteral("フォームのサイズに合わせる"),
                                QStringLiteral("現在の大きさに固定する"),
                                QStringLiteral("元画像の大きさに合わせる")};
    auto* group = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        opt[i] =
            Place<QRadioButton>(this, "opt", Twips(240, 240 + 360 * i, 2895, 255), captions[i]);
        group->addButton(opt[i], i);
    }
    connect(group, &QButtonGroup::idClicked, this, &frm_appr::opt_Click);
    btnOK = Button(this, "btnOK", QStringLiteral("閉じる"), Twips(1080, 1440, 1095, 375));
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    // Form_Load: a fit mode outside 0 to 2 (a damaged record) chooses no option.
    if (const std::optional<Fit> fit = FitOf(CurrentProcess().FitMode)) {
        const int mode = int(*fit);
        opt[mode]->setChecked(true);
        opt_Click(mode);
        opt[mode]->setFocus();
    }
}

void frm_appr::opt_Click(int index) {
    CurrentProcess().FitMode = int16_t(index);
}

// Whatever closes the dialog (the button, Enter, Escape or the close box)
// freezes the main picture's present size as the fixed size.
void frm_appr::done(int result) {
    const QSizeF size = mainPicture_.LogicalGeometry().size();
    CurrentProcess().FixedWidth = ToInt32RoundedHalfEven(size.width()).value_or(0);
    CurrentProcess().FixedHeight = ToInt32RoundedHalfEven(size.height()).value_or(0);
    DialogBase::done(result);
}

void ImageAdjustCommand(ProcessView& view) {
    {
        frm_appr dialog(view.Owner(), view.Picture());
        dialog.exec();
    }
    view.ApplyProcess(CurrentProcess());
    view.FitImage();
}
