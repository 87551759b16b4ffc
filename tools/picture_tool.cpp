// kadrelo-picture IN OUT.png [WIDTHxHEIGHT]: loads IN with the program's own
// picture loader (at the given display size, if any) and writes it as PNG.
#include "pictures/FontNames.h"
#include "pictures/PictureLoader.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <cstdio>

int main(int argc, char** argv) {
    // A command-line tool: it never needs a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    InstallFontSubstitutions();
    const QStringList args = app.arguments();
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "usage: kadrelo-picture IN OUT.png [WIDTHxHEIGHT]\n");
        return 2;
    }
    QSize size;
    if (args.size() == 4) {
        const auto m = QRegularExpression(QStringLiteral("^(\\d+)x(\\d+)$")).match(args[3]);
        if (!m.hasMatch()) {
            std::fprintf(stderr, "kadrelo-picture: size must be WIDTHxHEIGHT\n");
            return 2;
        }
        size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    }
    const Picture picture = LoadPicture(args[1], size);
    if (picture.isNull()) {
        std::fprintf(stderr, "kadrelo-picture: cannot load %s\n", qPrintable(args[1]));
        return 1;
    }
    if (!picture.image.save(args[2], "PNG")) {
        std::fprintf(stderr, "kadrelo-picture: cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    std::printf("%dx%d (natural %dx%d)\n", picture.image.width(), picture.image.height(),
                picture.naturalSize.width(), picture.naturalSize.height());
    return 0;
}
