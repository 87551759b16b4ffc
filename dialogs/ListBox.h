// A list box of text rows as the program's dialogs use it: no row is current
// or selected until the user picks one, and the first arrow key selects the row
// it lands on (Down, Up or Home from "nothing selected" select the first row,
// End the last). Only the rows on view are ever made into strings, so that
// tens of thousands of them are shown at once.
#pragma once

#include "model/TextRows.h"

#include <QListView>
#include <optional>

class ListBox : public QListView {
    Q_OBJECT
  public:
    explicit ListBox(QWidget* parent = nullptr);

    void SetRows(TextRows rows);
    QStringList Rows() const;
    int count() const;
    void clear() { SetRows({}); }

    // The current row, -1 when there is none; setting it selects it.
    int currentRow() const;
    void setCurrentRow(int row);
    // The text of the row the user picked, or nothing when no row is selected.
    std::optional<QString> SelectedText() const;
    bool NothingSelected() const;
    QRect RowRect(int row) const { return visualRect(model()->index(row, 0)); }

  signals:
    // A row was double-clicked.
    void rowChosen();

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    class RowModel;
    RowModel* rows_ = nullptr;
};
