#include "platform/FileOps.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
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
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
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
