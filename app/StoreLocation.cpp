#include "app/StoreLocation.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>

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

// The user's data folder by the XDG rules: $XDG_DATA_HOME when it is an
// absolute path, else .local/share in the home folder, which comes from the
// password database when HOME is not set.
QString DataHome() {
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(xdg)) return QDir::cleanPath(xdg);
    QString home = qEnvironmentVariable("HOME");
    if (!QDir::isAbsolutePath(home))
        if (const passwd* user = ::getpwuid(::getuid())) home = QFile::decodeName(user->pw_dir);
    return QDir(home).filePath(QStringLiteral(".local/share"));
}

QString StoreLocation(const QString& executableDirectory) {
    const QString beside = QDir(executableDirectory).filePath(kStoreName);
    // A store already beside the program is the store, even in a folder that
    // cannot be written (a copy on read-only media, a shared folder).
    if (QFileInfo::exists(beside) || QFileInfo(beside).isSymLink()) return beside;
    if (!IsInstalled(executableDirectory) && IsWritable(executableDirectory)) return beside;
    return QDir(DataHome()).filePath(QStringLiteral("kadrelo/") + kStoreName);
}
