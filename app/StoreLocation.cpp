#include "app/StoreLocation.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString kStoreName = QStringLiteral("Process.dat");
const QString kDesktopEntry = QStringLiteral("share/applications/org.example.kadrelo.desktop");

bool IsInstalled(const QString& directory) {
    const QDir bin(directory);
    return bin.dirName() == u"bin" &&
           QFileInfo::exists(bin.filePath(QStringLiteral("../") + kDesktopEntry));
}

// Writable for this user. The superuser may write anywhere; a folder that
// grants no one write permission still counts as read-only for it.
bool IsWritable(const QString& directory) {
    struct stat info {};
    const QByteArray path = QFile::encodeName(directory);
    return ::access(path.constData(), W_OK) == 0 && ::stat(path.constData(), &info) == 0 &&
           (info.st_mode & 0222) != 0;
}

}  // namespace

QString StoreLocation(const QString& executableDirectory) {
    if (!IsInstalled(executableDirectory) && IsWritable(executableDirectory))
        return QDir(executableDirectory).filePath(kStoreName);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(data).filePath(QStringLiteral("kadrelo/") + kStoreName);
}
