#include "dialogs/frm_opt.h"

#include "dialogs/ProcessView.h"
#include "platform/Numeric.h"
#include "platform/PlatformUi.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {
constexpr int kTypedIntervalDigits = 4;
}  // namespace

frm_opt::frm_opt(QWidget* owner) : DialogBase(owner, "frm_opt", 3435, 2415) {
    setWindowTitle(QStringLiteral("オプション"));
    auto* frame1 = Place<QGroupBox>(this, "Frame1", Twips(120, 120, 1935, 615),
                                    QStringLiteral("表示スピード（ミリ秒）"));
    Text1 = Place<QLineEdit>(frame1, "Text1", Twips(120, 240, 1695, 270));
    Text1->setMaxLength(kTypedIntervalDigits);
    Text1->setAccessibleName(frame1->title());
    auto* frame2 = Place<QGroupBox>(this, "Frame2", Twips(120, 840, 1935, 1455),
                                    QStringLiteral("実行時の画像処理"));
    const QString captions[] = {QStringLiteral("標準表示"), QStringLiteral("全画面表示"),
                                QStringLiteral("アイコン化")};
    for (int i = 0; i < 3; ++i)
        opt[i] = Place<QRadioButton>(
            frame2, "opt", Twips(240, 360 + 360 * i, i == 2 ? 1575 : 1455, 255), captions[i]);
    opt[0]->setChecked(true);
    btn[0] = Button(this, "btn", QStringLiteral("OK"), Twips(2160, 1440, 1095, 375));
    btn[1] = Button(this, "btn", QStringLiteral("キャンセル"), Twips(2160, 1920, 1095, 375));
    btn[0]->setDefault(true);
    for (int i = 0; i < 2; ++i)
        connect(btn[i], &QPushButton::clicked, this, [this, i] { btn_Click(i); });
    auto* note = Place<QLabel>(this, "Label1", Twips(2160, 240, 1095, 1095),
                               QStringLiteral("全画面表示の場合、画像のスタイルは無視されます"));
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTabOrder(Text1, opt[0]);
    setTabOrder(opt[0], btn[0]);
    setTabOrder(btn[0], btn[1]);
    Form_Load();
    Text1->setFocus();
}

void frm_opt::Form_Load() {
    const ProcessRecord& process = CurrentProcess();
    ShowWhole(Text1, QString::number(process.IntervalMs), kTypedIntervalDigits);
    // A run style outside 0 to 2 (from a store made elsewhere) chooses no button.
    if (const std::optional<Run> run = RunOf(process.RunStyle)) {
        opt[int(*run)]->setChecked(true);
    } else {
        opt[0]->setAutoExclusive(false);
        opt[0]->setChecked(false);
        opt[0]->setAutoExclusive(true);
    }
}

void frm_opt::btn_Click(int index) {
    if (index != 0) {
        reject();
        return;
    }
    if (Text1->text().isEmpty()) Text1->setText(QStringLiteral("0"));
    const std::optional<double> number = ParseNumber(Text1->text());
    const std::optional<int32_t> interval = number ? ToInt32RoundedHalfEven(*number) : std::nullopt;
    if (!interval) {
        Ui().ShowError(this, QStringLiteral("タイマ値が不正です"));
        return;
    }
    ProcessRecord& process = CurrentProcess();
    process.IntervalMs = *interval;
    for (int i = 0; i < 3; ++i) {
        if (!opt[i]->isChecked()) continue;
        process.RunStyle = int16_t(i);
        break;
    }
    accept();
}

void OptionsCommand(ProcessView& view) {
    frm_opt options(view.Owner());
    options.exec();
}
