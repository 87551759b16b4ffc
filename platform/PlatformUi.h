// The interactive and desktop services the program uses. Everything outside
// this folder reaches them through Ui(); tests install scripted answers.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

class QWidget;

inline const QString kAppTitle = QStringLiteral("Kadrelo");

class PlatformUi {
  public:
    virtual ~PlatformUi() = default;

    // A question with Yes and No and the question icon, titled with the program's
    // title. The lines of message are joined by a lone carriage return.
    virtual bool AskYesNo(QWidget* owner, const QString& message) = 0;
    // A failure with OK and the critical icon, titled with the program's title.
    virtual void ShowError(QWidget* owner, const QString& message) = 0;
    // Returns the entered text, or the empty text on Cancel.
    virtual QString InputBox(QWidget* owner, const QString& prompt, const QString& title,
                             const QString& defaultText) = 0;
    // An existing file chosen with one named filter; the empty text on Cancel.
    virtual QString ChooseExistingFile(QWidget* owner, const QString& filterName,
                                       const QStringList& suffixes) = 0;
    // A file to write, starting from suggested, with one named filter; the
    // name gets the suffix when it has none. The empty text on Cancel.
    virtual QString ChooseNewFile(QWidget* owner, const QString& filterName, const QString& suffix,
                                  const QString& suggested) = 0;
    // A colour as 0x00BBGGRR, or nothing on Cancel.
    virtual std::optional<uint32_t> ChooseColor(QWidget* owner) = 0;
    virtual void Beep() = 0;
    // Hands an address to the desktop's default handler without waiting.
    virtual void OpenWithDesktop(const QString& address) = 0;
};

PlatformUi& Ui();
// Installs another implementation (tests); nullptr restores the real one.
void SetUi(PlatformUi* ui);

// Shows text whose lines are joined by lone carriage returns as separate lines.
QString DisplayLines(const QString& text);

// The folder that holds the running executable.
QString ExecutableDirectory();
