#include "tests/support/ScriptedUi.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <memory>

bool ScriptedUi::AskYesNo(QWidget*, const QString& message) {
    questions << message;
    return answers.isEmpty() ? false : answers.dequeue();
}

void ScriptedUi::ShowError(QWidget*, const QString& message) {
    errors << message;
}

QString ScriptedUi::InputBox(QWidget*, const QString& prompt, const QString& title,
                             const QString& defaultText) {
    prompts << prompt << title << defaultText;
    return inputs.isEmpty() ? QString() : inputs.dequeue();
}

QString ScriptedUi::ChooseExistingFile(QWidget*, const QString& filterName,
                                       const QStringList& suffixes) {
    fileFilters << filterName + u':' + suffixes.join(u';');
    return files.isEmpty() ? QString() : files.dequeue();
}

QString ScriptedUi::ChooseNewFile(QWidget*, const QString& filterName, const QString& suffix,
                                  const QString& suggested) {
    fileFilters << filterName + u':' + suffix + u':' + suggested;
    return newFiles.isEmpty() ? QString() : newFiles.dequeue();
}

std::optional<uint32_t> ScriptedUi::ChooseColor(QWidget*) {
    return colors.isEmpty() ? std::nullopt : colors.dequeue();
}

void WhenModal(std::function<void(QWidget*)> action) {
    constexpr int kLimitMs = 5000;
    struct Watch {
        QElapsedTimer clock;
        QPointer<QWidget> acted;
        bool came = false;
    };
    auto watch = std::make_shared<Watch>();
    watch->clock.start();
    auto* timer = new QTimer(qApp);  // gone with the application if never finished
    QObject::connect(timer, &QTimer::timeout, [timer, watch, action] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool finished = watch->came && (!watch->acted || !watch->acted->isVisible());
        if (!watch->came && modal && modal->isVisible()) {
            watch->came = true;
            watch->acted = modal;
            watch->clock.restart();
            action(modal);
            return;
        }
        if (!finished && watch->clock.elapsed() < kLimitMs) return;
        if (!finished) {
            // Nothing came, or what came did not close: fail the test and unblock it.
            QTest::qFail(watch->came ? "the modal dialog did not close within 5 s"
                                     : "no modal dialog came within 5 s",
                         __FILE__, __LINE__);
            if (auto* stuck = qobject_cast<QDialog*>(watch->came ? watch->acted.data() : modal))
                stuck->reject();
        }
        timer->stop();
        timer->deleteLater();
    });
    timer->start(5);
}

#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "dialogs/frm_appr.h"
#include "dialogs/frm_cr.h"
#include "dialogs/frm_open.h"
#include "dialogs/frm_opt.h"
#include "dialogs/frm_process.h"
#include "dialogs/frm_prono.h"
#include "dialogs/frm_version.h"
#include "export/frm_export.h"
#include "player/frm_prev.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString SampleFile(const QString& name) {
    return qEnvironmentVariable("KADRELO_SAMPLES") + u'/' + name;
}
}  // namespace

AppFixture::AppFixture() : dir(std::make_unique<QTemporaryDir>()) {
    CurrentProcess() = ProcessRecord{};
    window = std::make_unique<frm_main>(storePath());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    if (!WindowSystemPlacesAndFocuses()) return;
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window.get());
}

bool WindowSystemPlacesAndFocuses() {
    return QGuiApplication::platformName() != u"wayland";
}

AppFixture::~AppFixture() {
    window.reset();
}

QString AppFixture::storePath() const {
    return dir->filePath(QStringLiteral("Process.dat"));
}

QString AppFixture::samplePath(const QString& name) const {
    return SampleFile(name);
}

ViewStandIn::ViewStandIn()
    : dir_(std::make_unique<QTemporaryDir>()), owner_(std::make_unique<QWidget>()) {
    owner_->resize(521, 339);
    picture_ = new ImageControl(owner_.get());
    store_ = std::make_unique<ProcessStore>(dir_->filePath(QStringLiteral("Process.dat")));
}

ViewStandIn::~ViewStandIn() = default;

ProcessRecord SampleProcess(const QString& name) {
    ProcessRecord r;
    AssignFixed(r.Name, name);
    const QString files[] = {"panel1.bmp", "panel2.jpg", "panel3.ico", "panel4.png"};
    for (int i = 0; i < kPanelCount; ++i) AssignFixed(r.PanelPath[i], SampleFile(files[i]));
    return r;
}

PanelWatch::PanelWatch(std::function<void(frm_prev&, int)> action) : action_(std::move(action)) {
    qApp->installEventFilter(this);
}

bool PanelWatch::eventFilter(QObject* watched, QEvent* event) {
    auto* player = qobject_cast<frm_prev*>(watched);
    if (player && event->type() == QEvent::Show && !hooked_) {
        hooked_ = true;
        connect(player, &frm_prev::PanelShown, this,
                [this, player](int index) { action_(*player, index); });
    }
    return false;
}

std::vector<std::unique_ptr<QDialog>> EveryDialog(frm_main& window) {
    std::vector<std::unique_ptr<QDialog>> dialogs;
    dialogs.emplace_back(new frm_process(window, QStringLiteral("プロセスの編集")));
    dialogs.emplace_back(new frm_open(window));
    dialogs.emplace_back(new frm_prono(window));
    dialogs.emplace_back(new frm_opt(&window));
    dialogs.emplace_back(new frm_cr(window));
    dialogs.emplace_back(new frm_appr(&window, *window.Img()));
    dialogs.emplace_back(new frm_version(&window));
    dialogs.emplace_back(new frm_export(&window));
    return dialogs;
}
