#include "platform/NewFile.h"

#include "platform/FileOps.h"

#include <fcntl.h>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>

NewFile::NewFile(const QString& path) : target_(ResolveLinks(path)) {}

NewFile::~NewFile() {
    Discard();
}

bool NewFile::Fail(int error) {
    failed_ = true;
    error_ = DescribeFileError(error);
    return false;
}

bool NewFile::Open() {
    const QFileInfo target(target_);
    if (target.isDir()) return Fail(EISDIR);
    // Hidden, and named after the file it becomes, so that a stray one (after
    // a power cut) tells what it was.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString suffix = QString::number(QRandomGenerator::global()->generate(), 36);
        const QString part =
            target.path() + QStringLiteral("/.") + target.fileName() + u'.' + suffix;
        const int fd = Files().Open(QFile::encodeName(part).constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            part_ = part;
            fd_ = fd;
            return true;
        }
        if (errno != EEXIST) return Fail(errno);
    }
    return Fail(EEXIST);
}

bool NewFile::Write(const void* data, size_t size) {
    if (fd_ < 0 || failed_) return false;
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = Files().PWrite(fd_, bytes, size, written_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(n < 0 ? errno : ENOSPC);
        bytes += n;
        size -= size_t(n);
        written_ += n;
    }
    return true;
}

bool NewFile::Commit() {
    if (fd_ < 0 || failed_) return false;
    if (Files().FSync(fd_) != 0) return Fail(errno);
    const int closed = Files().Close(fd_);
    fd_ = -1;
    if (closed != 0) return Fail(errno);
    if (Files().Rename(QFile::encodeName(part_).constData(),
                       QFile::encodeName(target_).constData()) != 0)
        return Fail(errno);
    part_.clear();
    return true;
}

void NewFile::Discard() {
    if (fd_ >= 0) Files().Close(fd_);
    fd_ = -1;
    if (!part_.isEmpty()) Files().Unlink(QFile::encodeName(part_).constData());
    part_.clear();
}
