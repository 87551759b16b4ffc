// kadrelo-store FILE list | show NAME | save --overwrite|--keep < RECORD.json | delete NAME
// The program's store for scripts: the same reading, writing and locking as the
// windows, with no display.
#include "model/NameEscapes.h"
#include "model/ProcessStore.h"
#include "platform/CodePage932.h"
#include "platform/FileOps.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

constexpr int kFailed = 1, kBadUsage = 2;

void Print(FILE* stream, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
}

int Fail(const QString& message, const QString& reason = {}) {
    Print(stderr, message + (reason.isEmpty() ? QString() : u'\n' + reason) + u'\n');
    return kFailed;
}

QString UsageText() {
    return QStringLiteral(
        "usage: kadrelo-store FILE list [--null]\n"
        "       kadrelo-store FILE show NAME\n"
        "       kadrelo-store FILE save --overwrite|--keep < RECORD.json\n"
        "       kadrelo-store FILE delete NAME\n"
        "       kadrelo-store --help | --version\n");
}

int Usage() {
    Print(stderr, UsageText());
    return kBadUsage;
}

QJsonObject ToJson(const ProcessRecord& r) {
    QJsonArray paths;
    for (const auto& path : r.PanelPath) paths.append(TrimFixed(path));
    return {{"Name", TrimFixed(r.Name)},
            {"PanelPath", paths},
            {"ImageAppearance", r.ImageAppearance},
            {"RunStyle", r.RunStyle},
            {"FitMode", r.FitMode},
            {"IntervalMs", r.IntervalMs},
            {"BackColor", r.BackColor},
            {"FixedWidth", r.FixedWidth},
            {"FixedHeight", r.FixedHeight}};
}

// A whole number of the given range, or nothing.
template <typename T>
std::optional<T> Whole(const QJsonValue& value) {
    const double d = value.toDouble(0.5);
    if (!value.isDouble() || d != double(qint64(d)) || d < std::numeric_limits<T>::min() ||
        d > std::numeric_limits<T>::max())
        return std::nullopt;
    return T(d);
}

template <typename T>
bool ReadNumber(const QJsonObject& o, const char* key, T& field, QString* error) {
    if (!o.contains(QLatin1String(key))) return true;
    const std::optional<T> value = Whole<T>(o.value(QLatin1String(key)));
    if (!value) *error = QStringLiteral("%1 が数値の範囲外です").arg(QLatin1String(key));
    if (value) field = *value;
    return value.has_value();
}

// Refuses a text longer than its field instead of cutting it.
template <std::size_t N>
bool AssignWhole(FixedText<N>& field, const QJsonValue& value, const QString& what,
                 QString* error) {
    const QString text = value.toString();
    if (text.contains(u'\0')) *error = what + QStringLiteral("に NUL 文字（U+0000）は使えません");
    if (text.size() > qsizetype(N)) *error = what + QStringLiteral("が長すぎます");
    if (!error->isEmpty()) return false;
    AssignFixed(field, text);
    return true;
}

std::optional<ProcessRecord> FromJson(const QJsonObject& o, QString* error) {
    ProcessRecord r;
    const QJsonArray paths = o.value("PanelPath").toArray();
    if (o.value("Name").toString().isEmpty()) *error = QStringLiteral("プロセス名が空です");
    if (paths.size() > kPanelCount) *error = QStringLiteral("PanelPath は4つまでです");
    // As the Save command takes a typed name: Linux spellings become Windows text.
    const QJsonValue name(cp932::WindowsForms(o.value("Name").toString()));
    if (!error->isEmpty() || !AssignWhole(r.Name, name, "プロセス名", error)) return std::nullopt;
    for (int i = 0; i < paths.size(); ++i)
        if (!AssignWhole(r.PanelPath[i], paths[i], QString::number(i + 1) + "コマ目のパス", error))
            return std::nullopt;
    if (ReadNumber(o, "ImageAppearance", r.ImageAppearance, error) &&
        ReadNumber(o, "RunStyle", r.RunStyle, error) &&
        ReadNumber(o, "FitMode", r.FitMode, error) &&
        ReadNumber(o, "IntervalMs", r.IntervalMs, error) &&
        ReadNumber(o, "BackColor", r.BackColor, error) &&
        ReadNumber(o, "FixedWidth", r.FixedWidth, error) &&
        ReadNumber(o, "FixedHeight", r.FixedHeight, error))
        return r;
    return std::nullopt;
}

int List(const ProcessStore& store, bool nulSeparated) {
    QString error;
    const std::optional<StoreFile> file = store.Read(&error);
    if (!file) return error.isEmpty() ? 0 : Fail(QStringLiteral("読み込めませんでした"), error);
    QString out;
    for (int32_t i = 0; i < file->RecordCount(); ++i)
        out += EscapedName(file->NameAt(i)) + (nulSeparated ? QChar(u'\0') : QChar(u'\n'));
    Print(stdout, out);
    return 0;
}

int Show(const ProcessStore& store, const QString& name) {
    QString error;
    const std::optional<ProcessRecord> record = store.FindProcessByName(name, &error);
    if (!record) return Fail(QStringLiteral("プロセスを開けません"), error);
    Print(stdout,
          QString::fromUtf8(QJsonDocument(ToJson(*record)).toJson(QJsonDocument::Indented)));
    return 0;
}

int Save(const ProcessStore& store, bool overwrite) {
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) return Fail(QStringLiteral("入力を読めません"));
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(in.readAll(), &parse);
    QString error = parse.error == QJsonParseError::NoError ? QString() : parse.errorString();
    const std::optional<ProcessRecord> record =
        doc.isObject() ? FromJson(doc.object(), &error) : std::nullopt;
    if (!record) return Fail(QStringLiteral("保存出来ませんでした"), error);
    const StoreResult result = store.SaveProcess(*record, [overwrite] { return overwrite; });
    return result ? 0 : Fail(QStringLiteral("保存出来ませんでした"), result.reason);
}

int Delete(const ProcessStore& store, const QString& name) {
    const StoreResult result = store.DeleteProcess(name);
    return result ? 0 : Fail(QStringLiteral("削除出来ませんでした"), result.reason);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 2 && args[1] == u"--version") {
        Print(stdout, QStringLiteral("kadrelo-store " KADRELO_VERSION "\n" KADRELO_COPYRIGHT "\n"));
        return 0;
    }
    if (args.size() == 2 && args[1] == u"--help") {
        Print(stdout, UsageText() + QStringLiteral("Process.dat を読み書きします。詳しくは "
                                                   "kadrelo-store(1) をご覧ください。\n"));
        return 0;
    }
    if (args.size() < 3) return Usage();
    IgnoreFileSizeSignal();  // past a file-size limit a write fails and says so
    const ProcessStore store(args[1]);
    const QString& command = args[2];
    if (command == u"list" && args.size() == 3) return List(store, false);
    if (command == u"list" && args.size() == 4 && args[3] == u"--null") return List(store, true);
    const std::optional<QString> name = args.size() == 4 ? UnescapedName(args[3]) : std::nullopt;
    if ((command == u"show" || command == u"delete") && args.size() == 4 && !name)
        return Fail(QStringLiteral("名前の \\ の書き方が正しくありません"));
    if (command == u"show" && args.size() == 4) return Show(store, *name);
    if (command == u"delete" && args.size() == 4) return Delete(store, *name);
    if (command == u"save" && args.size() == 4 &&
        (args[3] == u"--overwrite" || args[3] == u"--keep"))
        return Save(store, args[3] == u"--overwrite");
    return Usage();
}
