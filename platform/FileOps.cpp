#include "platform/FileOps.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

int FileOps::Open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags | O_CLOEXEC, mode);
}
ssize_t FileOps::PRead(int fd, void* buffer, size_t size, off_t offset) {
    return ::pread(fd, buffer, size, offset);
}
ssize_t FileOps::PWrite(int fd, const void* buffer, size_t size, off_t offset) {
    return ::pwrite(fd, buffer, size, offset);
}
int FileOps::FSync(int fd) {
    return ::fsync(fd);
}
int FileOps::FTruncate(int fd, off_t length) {
    return ::ftruncate(fd, length);
}
int FileOps::FStat(int fd, struct stat* info) {
    return ::fstat(fd, info);
}
int FileOps::Stat(const char* path, struct stat* info) {
    return ::stat(path, info);
}
int FileOps::Close(int fd) {
    return ::close(fd);
}
int FileOps::Rename(const char* from, const char* to) {
    return ::rename(from, to);
}
int FileOps::Unlink(const char* path) {
    return ::unlink(path);
}

namespace {
FileOps* g_filesOverride = nullptr;
}

FileOps& Files() {
    static FileOps real;
    return g_filesOverride ? *g_filesOverride : real;
}

void SetFiles(FileOps* files) {
    g_filesOverride = files;
}

namespace {
QString WithSystemText(const QString& reason, int error) {
    return reason + QStringLiteral("（") + QString::fromLocal8Bit(std::strerror(error)) +
           QStringLiteral("）");
}
}  // namespace

QString DescribeFileError(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return QStringLiteral("アクセスが拒否されました");
        case EROFS:
            return QStringLiteral("書き込みできない場所です");
        case ENOSPC:
        case EFBIG:
        case EDQUOT:
            return QStringLiteral("ディスクの空きが足りません");
        case ENOENT:
            return QStringLiteral("ファイルが見つかりません");
        case EISDIR:
            return QStringLiteral("ファイルではなくフォルダです");
        case EIO:
            return QStringLiteral("入出力エラーが発生しました");
        case ENOLCK:
            return WithSystemText(QStringLiteral("この場所ではファイルをロックできません"), error);
        case ENOTDIR:
            return QStringLiteral("パスの途中にフォルダではないものがあります");
        case ELOOP:
            return QStringLiteral("シンボリックリンクが循環しています");
        case ENAMETOOLONG:
            return QStringLiteral("パスが長すぎます");
        case ENXIO:
        case ENODEV:
            return QStringLiteral("通常のファイルではありません");
        case EMFILE:
        case ENFILE:
        case ENOMEM:
            return WithSystemText(QStringLiteral("システムの資源が足りません"), error);
        case EBUSY:
        case ETXTBSY:
        case EAGAIN:
            return QStringLiteral("ファイルが使用中です");
        case EXDEV:
            return QStringLiteral("別のファイルシステムをまたいでは置き換えられません");
        case ESTALE:
            return WithSystemText(QStringLiteral("ネットワーク上のファイルが無効になりました"),
                                  error);
        default:
            return WithSystemText(QStringLiteral("ファイルを扱えませんでした"), error);
    }
}

QString ResolveLinks(const QString& path) {
    QString resolved = QFileInfo(path).absoluteFilePath();
    for (int depth = 0; depth < 40; ++depth) {
        const QByteArray name = QFile::encodeName(resolved);
        char target[PATH_MAX];
        const ssize_t length = ::readlink(name.constData(), target, sizeof target - 1);
        if (length < 0) break;
        const QString next = QFile::decodeName(QByteArray(target, length));
        resolved = QDir::cleanPath(QFileInfo(resolved).dir().absoluteFilePath(next));
    }
    // The folder's own links too, so that two paths to one folder give one name.
    const QFileInfo file(resolved);
    const QString folder = file.dir().canonicalPath();
    return folder.isEmpty() ? resolved : folder + u'/' + file.fileName();
}

bool MakeFolders(const QString& path, mode_t mode) {
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    struct stat info {};
    if (::stat(QFile::encodeName(clean).constData(), &info) == 0) return S_ISDIR(info.st_mode);
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !MakeFolders(parent, mode)) return false;
    return ::mkdir(QFile::encodeName(clean).constData(), mode) == 0 || errno == EEXIST;
}

void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

bool IsNormalFile(const QString& path) {
    if (path.isEmpty()) return false;
    struct stat info {};
    if (::stat(path.toLocal8Bit().constData(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return !path.mid(slash + 1).startsWith(QLatin1Char('.'));
}
