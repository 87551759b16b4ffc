// Process.dat: a 7-byte header ("PH" and three spaces, a 16-bit record count)
// followed by packed 1078-byte records, text in code page 932, little-endian.
#pragma once

#include "model/ProcessRecord.h"
#include "model/TextRows.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

inline constexpr int kHeaderSize = 7;
inline constexpr int kRecordSize = 1078;
inline constexpr int kMaxRecords = 32767;

// The outcome of a store operation. When it failed, reason says why in a line
// that the caller shows under its own failure message.
struct StoreResult {
    bool ok = false;
    QString reason;
    explicit operator bool() const { return ok; }
};

// The header of a store file and the records it can claim (never more than
// kMaxRecords, never what follows them).
class StoreFile {
  public:
    StoreFile(QByteArray bytes, qint64 fileSize) : bytes_(std::move(bytes)), fileSize_(fileSize) {}
    explicit StoreFile(QByteArray bytes) : StoreFile(bytes, bytes.size()) {}

    bool MagicOk() const;
    int16_t Count() const;
    // The records a reader sees: the header's count, limited to the whole
    // records present; none when the magic check fails or the count is negative.
    int32_t RecordCount() const;
    // The trimmed name of record index (index < RecordCount()).
    QString NameAt(int32_t index) const;
    QByteArrayView RawRecord(int32_t index) const;
    QByteArrayView RawMagic() const { return QByteArrayView(bytes_).first(5); }
    QByteArrayView RawHeader() const { return QByteArrayView(bytes_).first(kHeaderSize); }
    // The length of the file on disk.
    qint64 Size() const { return fileSize_; }

  private:
    QByteArray bytes_;
    qint64 fileSize_ = 0;
};

// Reads record index into destination; false, leaving destination untouched,
// when there is no such whole record.
bool ReadProcessRecord(ProcessRecord& destination, const StoreFile& file, int32_t index);

// The 1078 bytes of a record, or why it cannot be stored so that it reads back the same.
std::optional<QByteArray> EncodeRecord(const ProcessRecord& record, QString* problem);
ProcessRecord DecodeRecord(QByteArrayView bytes);

class ProcessStore {
  public:
    explicit ProcessStore(QString path) : path_(std::move(path)) {}

    const QString& Path() const { return path_; }
    bool Exists() const;

    // The whole file, or nullopt when it is missing (error left empty) or
    // cannot be read (error says why).
    std::optional<StoreFile> Read(QString* error) const;
    // The names of the records a reader sees, in order: read a slice at a time
    // into one small buffer, since a list needs nothing else of them, and
    // decoded together.
    std::optional<TextRows> ReadNames(QString* error) const;

    // Appends the record, or after confirmOverwrite() says yes, writes it over
    // the stored record of the same name. Declining still succeeds. Every change
    // is made under the store's lock on the file as it is at that moment.
    StoreResult SaveProcess(const ProcessRecord& record,
                            const std::function<bool()>& confirmOverwrite) const;

    // Rewrites the file without every record whose name matches.
    StoreResult DeleteProcess(const QString& name) const;

    // The first stored record whose name matches.
    std::optional<ProcessRecord> FindProcessByName(const QString& name, QString* error) const;

  private:
    // The file the store's path leads to now, links followed.
    QString Target() const;
    std::optional<StoreFile> ReadFile(const QString& target, bool forChange, QString* error) const;
    StoreResult CreateWith(const QString& target, const QByteArray& record) const;
    StoreResult Append(const QString& target, const StoreFile& file,
                       const QByteArray& record) const;
    StoreResult Overwrite(const QString& target, const StoreFile& file, int32_t index,
                          const QByteArray& record) const;
    StoreResult SaveLocked(const QByteArray& record, const QString& name,
                           std::optional<bool> overwrite, bool* needsAnswer) const;

    QString path_;
};
