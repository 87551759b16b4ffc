#include "platform/PlatformUi.h"

#include "platform/ColorValue.h"
#include "platform/Desktop.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QTreeView>
#include <QUrl>

namespace {

// A glob that matches a suffix in any letter case: "bmp" gives "*.[bB][mM][pP]".
QString AnyCaseGlob(const QString& suffix) {
    QString glob = QStringLiteral("*.");
    for (QChar c : suffix) {
        if (c.isLetter())
            glob += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            glob += c;
    }
    return glob;
}

// A question that must be answered Yes or No: it has no cancel, so Escape and
// the close box do nothing, and its title bar has no close button.
class YesNoBox : public QMessageBox {
  public:
    YesNoBox(const QString& message, QWidget* owner)
        : QMessageBox(QMessageBox::Question, kAppTitle, message, QMessageBox::Yes | QMessageBox::No,
                      owner) {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        setDefaultButton(QMessageBox::Yes);
        setTextFormat(Qt::PlainText);  // names and paths are shown as they are
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() != Qt::Key_Escape) QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

// The size, type and date columns of the file chooser in Japanese, whatever
// the system's locale says.
class JapaneseFileColumns : public QIdentityProxyModel {
  public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const int column = index.column();
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files || (column != 1 && column != 3))
            return QIdentityProxyModel::data(index, role);
        const QFileInfo info = files->fileInfo(mapToSource(index));
        const QLocale japanese(QLocale::Japanese, QLocale::Japan);
        if (column == 1)
            return info.isDir() ? QString()
                                : japanese.formattedDataSize(info.size(), 1,
                                                             QLocale::DataSizeTraditionalFormat);
        return japanese.toString(info.lastModified(), QStringLiteral("yyyy/MM/dd H:mm"));
    }
};

// Wide enough that the name, size, type and date columns show whole.
void ShowColumnsWhole(QFileDialog& dialog) {
    dialog.resize(860, 500);
    if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        const int widths[] = {300, 90, 170, 140};
        for (int column = 0; column < 4; ++column)
            details->header()->resizeSection(column, widths[column]);
    }
}

class QtPlatformUi final : public PlatformUi {
  public:
    bool AskYesNo(QWidget* owner, const QString& message) override {
        YesNoBox box(DisplayLines(message), owner);
        CenterOnShow(&box, owner);
        return box.exec() == QMessageBox::Yes;
    }

    void ShowError(QWidget* owner, const QString& message) override {
        QMessageBox box(QMessageBox::Critical, kAppTitle, DisplayLines(message), QMessageBox::Ok,
                        owner);
        box.setTextFormat(Qt::PlainText);  // names and paths are shown as they are
        CenterOnShow(&box, owner);
        box.exec();
    }

    QString InputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultText) override {
        QInputDialog dialog(owner);
        CenterOnShow(&dialog, owner);
        dialog.setWindowTitle(title);
        dialog.setLabelText(DisplayLines(prompt));
        dialog.setTextValue(defaultText);
        return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
    }

    QString ChooseExistingFile(QWidget* owner, const QString& filterName,
                               const QStringList& suffixes) override {
        QStringList globs;
        for (const QString& s : suffixes) globs << AnyCaseGlob(s);
        QFileDialog dialog(owner);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setNameFilter(filterName + QStringLiteral(" (") + globs.join(u' ') + u')');
        dialog.setProxyModel(new JapaneseFileColumns(&dialog));
        ShowColumnsWhole(dialog);
        CenterOnShow(&dialog, owner);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        const QFileInfo chosen(dialog.selectedFiles().constFirst());
        return chosen.isFile() ? chosen.absoluteFilePath() : QString();
    }

    QString ChooseNewFile(QWidget* owner, const QString& filterName, const QString& suffix,
                          const QString& suggested) override {
        QFileDialog dialog(owner);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(filterName + QStringLiteral(" (") + AnyCaseGlob(suffix) + u')');
        dialog.setDefaultSuffix(suffix);
        dialog.setProxyModel(new JapaneseFileColumns(&dialog));
        const QFileInfo start(suggested);
        dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
        ShowColumnsWhole(dialog);
        CenterOnShow(&dialog, owner);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    }

    std::optional<uint32_t> ChooseColor(QWidget* owner) override {
        for (int i = 0; i < QColorDialog::customCount(); ++i)
            QColorDialog::setCustomColor(i, Qt::white);
        QColorDialog dialog(Qt::black, owner);
        dialog.setOption(QColorDialog::DontUseNativeDialog);
        CenterOnShow(&dialog, owner);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return ValueOfColor(dialog.selectedColor());
    }

    void Beep() override { QApplication::beep(); }

    void OpenWithDesktop(const QString& address) override {
        QDesktopServices::openUrl(QUrl(address));
    }
};

PlatformUi* g_uiOverride = nullptr;

}  // namespace

PlatformUi& Ui() {
    static QtPlatformUi real;
    return g_uiOverride ? *g_uiOverride : real;
}

void SetUi(PlatformUi* ui) {
    g_uiOverride = ui;
}

QString DisplayLines(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString ExecutableDirectory() {
    return QCoreApplication::applicationDirPath();
}
