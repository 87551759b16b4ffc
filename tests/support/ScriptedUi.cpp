#include "tests/support/ScriptedUi.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

bool ScriptedUi::AskYesNo(QWidget*, const QString& message) {
    questions << message;
    return answers.isEmpty() ? false : answers.dequeue();
}

void ScriptedUi::ShowError(QWidget*, const QString& message) { errors << message; }

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

std::optional<uint32_t> ScriptedUi::ChooseColor(QWidget*) {
    return colors.isEmpty() ? std::nullopt : colors.dequeue();
}

void WhenModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}
