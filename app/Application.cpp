#include "app/Application.h"

#include "pictures/FontNames.h"
#include "platform/FileOps.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void SetUpApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Kadrelo"));
    QApplication::setApplicationVersion(QStringLiteral(KADRELO_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Kadrelo"));
    // Ties the windows to the desktop entry (and its icon) on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.kadrelo"));
    InstallFontSubstitutions();
    QFont font(QStringLiteral("ＭＳ ゴシック"));
    font.setPointSize(9);
    QApplication::setFont(font);

    // The interface is Japanese: so are Qt's own texts, dates and numbers,
    // whatever the environment's locale.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    static QTranslator translator;
    if (translator.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&translator);
    IgnoreFileSizeSignal();
}
