#include "export/frm_export.h"

#include "dialogs/ProcessView.h"
#include "platform/PlatformUi.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>

namespace {

constexpr ExportFormat kFormats[] = {ExportFormat::Strip, ExportFormat::WebP, ExportFormat::Gif,
                                     ExportFormat::Frames};
// An export that takes longer than this shows its progress.
constexpr int kShowProgressAfterMs = 500;

QString SizeText(QSize size) {
    return QStringLiteral("%1×%2").arg(size.width()).arg(size.height());
}

QString FilterNameOf(ExportFormat format) {
    switch (format) {
        case ExportFormat::WebP:
            return QStringLiteral("WebP 画像");
        case ExportFormat::Gif:
            return QStringLiteral("GIF 画像");
        default:
            return QStringLiteral("PNG 画像");
    }
}

// The folder a first export goes to: the user's pictures, else the home folder.
QString StartFolder() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

// The process's name as a file name: no folder separators, nothing hidden.
QString FileNameFor(const QString& name) {
    QString file = name.trimmed();
    file.replace(u'/', u'_');
    while (file.startsWith(u'.')) file.remove(0, 1);
    return file.isEmpty() ? QStringLiteral("kadrelo") : file;
}

}  // namespace

QString SuffixOf(ExportFormat format) {
    switch (format) {
        case ExportFormat::WebP:
            return QStringLiteral("webp");
        case ExportFormat::Gif:
            return QStringLiteral("gif");
        default:
            return QStringLiteral("png");
    }
}

frm_export::frm_export(QWidget* owner) : DialogBase(owner, "frm_export", 5400, 3600) {
    setWindowTitle(QStringLiteral("エクスポート"));
    auto* frame1 =
        Place<QGroupBox>(this, "Frame1", Twips(120, 120, 3135, 1695), QStringLiteral("形式"));
    const QString captions[] = {
        QStringLiteral("4コマを縦に並べた PNG(&S)"), QStringLiteral("アニメーション WebP(&W)"),
        QStringLiteral("アニメーション GIF(&G)"), QStringLiteral("1コマずつの PNG、4枚(&F)")};
    for (int i = 0; i < 4; ++i) {
        opt[i] =
            Place<QRadioButton>(frame1, "opt", Twips(240, 330 + 330 * i, 2775, 285), captions[i]);
        connect(opt[i], &QRadioButton::toggled, this, [this](bool on) {
            if (on) opt_Click();
        });
    }
    auto* frame2 =
        Place<QGroupBox>(this, "Frame2", Twips(3375, 120, 1905, 1035), QStringLiteral("WebP"));
    chkLossy = Place<QCheckBox>(frame2, "chkLossy", Twips(240, 330, 1545, 285),
                                QStringLiteral("非可逆圧縮(&L)"));
    auto* qualityLabel =
        Place<QLabel>(frame2, "Label3", Twips(240, 660, 720, 285), QStringLiteral("品質(&Q)"));
    txtQuality = Place<QSpinBox>(frame2, "txtQuality", Twips(960, 630, 825, 315));
    txtQuality->setRange(0, 100);
    txtQuality->setValue(80);
    qualityLabel->setBuddy(txtQuality);
    connect(chkLossy, &QCheckBox::toggled, txtQuality, &QWidget::setEnabled);

    auto* sizeLabel = Place<QLabel>(this, "Label1", Twips(120, 1980, 1560, 285),
                                    QStringLiteral("1コマの大きさ(&Z)"));
    cboSize = Place<QComboBox>(this, "cboSize", Twips(1680, 1950, 2400, 345));
    cboSize->setEditable(true);
    cboSize->setInsertPolicy(QComboBox::NoInsert);
    sizeLabel->setBuddy(cboSize);
    cboSize->lineEdit()->setAccessibleName(QStringLiteral("1コマの大きさ"));
    auto* fileLabel = Place<QLabel>(this, "Label2", Twips(120, 2445, 1560, 285),
                                    QStringLiteral("書き出し先(&O)"));
    txtFile = Place<QLineEdit>(this, "txtFile", Twips(1680, 2415, 2520, 345));
    fileLabel->setBuddy(txtFile);
    btnBrowse =
        Button(this, "btnBrowse", QStringLiteral("参照(&B)..."), Twips(4260, 2400, 1020, 375));
    connect(btnBrowse, &QPushButton::clicked, this, &frm_export::btnBrowse_Click);
    lblTiming = Place<QLabel>(this, "lblTiming", Twips(120, 2850, 5160, 285));

    btnOK = Button(this, "btnOK", QStringLiteral("書き出す"), Twips(2985, 3165, 1095, 375));
    btnCAN = Button(this, "btnCAN", QStringLiteral("キャンセル"), Twips(4185, 3165, 1095, 375));
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &frm_export::btnOK_Click);
    connect(btnCAN, &QPushButton::clicked, this, &frm_export::reject);
    setTabOrder(opt[0], chkLossy);
    setTabOrder(chkLossy, txtQuality);
    setTabOrder(txtQuality, cboSize);
    setTabOrder(cboSize, txtFile);
    setTabOrder(txtFile, btnBrowse);
    setTabOrder(btnBrowse, btnOK);
    setTabOrder(btnOK, btnCAN);
    Form_Load();
    opt[0]->setFocus();
}

void frm_export::Form_Load() {
    const QScreen* screen = parentWidget() && parentWidget()->screen()
                                ? parentWidget()->screen()
                                : QGuiApplication::primaryScreen();
    // The screen in its own pixels: at a scale above 1 the player draws that finely.
    const double ratio = screen ? std::max(1.0, screen->devicePixelRatio()) : 1.0;
    const QSize screenSize = screen ? (QSizeF(screen->size()) * ratio).toSize() : QSize(800, 600);
    cboSize->addItem(SizeText(screenSize) + QStringLiteral("（画面）"), ratio);
    cboSize->addItem(SizeText(QSize(800, 600)));
    const QString name = FileNameFor(TrimFixed(CurrentProcess().Name));
    txtFile->setText(QDir(StartFolder()).filePath(name + QStringLiteral(".png")));
    opt[0]->setChecked(true);
    chkLossy->setChecked(false);
    txtQuality->setEnabled(false);
    opt_Click();
}

ExportFormat frm_export::Format() const {
    for (int i = 0; i < 4; ++i)
        if (opt[i]->isChecked()) return kFormats[i];
    return ExportFormat::Strip;
}

std::optional<frm_export::Frame> frm_export::FrameSize() const {
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{1,6})\\s*[x×X＊*]\\s*(\\d{1,6})"));
    const QString text = cboSize->currentText();
    const auto m = pattern.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const QSize size(m.captured(1).toInt(), m.captured(2).toInt());
    const bool screen = text == cboSize->itemText(0);
    const double ratio = screen ? cboSize->itemData(0).toDouble() : 1.0;
    if (!FrameSizeAllowed(size)) return std::nullopt;
    return Frame{size, ratio};
}

// A new format: the file takes its extension, and the WebP settings are
// reachable only for WebP.
void frm_export::opt_Click() {
    const ExportFormat format = Format();
    const bool webp = format == ExportFormat::WebP;
    chkLossy->parentWidget()->setEnabled(webp);
    txtQuality->setEnabled(webp && chkLossy->isChecked());
    const QFileInfo file(txtFile->text());
    if (!txtFile->text().isEmpty() && file.suffix().toLower() != SuffixOf(format))
        txtFile->setText(
            QDir(file.path()).filePath(file.completeBaseName() + u'.' + SuffixOf(format)));
    ShowTiming();
}

// Says when the format cannot keep the process's display time as it is.
void frm_export::ShowTiming() {
    const ExportFormat format = Format();
    const int32_t interval = CurrentProcess().IntervalMs;
    const FrameTiming timing = TimingFor(format, interval);
    const bool animated = format == ExportFormat::WebP || format == ExportFormat::Gif;
    if (!animated || !timing.changed) {
        lblTiming->clear();
    } else if (format == ExportFormat::Gif && interval >= 0 && timing.frameMs < 655350) {
        lblTiming->setText(QStringLiteral("GIF の表示時間は 10 ミリ秒単位です（%1 → %2 ミリ秒）")
                               .arg(interval)
                               .arg(timing.frameMs));
    } else {
        lblTiming->setText(
            QStringLiteral("この形式の表示時間は %1 ミリ秒になります（表示間隔 %2 ミリ秒）")
                .arg(timing.frameMs)
                .arg(interval));
    }
}

void frm_export::btnBrowse_Click() {
    const ExportFormat format = Format();
    const QString chosen =
        Ui().ChooseNewFile(this, FilterNameOf(format), SuffixOf(format), txtFile->text());
    if (!chosen.isEmpty()) txtFile->setText(chosen);
    txtFile->setFocus();
}

// A file already there is replaced only when the user says so.
bool frm_export::AllowedToReplace(const QString& path) {
    QStringList existing;
    const bool frames = Format() == ExportFormat::Frames;
    for (int i = 0; i < (frames ? 4 : 1); ++i) {
        const QString file = frames ? FramePath(path, i) : path;
        if (QFileInfo::exists(file)) existing << QFileInfo(file).fileName();
    }
    if (existing.isEmpty()) return true;
    return Ui().AskYesNo(this, existing.join(QStringLiteral("、")) +
                                   QStringLiteral(" は既にあります。\r置き換えますか？"));
}

void frm_export::btnOK_Click() {
    const std::optional<Frame> frame = FrameSize();
    if (!frame) {
        Ui().ShowError(this, QStringLiteral("1コマの大きさは 幅×高さ で入力してください\r"
                                            "（1×1 から 16384×16384、6400 万ピクセルまで）"));
        cboSize->setFocus();
        return;
    }
    const QString path = txtFile->text().trimmed();
    if (path.isEmpty() || QFileInfo(path).fileName().isEmpty()) {
        Ui().ShowError(this, QStringLiteral("書き出し先のファイル名を入力してください"));
        txtFile->setFocus();
        return;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!AllowedToReplace(absolute)) return;
    ExportOptions options;
    options.format = Format();
    options.size = frame->size;
    options.pixelRatio = frame->ratio;
    options.quality = chkLossy->isChecked() ? txtQuality->value() : -1;
    const ExportOutcome outcome = RunExport(absolute, options);
    if (outcome.status == ExportOutcome::Done) return accept();
    if (outcome.status != ExportOutcome::Cancelled)
        Ui().ShowError(this, QStringLiteral("書き出せませんでした\r") + outcome.reason);
}

// Runs the export while the dialog waits; one that takes longer than half a
// second shows its progress, with a button that cancels it.
ExportOutcome frm_export::RunExport(const QString& path, const ExportOptions& options) {
    ExportProgress progress;
    QProgressDialog bar(QStringLiteral("書き出しています..."), QStringLiteral("キャンセル"), 0,
                        ExportProgress::kSteps, this);
    bar.setObjectName(QStringLiteral("progress"));
    bar.setWindowTitle(kAppTitle);
    bar.setWindowModality(Qt::WindowModal);
    bar.setMinimumDuration(kShowProgressAfterMs);
    bar.setAutoClose(false);
    bar.setAutoReset(false);
    connect(&bar, &QProgressDialog::canceled, this, [&progress] { progress.cancel = true; });
    QTimer poll;
    connect(&poll, &QTimer::timeout, &bar, [&] { bar.setValue(progress.done); });
    poll.start(50);
    bar.setValue(0);
    exporting_ = true;
    QWidget* focused = focusWidget();
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child != &bar) child->setEnabled(false);
    const ExportOutcome outcome = ExportProcess(CurrentProcess(), path, options, &progress);
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->setEnabled(true);
    opt_Click();
    if (focused) focused->setFocus();  // where the keyboard was before the export
    exporting_ = false;
    return outcome;
}

// Escape and the close box do nothing while an export runs: its own Cancel stops it.
void frm_export::reject() {
    if (!exporting_) DialogBase::reject();
}

void ExportCommand(ProcessView& view) {
    frm_export dialog(view.Owner());
    dialog.exec();
}
