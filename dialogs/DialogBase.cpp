#include "dialogs/DialogBase.h"

#include "platform/Desktop.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <cmath>

void ShowWhole(QLineEdit* box, const QString& text, int typedLimit) {
    box->setMaxLength(std::max<int>(typedLimit, int(text.size())));
    box->setText(text);
    // Once an edit brings the text within the limit, typing is limited again.
    QObject::connect(box, &QLineEdit::textEdited, box, [box, typedLimit](const QString& edited) {
        if (edited.size() <= typedLimit) box->setMaxLength(typedLimit);
    });
}

int TwipsToPixels(int twips) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    // Whole pixels, as 15 twips to the pixel gives them at 96 dots per inch.
    return int(std::floor(twips * dpi / 1440.0 + 1e-9));
}

DialogBase::DialogBase(QWidget* owner, const char* name, int clientWidthTwips,
                       int clientHeightTwips)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QLatin1String(name));
    setFixedSize(TwipsToPixels(clientWidthTwips), TwipsToPixels(clientHeightTwips));
    setModal(true);
    CenterOnShow(this, owner);
}

QPushButton* DialogBase::Button(QWidget* parent, const char* name, const QString& caption,
                                const QRect& where) {
    QPushButton* button = Place<QPushButton>(parent, name, where, caption);
    return button;
}
