#include "dialogs/DialogBase.h"

#include "platform/Desktop.h"

#include <QLineEdit>
#include <QPushButton>

void ShowWhole(QLineEdit* box, const QString& text, int typedLimit) {
    box->setMaxLength(std::max<int>(typedLimit, int(text.size())));
    box->setText(text);
    // Once an edit brings the text within the limit, typing is limited again.
    QObject::connect(box, &QLineEdit::textEdited, box, [box, typedLimit](const QString& edited) {
        if (edited.size() <= typedLimit) box->setMaxLength(typedLimit);
    });
}

DialogBase::DialogBase(QWidget* owner, const char* name, int clientWidthTwips,
                       int clientHeightTwips)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QLatin1String(name));
    setFixedSize(clientWidthTwips / 15, clientHeightTwips / 15);
    setModal(true);
    CenterOnShow(this, owner);
}

QPushButton* DialogBase::Button(QWidget* parent, const char* name, const QString& caption,
                                const QRect& where) {
    QPushButton* button = Place<QPushButton>(parent, name, where, caption);
    return button;
}
