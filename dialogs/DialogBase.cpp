#include "dialogs/DialogBase.h"

#include <QPushButton>

DialogBase::DialogBase(QWidget* owner, const char* name, int clientWidthTwips,
                       int clientHeightTwips)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QLatin1String(name));
    setFixedSize(clientWidthTwips / 15, clientHeightTwips / 15);
    setModal(true);
}

QPushButton* DialogBase::Button(QWidget* parent, const char* name, const QString& caption,
                                const QRect& where) {
    QPushButton* button = Place<QPushButton>(parent, name, where, caption);
    return button;
}
