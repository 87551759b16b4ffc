#include "dialogs/ListBox.h"

#include <QAbstractListModel>
#include <QKeyEvent>

// The rows as the view asks for them: text only, never editable.
class ListBox::RowModel : public QAbstractListModel {
  public:
    using QAbstractListModel::QAbstractListModel;

    void Set(TextRows rows) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    const TextRows& Get() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(rows_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || role != Qt::DisplayRole) return {};
        return rows_.at(index.row()).toString();
    }

  private:
    TextRows rows_;
};

ListBox::ListBox(QWidget* parent) : QListView(parent), rows_(new RowModel(this)) {
    setModel(rows_);
    setUniformItemSizes(true);  // keeps tens of thousands of rows quick
    setSelectionMode(SingleSelection);
    connect(this, &QAbstractItemView::doubleClicked, this, &ListBox::rowChosen);
}

void ListBox::SetRows(TextRows rows) {
    rows_->Set(std::move(rows));
}

QStringList ListBox::Rows() const {
    return rows_->Get().ToList();
}

int ListBox::count() const {
    return rows_->rowCount();
}

int ListBox::currentRow() const {
    return currentIndex().row();
}

void ListBox::setCurrentRow(int row) {
    selectionModel()->setCurrentIndex(rows_->index(row), QItemSelectionModel::ClearAndSelect);
}

std::optional<QString> ListBox::SelectedText() const {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || !selectionModel()->isSelected(current)) return std::nullopt;
    return rows_->Get().at(current.row()).toString();
}

bool ListBox::NothingSelected() const {
    return !selectionModel()->hasSelection();
}

// Qt makes the first row current on focus; with nothing selected, no row
// should look current.
void ListBox::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
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
    QListView::keyPressEvent(event);
}
