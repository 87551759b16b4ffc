// An advisory lock that serialises every change to one store among all the
// Kadrelo processes (and the store tool) that use it.
#pragma once

#include <QString>
#include <optional>

class StoreLock {
  public:
    // Waits briefly for the lock on the folder that holds storePath; nullopt,
    // with error set, when another process keeps it or the folder cannot be opened.
    static std::optional<StoreLock> Take(const QString& storePath, QString* error);

    StoreLock(StoreLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    StoreLock& operator=(StoreLock&&) = delete;
    StoreLock(const StoreLock&) = delete;
    ~StoreLock();

    // How long Take waits for another process (tests shorten it).
    static void SetWaitMs(int ms);

  private:
    explicit StoreLock(int fd) : fd_(fd) {}
    int fd_;
};

// Removes the temporary files that an earlier, interrupted write left beside
// storePath. Only call it while holding the lock: then no temporary file is in use.
void RemoveLeftoverTemporaries(const QString& storePath);

// The name prefix of the temporary files written beside storePath.
QString TemporaryPrefix(const QString& storePath);
