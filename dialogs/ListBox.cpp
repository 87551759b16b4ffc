#include "dialogs/ListBox.h"

#include <QKeyEvent>

bool ListBox::NothingSelected() const {
    return selectedItems().isEmpty();
}

// Qt makes the first row current on focus; with nothing selected, no row
// should look current.
void ListBox::focusInEvent(QFocusEvent* event) {
    QListWidget::focusInEvent(event);
    if (NothingSelected()) selectionModel()->clearCurrentIndex();
}

void ListBox::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const bool moves = key == Qt::Key_Down || key == Qt::Key_Up || key == Qt::Key_Home ||
                       key == Qt::Key_End || key == Qt::Key_PageDown || key == Qt::Key_PageUp;
    if (moves && NothingSelected() && count() > 0 && event->modifiers() == Qt::NoModifier) {
        setCurrentRow(key == Qt::Key_End ? count() - 1 : 0);
        return;
    }
    QListWidget::keyPressEvent(event);
}
