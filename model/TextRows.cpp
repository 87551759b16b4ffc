#include "model/TextRows.h"

TextRows::TextRows(const QStringList& rows) {
    spans_.reserve(rows.size());
    for (const QString& row : rows) {
        spans_.append({text_.size(), row.size()});
        text_ += row;
    }
}

TextRows TextRows::FromNulEnded(QString text) {
    TextRows rows;
    rows.spans_.reserve(text.count(QChar(u'\0')));
    const QChar* chars = text.constData();
    qsizetype begin = 0;
    for (qsizetype end = text.indexOf(QChar(u'\0')); end >= 0;
         begin = end + 1, end = text.indexOf(QChar(u'\0'), begin)) {
        qsizetype first = begin;
        qsizetype last = end;
        while (first < last && chars[first] == u' ') ++first;
        while (last > first && chars[last - 1] == u' ') --last;
        rows.spans_.append({first, last - first});
    }
    rows.text_ = std::move(text);
    return rows;
}

QStringList TextRows::ToList() const {
    QStringList list;
    list.reserve(size());
    for (qsizetype row = 0; row < size(); ++row) list << at(row).toString();
    return list;
}
