#include "app/Application.h"

#include "pictures/FontNames.h"
#include "platform/FileOps.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <string_view>

namespace {

QFont ProgramFont() {
    QFont font(QStringLiteral("ＭＳ ゴシック"));
    font.setPointSize(9);
    return font;
}

// Puts the program's font back whenever something else sets another: a
// platform theme (qt6ct, a desktop's own) applies its fonts once the program
// runs, after the program has set its own.
class FontKeeper : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::ApplicationFontChange &&
            QApplication::font() != ProgramFont())
            QApplication::setFont(ProgramFont());
        return false;
    }
};

}  // namespace

void SetUpApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Kadrelo"));
    QApplication::setApplicationVersion(QStringLiteral(KADRELO_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Kadrelo"));
    // Ties the windows to the desktop entry (and its icon) on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.kadrelo"));
    InstallFontSubstitutions();
    QApplication::setFont(ProgramFont());
    app.installEventFilter(new FontKeeper(&app));

    // The interface is Japanese: so are Qt's own texts, dates and numbers,
    // whatever the environment's locale.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    static QTranslator translator;
    if (translator.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&translator);
    IgnoreFileSizeSignal();
}

std::optional<int> AnswerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("kadrelo %s\n%s\n", KADRELO_VERSION, KADRELO_COPYRIGHT);
            return 0;
        }
        if (arg == "--help") {
            std::fputs(
                "使い方: kadrelo [--help | --version]\n"
                "四コマ漫画を作って再生します。操作はすべてウィンドウで行います。\n"
                "  --help     この説明を表示して終了します\n"
                "  --version  バージョンを表示して終了します\n",
                stdout);
            return 0;
        }
    }
    return std::nullopt;
}
