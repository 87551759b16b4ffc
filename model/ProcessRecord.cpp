#include "model/ProcessRecord.h"

ProcessRecord& CurrentProcess() {
    static ProcessRecord current;
    return current;
}

QString TrimFixed(QStringView text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0) text = text.first(nul);
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ') ++begin;
    while (end > begin && text[end - 1] == u' ') --end;
    return text.sliced(begin, end - begin).toString();
}
