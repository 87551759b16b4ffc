#include "pictures/FontNames.h"

#include <QFont>
#include <QFontDatabase>
#include <QHash>
#include <QMutex>
#include <QStringList>

void InstallFontSubstitutions() {
    const QStringList gothic = {QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans CJK JP")};
    const QStringList pGothic = {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")};
    const QStringList mincho = {QStringLiteral("IPAMincho"), QStringLiteral("Noto Serif CJK JP")};
    const QStringList pMincho = {QStringLiteral("IPAPMincho"), QStringLiteral("IPAMincho")};
    const struct {
        const char16_t* family;
        const QStringList* to;
    } japanese[] = {
        {u"ＭＳ ゴシック", &gothic},     {u"MS Gothic", &gothic},
        {u"ＭＳ Ｐゴシック", &pGothic},  {u"MS PGothic", &pGothic},
        {u"ＭＳ ＵＩ Gothic", &pGothic}, {u"MS UI Gothic", &pGothic},
        {u"メイリオ", &pGothic},         {u"Meiryo", &pGothic},
        {u"Meiryo UI", &pGothic},        {u"ＭＳ 明朝", &mincho},
        {u"MS Mincho", &mincho},         {u"ＭＳ Ｐ明朝", &pMincho},
        {u"MS PMincho", &pMincho},
    };
    for (const auto& entry : japanese)
        QFont::insertSubstitutions(QString::fromUtf16(entry.family), *entry.to);
    QFont::insertSubstitutions(QStringLiteral("Arial"), {QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Helvetica"), {QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("Times New Roman"),
                               {QStringLiteral("Liberation Serif")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"), {QStringLiteral("Liberation Mono")});
}

QString InstalledFamily(const QString& face) {
    static QMutex mutex;
    static QHash<QString, QString> known;
    const QMutexLocker lock(&mutex);
    const auto it = known.constFind(face);
    if (it != known.cend()) return *it;
    QString family = face;
    if (!QFontDatabase::hasFamily(face)) {
        for (const QString& substitute : QFont::substitutes(face)) {
            if (QFontDatabase::hasFamily(substitute)) {
                family = substitute;
                break;
            }
        }
    }
    known.insert(face, family);
    return family;
}
