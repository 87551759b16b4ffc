#include "model/StoreLock.h"

#include "platform/FileOps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <cerrno>

namespace {
int g_waitMs = 3000;
constexpr int kRetryMs = 10;
}  // namespace

void StoreLock::SetWaitMs(int ms) {
    g_waitMs = ms;
}

// The lock is taken on the folder, not on the file: a delete or an overwrite
// replaces the file, and a lock on the old file would not cover the new one.
std::optional<StoreLock> StoreLock::Take(const QString& storePath, QString* error) {
    const QByteArray folder = QFileInfo(storePath).absolutePath().toLocal8Bit();
    const int fd = Files().Open(folder.constData(), O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) {
        *error = DescribeFileError(errno);
        return std::nullopt;
    }
    for (int waited = 0;; waited += kRetryMs) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return StoreLock(fd);
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (waited >= g_waitMs) {
            errno = EWOULDBLOCK;
            break;
        }
        QThread::msleep(kRetryMs);
    }
    *error = errno == EWOULDBLOCK ? QStringLiteral("ほかの Kadrelo が Process.dat を使っています")
                                  : DescribeFileError(errno);
    Files().Close(fd);
    return std::nullopt;
}

StoreLock::~StoreLock() {
    if (fd_ >= 0) Files().Close(fd_);  // closing releases the lock
}

QString TemporaryPrefix(const QString& storePath) {
    return QFileInfo(storePath).fileName() + QStringLiteral(".tmp-");
}

void RemoveLeftoverTemporaries(const QString& storePath) {
    const QFileInfo store(storePath);
    const QDir folder = store.absoluteDir();
    const QStringList leftovers = folder.entryList({TemporaryPrefix(storePath) + u'*'},
                                                   QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : leftovers)
        Files().Unlink(folder.filePath(name).toLocal8Bit().constData());
}
