// Many short texts kept in one string: a list of tens of thousands of names
// needs one allocation for them instead of one a name.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class TextRows {
  public:
    TextRows() = default;
    explicit TextRows(const QStringList& rows);
    // Texts that each end with a NUL, with the spaces around each left out, as
    // a stored name is read.
    static TextRows FromNulEnded(QString text);

    qsizetype size() const { return spans_.size(); }
    bool isEmpty() const { return spans_.isEmpty(); }
    QStringView at(qsizetype row) const {
        return QStringView(text_).sliced(spans_[row].start, spans_[row].length);
    }
    QStringList ToList() const;

  private:
    struct Span {
        qsizetype start;
        qsizetype length;
    };
    QString text_;
    QList<Span> spans_;
};
