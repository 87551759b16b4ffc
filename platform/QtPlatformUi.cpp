#include "platform/PlatformUi.h"

#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
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

class QtPlatformUi final : public PlatformUi {
  public:
    bool AskYesNo(QWidget* owner, const QString& message) override {
        QMessageBox box(QMessageBox::Question, kAppTitle, DisplayLines(message),
                        QMessageBox::Yes | QMessageBox::No, owner);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    }

    void ShowError(QWidget* owner, const QString& message) override {
        QMessageBox box(QMessageBox::Critical, kAppTitle, DisplayLines(message), QMessageBox::Ok,
                        owner);
        box.exec();
    }

    QString InputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultText) override {
        QInputDialog dialog(owner);
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
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        const QFileInfo chosen(dialog.selectedFiles().constFirst());
        return chosen.isFile() ? chosen.absoluteFilePath() : QString();
    }

    std::optional<uint32_t> ChooseColor(QWidget* owner) override {
        for (int i = 0; i < QColorDialog::customCount(); ++i)
            QColorDialog::setCustomColor(i, Qt::white);
        QColorDialog dialog(Qt::black, owner);
        dialog.setOption(QColorDialog::DontUseNativeDialog);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        const QColor c = dialog.selectedColor();
        return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
    }

    void Beep() override { QApplication::beep(); }

    void OpenWithDesktop(const QString& address) override {
        QDesktopServices::openUrl(QUrl(address));
    }
};

PlatformUi* g_override = nullptr;

}  // namespace

PlatformUi& Ui() {
    static QtPlatformUi real;
    return g_override ? *g_override : real;
}

void SetUi(PlatformUi* ui) {
    g_override = ui;
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
