#include "model/ProcessRecord.h"

std::optional<Fit> FitOf(int16_t stored) {
    if (stored < 0 || stored > int16_t(Fit::OwnSize)) return std::nullopt;
    return Fit(stored);
}

std::optional<Run> RunOf(int16_t stored) {
    if (stored < 0 || stored > int16_t(Run::Iconize)) return std::nullopt;
    return Run(stored);
}

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
