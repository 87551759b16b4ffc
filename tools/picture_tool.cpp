// kadrelo-picture IN OUT.png|- [WIDTHxHEIGHT]: loads IN with the program's own
// picture loader (at the given display size, if any) and writes it as PNG;
// "-" as the output decodes and writes nothing (for timing the decoders). A
// picture that cannot be loaded is named with the reason, and the exit status is 1.
#include "pictures/FontNames.h"
#include "pictures/PictureLoader.h"
#include "pictures/PicturesPlugin.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <cstdio>
#include <memory>

namespace {

// Only metafiles draw text, so only they need fonts and the GUI application;
// every other picture is decoded without any window system at all.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, const char* in) {
    QFile file(QString::fromLocal8Bit(in));
    const bool drawsText =
        file.open(QIODevice::ReadOnly) && OwnFormatOf(file.read(128)) == "kadrelo-emf";
    if (!drawsText) return std::make_unique<QCoreApplication>(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    InstallFontSubstitutions();
    return app;
}

bool ParseSize(const QString& text, QSize* size) {
    const auto m = QRegularExpression(QStringLiteral("^(\\d+)x(\\d+)$")).match(text);
    if (!m.hasMatch()) return false;
    *size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: kadrelo-picture IN OUT.png|- [WIDTHxHEIGHT]\n");
        return 2;
    }
    const std::unique_ptr<QCoreApplication> app = MakeApplication(argc, argv, argv[1]);
    // The tool says why a picture is refused; Qt's readers need not say it too.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    const QStringList args = app->arguments();
    QSize size;
    if (args.size() == 4 && !ParseSize(args[3], &size)) {
        std::fprintf(stderr, "kadrelo-picture: size must be WIDTHxHEIGHT\n");
        return 2;
    }
    const Picture picture = LoadPicture(args[1], size);
    if (picture.isNull()) {
        std::fprintf(stderr, "kadrelo-picture: %s: %s\n", qPrintable(args[1]),
                     qPrintable(DescribeLoadError(picture.error)));
        return 1;
    }
    if (args[2] != QStringLiteral("-") && !picture.image.save(args[2], "PNG")) {
        std::fprintf(stderr, "kadrelo-picture: cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    std::printf("%dx%d (natural %dx%d)\n", picture.image.width(), picture.image.height(),
                picture.naturalSize.width(), picture.naturalSize.height());
    return 0;
}
