#include "app/SaveCommand.h"

#include "app/frm_main.h"
#include "platform/CodePage932.h"
#include "platform/PlatformUi.h"

namespace {

const QString kPrompt = QStringLiteral(
    "保存名を16文字以内で入力してください\r"
    "拡張子などはいりません\r"
    "そのままで良ければ、OKボタンをクリックしてください");

// Asks until the name fits the store's 16-byte field; the empty text on Cancel.
QString AskName(frm_main& window) {
    for (;;) {
        // Typed on Linux, 〜 and the like are the Windows characters that the store can hold.
        const QString name = cp932::WindowsForms(
            Ui().InputBox(&window, kPrompt, kAppTitle, TrimFixed(CurrentProcess().Name)));
        if (name.isEmpty() || cp932::Encode(name).bytes.size() <= kNameLength) return name;
    }
}

}  // namespace

void SaveCommand(frm_main& window) {
    const QString name = AskName(window);
    if (name.isEmpty()) return;
    AssignFixed(CurrentProcess().Name, name);
    const StoreResult result = window.Store().SaveProcess(CurrentProcess(), [&window] {
        return Ui().AskYesNo(&window, QStringLiteral("同じ名前の設定があります\r上書きしますか？"));
    });
    if (result)
        window.ApplyProcess(CurrentProcess());
    else
        Ui().ShowError(&window, QStringLiteral("保存出来ませんでした\r") + result.reason);
}
