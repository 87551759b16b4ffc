// kadrelo-export STORE NAME OUT.png|OUT.webp|OUT.gif [--size WxH] [--frames] [--quality Q]
// Exports a stored process as the player shows it, for scripts: the same
// drawing, decoders and encoders as the windows, with no window system.
#include "export/Export.h"
#include "model/NameEscapes.h"
#include "model/ProcessStore.h"
#include "pictures/FontNames.h"
#include "platform/FileOps.h"

#include <QApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdio>
#include <optional>

namespace {

constexpr int kRefused = 1, kError = 2;

struct Command {
    QString store, name, output;
    ExportOptions options;
};

void Print(FILE* stream, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
}

int Fail(int status, const QString& message, const QString& reason = {}) {
    Print(stderr, QStringLiteral("kadrelo-export: ") + message +
                      (reason.isEmpty() ? QString() : QStringLiteral("：") + reason) + u'\n');
    return status;
}

QString UsageText() {
    return QStringLiteral(
        "usage: kadrelo-export STORE NAME OUT.png|OUT.webp|OUT.gif [--size WxH] [--frames]\n"
        "                      [--quality Q]\n"
        "       kadrelo-export --help | --version\n");
}

int Usage(const QString& problem = {}) {
    if (!problem.isEmpty()) Print(stderr, QStringLiteral("kadrelo-export: ") + problem + u'\n');
    Print(stderr, UsageText());
    return kError;
}

QString HelpText() {
    return UsageText() +
           QStringLiteral(
               "\n保存されたプロセスを、プレビューで表示されるとおりに書き出します。\n"
               "  OUT.png   4コマを上から順に並べた1枚の PNG（幅 W、高さ 4H）\n"
               "  OUT.webp  4コマのアニメーション WebP（表示間隔どおり、繰り返し）\n"
               "  OUT.gif   4コマのアニメーション GIF（表示間隔は 10 ミリ秒単位に丸めます）\n"
               "  --size WxH   1コマの大きさ（ピクセル）。既定は 800x600\n"
               "  --frames     PNG を1コマずつ OUT-1.png から OUT-4.png に書き出します\n"
               "  --quality Q  WebP を非可逆（品質 0〜100）で書き出します。既定は可逆\n"
               "終了コード: 0 成功、1 拒否（名前がない、書き込めない）、2 エラー\n"
               "詳しくは kadrelo-export(1) をご覧ください。\n");
}

std::optional<ExportFormat> FormatOf(const QString& output, bool frames) {
    const QString suffix = QFileInfo(output).suffix().toLower();
    if (suffix == u"png") return frames ? ExportFormat::Frames : ExportFormat::Strip;
    if (frames) return std::nullopt;
    if (suffix == u"webp") return ExportFormat::WebP;
    if (suffix == u"gif") return ExportFormat::Gif;
    return std::nullopt;
}

// The command line, or the reason it is not one.
std::optional<Command> Parse(const QStringList& args, QString* problem) {
    QStringList positional;
    bool frames = false;
    std::optional<int> quality;
    Command command;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == u"--frames") {
            frames = true;
        } else if (arg == u"--size" && hasValue) {
            const auto m =
                QRegularExpression(QStringLiteral("^(\\d{1,9})x(\\d{1,9})$")).match(args[++i]);
            command.options.size =
                m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
            if (!FrameSizeAllowed(command.options.size))
                *problem =
                    QStringLiteral("--size は 1x1 から 16384x16384（6400 万ピクセルまで）です");
        } else if (arg == u"--quality" && hasValue) {
            bool ok = false;
            quality = args[++i].toInt(&ok);
            if (!ok || *quality < 0 || *quality > 100)
                *problem = QStringLiteral("--quality は 0 から 100 です");
        } else if (arg.startsWith(u"--")) {
            *problem = QStringLiteral("知らないオプションです: ") + arg;
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 3 && problem->isEmpty())
        *problem = QStringLiteral("STORE、NAME、OUT の3つを指定してください");
    if (!problem->isEmpty()) return std::nullopt;
    command.store = positional[0];
    command.output = positional[2];
    const std::optional<ExportFormat> format = FormatOf(command.output, frames);
    const std::optional<QString> name = UnescapedName(positional[1]);
    if (!format)
        *problem = frames ? QStringLiteral("--frames は .png にだけ使えます")
                          : QStringLiteral("OUT の拡張子は .png、.webp、.gif のどれかです");
    else if (quality && *format != ExportFormat::WebP)
        *problem = QStringLiteral("--quality は .webp にだけ使えます");
    else if (!name)
        *problem = QStringLiteral("名前の \\ の書き方が正しくありません");
    if (!problem->isEmpty()) return std::nullopt;
    command.name = *name;
    command.options.format = *format;
    command.options.quality = quality.value_or(-1);
    return command;
}

int Export(const Command& command) {
    QString error;
    const std::optional<ProcessRecord> process =
        ProcessStore(command.store).FindProcessByName(command.name, &error);
    if (!process && error.isEmpty())
        error = QStringLiteral("「%1」という名前のプロセスはありません").arg(command.name);
    if (!process) return Fail(kRefused, QStringLiteral("プロセスを開けません"), error);
    const ExportOutcome outcome = ExportProcess(*process, command.output, command.options);
    switch (outcome.status) {
        case ExportOutcome::Done:
            return 0;
        case ExportOutcome::Refused:
            return Fail(kRefused, QStringLiteral("書き出せません"), outcome.reason);
        default:
            return Fail(kError, QStringLiteral("書き出せませんでした"), outcome.reason);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The frames are drawn off the screen: no window system is needed or used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tool says what went wrong itself; the toolkit's notes are not for its users.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 2 && args[1] == u"--version") {
        Print(stdout,
              QStringLiteral("kadrelo-export " KADRELO_VERSION "\n" KADRELO_COPYRIGHT "\n"));
        return 0;
    }
    if (args.size() == 2 && args[1] == u"--help") {
        Print(stdout, HelpText());
        return 0;
    }
    QString problem;
    const std::optional<Command> command = Parse(args, &problem);
    if (!command) return Usage(problem);
    InstallFontSubstitutions();  // metafile panels draw their text as the windows do
    IgnoreFileSizeSignal();      // past a file-size limit a write fails and says so
    return Export(*command);
}
