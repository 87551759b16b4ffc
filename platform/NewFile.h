// A file written beside its final name and put in its place only when it is
// whole: a failed or abandoned write leaves nothing behind, and a file of the
// same name stays as it was until the new one replaces it in one step.
#pragma once

#include <sys/types.h>
#include <QString>
#include <cstddef>

class NewFile {
  public:
    // path: the final name; a symbolic link there is followed, so that the
    // file it leads to is replaced and the link stays.
    explicit NewFile(const QString& path);
    ~NewFile();  // removes what was written unless it was committed
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Creates the file beside the final name; false (with the reason) when it cannot.
    bool Open();
    bool Write(const void* data, size_t size);
    // Writes the file to the disk and gives it its final name.
    bool Commit();
    // Removes what was written.
    void Discard();

    // Why the last step failed, in Japanese.
    const QString& Error() const { return error_; }

  private:
    bool Fail(int error);

    QString target_;
    QString part_;  // the file being written
    int fd_ = -1;
    off_t written_ = 0;
    bool failed_ = false;
    QString error_;
};
