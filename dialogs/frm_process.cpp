#include "dialogs/frm_process.h"

#include "dialogs/ImageControl.h"
#include "dialogs/ProcessView.h"
#include "platform/CodePage932.h"
#include "platform/FileOps.h"
#include "platform/PlatformUi.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

const QString frm_process::kNewName = QStringLiteral("新しいプロセス");

namespace {

const QString kPreviewTip = QStringLiteral("プレビュー");

// The one local file a drag carries, or the empty text.
QString DraggedFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
    const QUrl url = mime->urls().constFirst();
    return url.isLocalFile() && IsNormalFile(url.toLocalFile()) ? url.toLocalFile() : QString();
}

// The existence test: text names an existing normal file, and the path fits
// its field whole (at most 259 characters and 260 bytes in code page 932), so
// that what is stored is never a cut path.
bool PassesPathTest(const QString& text) {
    return text.size() < kPathLength && cp932::Encode(text).bytes.size() <= kPathLength &&
           IsNormalFile(text);
}

QString PreviewName(int index) {
    return PanelName(index) + QStringLiteral("のプレビュー");
}

}  // namespace

QString ShowOpenImageDialog(QWidget* owner) {
    return TrimFixed(Ui().ChooseExistingFile(owner, QStringLiteral("全ての画像ファイル"),
                                             {"bmp", "jpeg", "jpg", "ico", "emf"}));
}

frm_process::frm_process(ProcessView& view, const QString& title)
    : DialogBase(view.Owner(), "frm_process", 6330, 4050), view_(view) {
    for (int i = 0; i < kPanelCount; ++i) {
        Frame1[i] =
            Place<QGroupBox>(this, "Frame1", Twips(120, 120 + 840 * i, 5175, 615), PanelName(i));
        Text1[i] = Place<QLineEdit>(Frame1[i], "Text1", Twips(120, 240, 4335, 270));
        btn[i] = Button(Frame1[i], "btn", QStringLiteral("..."), Twips(4560, 240, 495, 255));
        const int side = i == 0 ? 800 : 795;
        Image1[i] = Place<ImageControl>(this, "Image1", Twips(5400, 120 + 840 * i, side, side));
        Image1[i]->SetLogicalGeometry(Image1[i]->geometry());
        Image1[i]->setToolTip(kPreviewTip);
        Image1[i]->SetSpokenName(PreviewName(i));
        Text1[i]->setAccessibleName(PanelName(i));
        btn[i]->setAccessibleName(QStringLiteral("参照"));
        btn[i]->setAccessibleDescription(PanelName(i) + QStringLiteral("の画像を選びます"));
        Image1[i]->setAcceptDrops(true);
        Text1[i]->setAcceptDrops(true);
        Text1[i]->installEventFilter(this);
        Image1[i]->installEventFilter(this);
        connect(btn[i], &QPushButton::clicked, this, [this, i] { btn_Click(i); });
    }
    btnOK = Button(this, "btnOK", QStringLiteral("OK"), Twips(1560, 3600, 1095, 375));
    btnCAN = Button(this, "btnCAN", QStringLiteral("キャンセル"), Twips(2760, 3600, 1095, 375));
    btnPREV = Button(this, "btnPREV", QStringLiteral("更新"), Twips(3960, 3600, 1095, 375));
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &frm_process::btnOK_Click);
    connect(btnCAN, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnPREV, &QPushButton::clicked, this, &frm_process::btnPREV_Click);

    QWidget* previous = Text1[0];
    for (QWidget* next : {static_cast<QWidget*>(Text1[1]), static_cast<QWidget*>(Text1[2]),
                          static_cast<QWidget*>(Text1[3]), static_cast<QWidget*>(btn[0]),
                          static_cast<QWidget*>(btn[1]), static_cast<QWidget*>(btn[2]),
                          static_cast<QWidget*>(btn[3]), static_cast<QWidget*>(btnOK),
                          static_cast<QWidget*>(btnCAN), static_cast<QWidget*>(btnPREV)}) {
        setTabOrder(previous, next);
        previous = next;
    }
    setWindowTitle(title);
    Form_Load();
    Text1[0]->setFocus();
}

void frm_process::Form_Load() {
    const ProcessRecord& process = CurrentProcess();
    if (!TrimFixed(process.Name).isEmpty()) {
        for (int i = 0; i < kPanelCount; ++i) Text1[i]->setText(TrimFixed(process.PanelPath[i]));
        btnPREV_Click();
        EditName = process.Name;
    } else {
        AssignFixed(EditName, kNewName);
    }
}

void frm_process::SetPanelFromFile(int index, const QString& path) {
    Text1[index]->setText(path);
    // A file that is no picture leaves the preview as it was; one whose header
    // says it is a picture is shown as previews are (a large one later).
    if (MeasurePicture(path).isValid()) return ShowPreview(index, path);
    Picture picture = LoadPicture(path, Image1[index]->DeviceSize());
    if (picture.isNull()) return;
    Image1[index]->SetPicture(std::move(picture));
    Image1[index]->setToolTip(kPreviewTip);
    Image1[index]->SetSpokenName(PreviewName(index), path);
}

// Loads a preview (a large picture later, on a worker thread); an empty
// preview of a file that is there says why in its tooltip.
void frm_process::ShowPreview(int index, const QString& path) {
    ImageControl* preview = Image1[index];
    auto explain = [preview](const Picture& picture) {
        const QString reason = picture.isNull() ? DescribeLoadError(picture.error) : QString();
        preview->setToolTip(reason.isEmpty() ? kPreviewTip : kPreviewTip + u'\n' + reason);
    };
    if (preview->Load(path, preview->DeviceSize(), explain)) explain(preview->CurrentPicture());
    preview->SetSpokenName(PreviewName(index), path);
}

void frm_process::btn_Click(int index) {
    const QString path = TrimFixed(ShowOpenImageDialog(this));
    if (!path.isEmpty()) SetPanelFromFile(index, path);
}

void frm_process::btnPREV_Click() {
    for (int i = 0; i < kPanelCount; ++i) {
        const QString path = Text1[i]->text();
        const bool passes = PassesPathTest(TrimFixed(path));
        Picture picture = passes ? LoadPicture(path, Image1[i]->DeviceSize()) : Picture{};
        // An empty preview of a file that is there says why in its tooltip.
        const QString reason =
            passes && picture.isNull() ? DescribeLoadError(picture.error) : QString();
        Image1[i]->setToolTip(reason.isEmpty() ? kPreviewTip : kPreviewTip + u'\n' + reason);
        Image1[i]->SetPicture(std::move(picture));
        Image1[i]->SetSpokenName(PreviewName(i), passes ? path : QString());
    }
}

void frm_process::btnOK_Click() {
    ProcessRecord& process = CurrentProcess();
    for (int i = 0; i < kPanelCount; ++i) {
        if (PassesPathTest(Text1[i]->text())) {
            AssignFixed(process.PanelPath[i], Text1[i]->text());
            continue;
        }
        const QString message = QStringLiteral("不正なパスがあります\r") + QString::number(i + 1) +
                                QStringLiteral("コマ目\rやり直しますか？");
        if (Ui().AskYesNo(this, message)) return;
    }
    process.Name = EditName;
    view_.ApplyProcess(process);
    accept();
}

int frm_process::PanelOf(QObject* widget) const {
    for (int i = 0; i < kPanelCount; ++i)
        if (widget == Text1[i] || widget == Image1[i]) return i;
    return -1;
}

// Dropping one image file on a panel's path box or preview does what "..."
// does. Anything else (text, a folder, an address, several files) is refused,
// so that the path box never takes raw dropped text.
bool frm_process::eventFilter(QObject* watched, QEvent* event) {
    const int panel = PanelOf(watched);
    const QEvent::Type type = event->type();
    if (panel < 0 ||
        (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop))
        return DialogBase::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    const QString path = DraggedFile(drop->mimeData());
    if (path.isEmpty()) {
        drop->ignore();
        return true;
    }
    if (type == QEvent::Drop) SetPanelFromFile(panel, path);
    drop->acceptProposedAction();
    return true;
}

void NewProcessCommand(ProcessView& view) {
    QWidget* owner = view.Owner();
    if (!TrimFixed(CurrentProcess().Name).isEmpty() &&
        !Ui().AskYesNo(owner, QStringLiteral("現在のプロセスを破棄しますか？")))
        return;
    CurrentProcess() = ProcessRecord{};
    view.ApplyProcess(CurrentProcess());
    frm_process editor(view, frm_process::kNewName);
    editor.setWindowIcon(owner->windowIcon());
    editor.exec();
}

void EditProcessCommand(ProcessView& view) {
    frm_process editor(view, QStringLiteral("プロセスの編集"));
    editor.setWindowIcon(view.Owner()->windowIcon());
    editor.exec();
}
