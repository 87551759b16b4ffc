// What every dialog of the program shares: a fixed frame without minimise and
// maximise buttons, a client area and control places given in twips (1/1440
// inch at the screen's logical resolution: 15 to the pixel at 96 dots per
// inch), and the program's font.
#pragma once

#include <QDialog>
#include <QRect>

class QLineEdit;
class QPushButton;

// Shows a stored value whole in a box whose typing is limited to typedLimit
// characters: the limit grows to fit the value, so nothing stored is cut, and
// comes back once the user's edits fit it.
void ShowWhole(QLineEdit* box, const QString& text, int typedLimit);

// Twips in pixels of the window's unit, at the screen's logical resolution, so
// that layouts grow with the fonts when the screen's font resolution is raised.
int TwipsToPixels(int twips);

inline QRect Twips(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

class DialogBase : public QDialog {
    Q_OBJECT
  public:
    DialogBase(QWidget* owner, const char* name, int clientWidthTwips, int clientHeightTwips);

  protected:
    template <typename W, typename... Args>
    W* Place(QWidget* parent, const char* name, const QRect& where, Args&&... args) {
        W* w = new W(std::forward<Args>(args)..., parent);
        w->setObjectName(QLatin1String(name));
        w->setGeometry(where);
        return w;
    }

    QPushButton* Button(QWidget* parent, const char* name, const QString& caption,
                        const QRect& where);
};
