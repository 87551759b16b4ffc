// A list box as the program's dialogs use it: no row is current or selected
// until the user picks one, and the first arrow key selects the row it lands
// on (Down, Up or Home from "nothing selected" select the first row, End the last).
#pragma once

#include <QListWidget>

class ListBox : public QListWidget {
    Q_OBJECT
  public:
    using QListWidget::QListWidget;

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool NothingSelected() const;
};
