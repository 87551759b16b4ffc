// The file-system calls the store makes, behind one replaceable object so that
// tests can make any call fail.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <QString>

class FileOps {
  public:
    virtual ~FileOps() = default;
    virtual int Open(const char* path, int flags, mode_t mode);
    virtual ssize_t PRead(int fd, void* buffer, size_t size, off_t offset);
    virtual ssize_t PWrite(int fd, const void* buffer, size_t size, off_t offset);
    virtual int FSync(int fd);
    virtual int FTruncate(int fd, off_t length);
    virtual int FStat(int fd, struct stat* info);
    virtual int Stat(const char* path, struct stat* info);
    virtual int Close(int fd);
    virtual int Rename(const char* from, const char* to);
    virtual int Unlink(const char* path);
};

FileOps& Files();
// Replaces the file-system calls; nullptr restores the real ones.
void SetFiles(FileOps* files);

// A short Japanese reason for an errno value, for the second line of a failure
// message; where there is no Japanese wording of its own, a general one with
// the system's text after it.
QString DescribeFileError(int error);

// The file that path leads to: symbolic links followed (also one that leads
// to a file not made yet), so that every name of a store reaches one file.
QString ResolveLinks(const QString& path);

// Makes the folder and any missing folders above it with the given mode;
// true when it exists afterwards.
bool MakeFolders(const QString& path, mode_t mode);

// Ignores SIGXFSZ, so that writing past a file-size limit fails with EFBIG
// instead of ending the program.
void IgnoreFileSizeSignal();

// True when path names an existing regular file that is not hidden (its name
// does not begin with a dot). The empty text is no file.
bool IsNormalFile(const QString& path);
