// Scripted answers for the program's message, input and chooser boxes, and a
// record of what was shown, so that no test waits on a modal box.
#pragma once

#include "dialogs/ProcessView.h"
#include "platform/PlatformUi.h"

#include <QDialog>
#include <QObject>
#include <QQueue>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class ScriptedUi : public PlatformUi {
  public:
    ScriptedUi() { SetUi(this); }
    ~ScriptedUi() override { SetUi(nullptr); }

    QQueue<bool> answers;    // for AskYesNo; an empty queue answers No
    QQueue<QString> inputs;  // for InputBox; an empty queue cancels
    QQueue<QString> files;   // for ChooseExistingFile
    QQueue<std::optional<uint32_t>> colors;
    QQueue<QString> newFiles;  // for ChooseNewFile

    QStringList questions;
    QStringList errors;
    QStringList prompts;  // prompt, title and default text of each input box
    QStringList opened;
    QStringList fileFilters;
    int beeps = 0;

    bool AskYesNo(QWidget*, const QString& message) override;
    void ShowError(QWidget*, const QString& message) override;
    QString InputBox(QWidget*, const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    QString ChooseExistingFile(QWidget*, const QString& filterName,
                               const QStringList& suffixes) override;
    QString ChooseNewFile(QWidget*, const QString& filterName, const QString& suffix,
                          const QString& suggested) override;
    std::optional<uint32_t> ChooseColor(QWidget*) override;
    void Beep() override { ++beeps; }
    void OpenWithDesktop(const QString& address) override { opened << address; }
};

// Runs action once the next modal dialog is up (for commands that call exec()).
// A dialog that does not come within 5 s, or does not close within 5 s of the
// action, fails the running test and is closed, so that nothing blocks.
void WhenModal(std::function<void(QWidget*)> action);

// Whether the window system lets a program place its windows and give them
// the keyboard. Wayland compositors place windows themselves, and a headless
// one has no keyboard at all.
bool WindowSystemPlacesAndFocuses();

class frm_main;
class frm_prev;
class QTemporaryDir;

// Runs an action on the next player shown, as each of its panels reaches the
// screen, with the panel's index.
class PanelWatch : public QObject {
  public:
    explicit PanelWatch(std::function<void(frm_prev&, int)> action);
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(frm_prev&, int)> action_;
    bool hooked_ = false;
};

// A stand-in for the main window, for dialogs tested on their own: an owner
// window, a picture control, a store in a fresh folder, and a count of calls.
class ViewStandIn : public ProcessView {
  public:
    ViewStandIn();
    ~ViewStandIn() override;
    QWidget* Owner() override { return owner_.get(); }
    void ApplyProcess(const ProcessRecord&) override { ++applied; }
    void FitImage() override { ++fitted; }
    const ImageControl& Picture() const override { return *picture_; }
    const ProcessStore& Store() const override { return *store_; }

    int applied = 0;
    int fitted = 0;

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QWidget> owner_;
    ImageControl* picture_ = nullptr;
    std::unique_ptr<ProcessStore> store_;
};

// A shown main window over a store in a fresh folder, the zero current process
// and scripted boxes.
struct AppFixture {
    AppFixture();
    ~AppFixture();
    QString storePath() const;
    QString samplePath(const QString& name) const;

    std::unique_ptr<QTemporaryDir> dir;
    ScriptedUi ui;
    std::unique_ptr<frm_main> window;
};

// Every dialog of the program, made over the main window (not shown).
std::vector<std::unique_ptr<QDialog>> EveryDialog(frm_main& window);

// A named process whose panels are the four sample pictures.
ProcessRecord SampleProcess(const QString& name = QStringLiteral("comic"));
