#include "model/ProcessStore.h"

#include "model/StoreLock.h"
#include "platform/CodePage932.h"
#include "platform/FileOps.h"
#include "platform/NameMatch.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtEndian>
#include <cerrno>

namespace {

constexpr int kMagicLength = 5;
constexpr qint64 kNameOffset = 0;
constexpr qint64 kPathOffset = 16;
constexpr qint64 kNumbersOffset = 1056;

qint64 RecordOffset(int32_t index) {
    return kHeaderSize + qint64(kRecordSize) * index;
}

// ---- text fields ---------------------------------------------------------

// A character as the user can read it; half of a character pair as its code.
QString Shown(const QString& character) {
    if (character.size() == 1 && character[0].isSurrogate())
        return QStringLiteral("U+%1")
            .arg(character[0].unicode(), 4, 16, QLatin1Char('0'))
            .toUpper();
    return character;
}

template <std::size_t N>
void DecodeField(FixedText<N>& field, QByteArrayView bytes) {
    const QString text = cp932::Decode(bytes);
    field.fill(u'\0');
    for (std::size_t i = 0; i < N && qsizetype(i) < text.size(); ++i)
        field[i] = text[qsizetype(i)].unicode();
}

// Writes all N characters converted, cut to N bytes; reports when the cut or
// the conversion would change what reads back.
template <std::size_t N>
bool EncodeField(const FixedText<N>& field, char* out) {
    const QString raw = RawText(field);
    const cp932::Encoded encoded = cp932::Encode(raw);
    const QByteArrayView stored = QByteArrayView(encoded.bytes).first(N);
    std::copy(stored.begin(), stored.end(), out);
    return encoded.lossless && TrimFixed(cp932::Decode(stored)) == TrimFixed(field);
}

// Why a field cannot be stored: the first character that code page 932
// cannot hold, too many bytes, or else that it would read back otherwise.
QString FieldProblem(const QString& fieldName, QStringView text, qsizetype fieldBytes) {
    const cp932::Encoded encoded = cp932::Encode(text);
    if (!encoded.lossless)
        return fieldName +
               QStringLiteral("に保存できない文字「%1」があります").arg(Shown(encoded.firstLost));
    if (encoded.bytes.size() > fieldBytes) return fieldName + QStringLiteral("が長すぎます");
    return fieldName + QStringLiteral("は保存すると元のとおりに読み戻せません");
}

// ---- file helpers --------------------------------------------------------

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) Files().Close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the close's own failure (a write error can surface here).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return Files().Close(fd) == 0;
    }

  private:
    int fd_;
};

bool WriteAll(int fd, const char* data, qint64 size, qint64 offset) {
    while (size > 0) {
        const ssize_t n = Files().PWrite(fd, data, size_t(size), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

bool ReadAt(int fd, char* data, qint64 size, qint64 offset, qint64* got) {
    *got = 0;
    while (*got < size) {
        const ssize_t n = Files().PRead(fd, data + *got, size_t(size - *got), off_t(offset + *got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // the file is shorter than it was
        *got += n;
    }
    return true;
}

// Reads the header and then only the records that it can claim: whatever
// follows them is never read, however large the file is.
// The header (shorter when the file is) and the file's length.
bool ReadHeader(int fd, QByteArray& out, qint64* fileSize) {
    struct stat info {};
    if (Files().FStat(fd, &info) != 0) return false;
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    *fileSize = info.st_size;
    out.resize(kHeaderSize);
    qint64 got = 0;
    if (!ReadAt(fd, out.data(), kHeaderSize, 0, &got)) return false;
    out.resize(got);
    return true;
}

bool ReadStoreBytes(int fd, QByteArray& out, qint64* fileSize) {
    if (!ReadHeader(fd, out, fileSize)) return false;
    if (out.size() < kHeaderSize) return true;
    qint64 got = 0;
    const int16_t count = qFromLittleEndian<int16_t>(out.constData() + 5);
    const qint64 whole = (*fileSize - kHeaderSize) / kRecordSize;
    const qint64 records = std::clamp<qint64>(std::min<qint64>(count, whole), 0, kMaxRecords);
    out.resize(kHeaderSize + records * kRecordSize);
    if (!ReadAt(fd, out.data() + kHeaderSize, records * kRecordSize, kHeaderSize, &got))
        return false;
    out.resize(kHeaderSize + got);
    return true;
}

StoreResult Failure(const QString& reason) {
    return {false, reason};
}
StoreResult ErrnoFailure() {
    return Failure(DescribeFileError(errno));
}
StoreResult Success() {
    return {true, {}};
}

QByteArray MakeHeader(QByteArrayView magic, int16_t count) {
    QByteArray header(kHeaderSize, '\0');
    std::copy(magic.begin(), magic.end(), header.begin());
    qToLittleEndian<int16_t>(count, header.data() + kMagicLength);
    return header;
}

QByteArray NewMagic() {
    FixedText<kMagicLength> magic{};
    AssignFixed(magic, u"PH");
    return cp932::Encode(RawText(magic)).bytes;
}

// Syncs the folder so that a rename survives a crash.
void SyncDirectoryOf(const QString& path) {
    const QByteArray dir = QFileInfo(path).absolutePath().toLocal8Bit();
    Fd fd(Files().Open(dir.constData(), O_RDONLY | O_DIRECTORY, 0));
    if (fd.get() >= 0) Files().FSync(fd.get());
}

// A name beside path that no other process holds: the prefix that marks the
// program's own temporary files and a random tail, created exclusively.
int CreateTemporary(const QString& path, mode_t mode, QByteArray* name) {
    const QByteArray prefix =
        (QFileInfo(path).absolutePath() + u'/' + TemporaryPrefix(path)).toLocal8Bit();
    for (int attempt = 0; attempt < 16; ++attempt) {
        *name = prefix + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        const int fd = Files().Open(name->constData(), O_WRONLY | O_CREAT | O_EXCL, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Writes the pieces, one after another, to a new file beside path and renames it
// over path, so that path holds either its old contents or the new ones, never a mix.
StoreResult WriteBesideAndRename(const QString& path, const QList<QByteArrayView>& pieces,
                                 mode_t mode) {
    QByteArray temp;
    Fd fd(CreateTemporary(path, mode, &temp));
    if (fd.get() < 0) return ErrnoFailure();
    bool written = true;
    qint64 offset = 0;
    for (QByteArrayView piece : pieces) {
        written = written && WriteAll(fd.get(), piece.data(), piece.size(), offset);
        offset += piece.size();
    }
    written = written && Files().FSync(fd.get()) == 0 && fd.Close();
    if (!written || Files().Rename(temp.constData(), path.toLocal8Bit().constData()) != 0) {
        const int error = errno;
        Files().Unlink(temp.constData());
        return Failure(DescribeFileError(error));
    }
    SyncDirectoryOf(path);
    return Success();
}

// Joins neighbouring views of one buffer into one piece, so that runs of kept
// records go out in one write.
void AppendPiece(QList<QByteArrayView>& pieces, QByteArrayView piece) {
    if (!pieces.isEmpty() && pieces.last().data() + pieces.last().size() == piece.data())
        pieces.last() = QByteArrayView(pieces.last().data(), pieces.last().size() + piece.size());
    else
        pieces << piece;
}

mode_t ModeOf(const QString& path) {
    struct stat info {};
    return Files().Stat(path.toLocal8Bit().constData(), &info) == 0 ? info.st_mode & 07777 : 0644;
}

QString NotAStoreFile() {
    return QStringLiteral("Process.dat はプロセスの保存ファイルではありません");
}

// Opens the store file without ever waiting on it: a FIFO, a socket or a
// device in its place is refused at once, before anything is read, and so is
// a change to a file with several names (hard links), which the rename that
// replaces it would split in two. The reason is left empty for a missing file.
int OpenStoreFile(const QString& file, int flags, bool forChange, QString* reason) {
    reason->clear();
    const int fd = Files().Open(file.toLocal8Bit().constData(), flags | O_NONBLOCK | O_NOCTTY, 0);
    if (fd < 0) {
        if (errno != ENOENT) *reason = DescribeFileError(errno);
        return -1;
    }
    struct stat info {};
    if (Files().FStat(fd, &info) != 0)
        *reason = DescribeFileError(errno);
    else if (S_ISDIR(info.st_mode))
        *reason = DescribeFileError(EISDIR);
    else if (!S_ISREG(info.st_mode))
        *reason = QStringLiteral("Process.dat が通常のファイルではありません");
    else if (forChange && info.st_nlink > 1)
        *reason =
            QStringLiteral("Process.dat にはほかの名前（ハードリンク）があるため変更できません");
    else
        return fd;
    Files().Close(fd);
    errno = EINVAL;
    return -1;
}

}  // namespace

// ---- StoreFile -----------------------------------------------------------

bool StoreFile::MagicOk() const {
    if (bytes_.size() < kHeaderSize) return false;
    FixedText<kMagicLength> magic{};
    DecodeField(magic, RawMagic());
    return TrimFixed(magic) == u"PH";
}

int16_t StoreFile::Count() const {
    return bytes_.size() < kHeaderSize ? 0 : qFromLittleEndian<int16_t>(bytes_.constData() + 5);
}

int32_t StoreFile::RecordCount() const {
    if (!MagicOk() || Count() < 0) return 0;
    const qint64 whole = (bytes_.size() - kHeaderSize) / kRecordSize;
    return int32_t(std::min<qint64>(Count(), whole));
}

QByteArrayView StoreFile::RawRecord(int32_t index) const {
    return QByteArrayView(bytes_).sliced(RecordOffset(index), kRecordSize);
}

namespace {
QString NameOfRecord(QByteArrayView record) {
    FixedText<kNameLength> name{};
    DecodeField(name, record.first(kNameLength));
    return TrimFixed(name);
}

// Appends a record's name bytes up to their first NUL, and a NUL after them.
// A NUL byte is never half of a two-byte character, so names laid end to end
// this way decode in one pass exactly as each would alone.
void AppendNameBytes(QByteArray& joined, QByteArrayView record) {
    const QByteArrayView field = record.first(kNameLength);
    const qsizetype nul = field.indexOf('\0');
    joined.append(nul < 0 ? field : field.first(nul));
    joined.append('\0');
}
}  // namespace

QString StoreFile::NameAt(int32_t index) const {
    return NameOfRecord(RawRecord(index));
}

// ---- records -------------------------------------------------------------

bool ReadProcessRecord(ProcessRecord& destination, const StoreFile& file, int32_t index) {
    if (index < 0 || index >= file.RecordCount()) return false;
    destination = DecodeRecord(file.RawRecord(index));
    return true;
}

ProcessRecord DecodeRecord(QByteArrayView bytes) {
    ProcessRecord r;
    DecodeField(r.Name, bytes.sliced(kNameOffset, kNameLength));
    for (int i = 0; i < kPanelCount; ++i)
        DecodeField(r.PanelPath[i], bytes.sliced(kPathOffset + kPathLength * i, kPathLength));
    const char* n = bytes.data() + kNumbersOffset;
    r.ImageAppearance = qFromLittleEndian<int16_t>(n);
    r.RunStyle = qFromLittleEndian<int16_t>(n + 2);
    r.FitMode = qFromLittleEndian<int16_t>(n + 4);
    r.IntervalMs = qFromLittleEndian<int32_t>(n + 6);
    r.BackColor = qFromLittleEndian<int32_t>(n + 10);
    r.FixedWidth = qFromLittleEndian<int32_t>(n + 14);
    r.FixedHeight = qFromLittleEndian<int32_t>(n + 18);
    return r;
}

std::optional<QByteArray> EncodeRecord(const ProcessRecord& r, QString* problem) {
    QByteArray out(kRecordSize, '\0');
    if (!EncodeField(r.Name, out.data() + kNameOffset)) {
        *problem = FieldProblem(QStringLiteral("プロセス名"), TrimFixed(r.Name), kNameLength);
        return std::nullopt;
    }
    for (int i = 0; i < kPanelCount; ++i) {
        if (!EncodeField(r.PanelPath[i], out.data() + kPathOffset + kPathLength * i)) {
            *problem = FieldProblem(QString::number(i + 1) + QStringLiteral("コマ目のパス"),
                                    TrimFixed(r.PanelPath[i]), kPathLength);
            return std::nullopt;
        }
    }
    char* n = out.data() + kNumbersOffset;
    qToLittleEndian<int16_t>(r.ImageAppearance, n);
    qToLittleEndian<int16_t>(r.RunStyle, n + 2);
    qToLittleEndian<int16_t>(r.FitMode, n + 4);
    qToLittleEndian<int32_t>(r.IntervalMs, n + 6);
    qToLittleEndian<int32_t>(r.BackColor, n + 10);
    qToLittleEndian<int32_t>(r.FixedWidth, n + 14);
    qToLittleEndian<int32_t>(r.FixedHeight, n + 18);
    return out;
}

// ---- ProcessStore --------------------------------------------------------

bool ProcessStore::Exists() const {
    struct stat info {};
    return Files().Stat(Target().toLocal8Bit().constData(), &info) == 0;
}

std::optional<StoreFile> ProcessStore::Read(QString* error) const {
    return ReadFile(Target(), false, error);
}

std::optional<StoreFile> ProcessStore::ReadFile(const QString& file, bool forChange,
                                                QString* error) const {
    Fd fd(OpenStoreFile(file, O_RDONLY, forChange, error));
    if (fd.get() < 0) return std::nullopt;
    QByteArray bytes;
    qint64 size = 0;
    if (!ReadStoreBytes(fd.get(), bytes, &size)) {
        *error = DescribeFileError(errno);
        return std::nullopt;
    }
    return StoreFile(std::move(bytes), size);
}

QString ProcessStore::Target() const {
    return ResolveLinks(path_);
}

std::optional<TextRows> ProcessStore::ReadNames(QString* error) const {
    constexpr qint64 kSlice = 256;  // records per read: small enough to stay in the cache
    Fd fd(OpenStoreFile(Target(), O_RDONLY, false, error));
    if (fd.get() < 0) return std::nullopt;
    QByteArray header;
    qint64 size = 0;
    auto failed = [&] {
        *error = DescribeFileError(errno);
        return std::nullopt;
    };
    if (!ReadHeader(fd.get(), header, &size)) return failed();
    const StoreFile file(header, size);
    const qint64 whole = std::max<qint64>(size - kHeaderSize, 0) / kRecordSize;
    const qint64 count =
        header.size() < kHeaderSize || !file.MagicOk()
            ? 0
            : std::clamp<qint64>(std::min<qint64>(file.Count(), whole), 0, kMaxRecords);
    QByteArray joined;
    joined.reserve(count * (kNameLength + 1));
    QByteArray slice(kSlice * kRecordSize, Qt::Uninitialized);
    for (qint64 first = 0; first < count; first += kSlice) {
        const qint64 wanted = std::min(kSlice, count - first) * kRecordSize;
        qint64 got = 0;
        if (!ReadAt(fd.get(), slice.data(), wanted, kHeaderSize + first * kRecordSize, &got))
            return failed();
        for (qint64 at = 0; at + kRecordSize <= got; at += kRecordSize)
            AppendNameBytes(joined, QByteArrayView(slice).sliced(at, kRecordSize));
        if (got < wanted) break;  // the file became shorter meanwhile
    }
    return TextRows::FromNulEnded(cp932::Decode(joined));
}

StoreResult ProcessStore::CreateWith(const QString& target, const QByteArray& record) const {
    const QByteArray header = MakeHeader(NewMagic(), 1);
    return WriteBesideAndRename(target, {header, record}, 0644);
}

// Writes the record after the records readers see, then raises the count, so
// that the header never claims a record that is not there.
StoreResult ProcessStore::Append(const QString& target, const StoreFile& file,
                                 const QByteArray& record) const {
    const int32_t count = file.RecordCount();
    if (count >= kMaxRecords)
        return Failure(QStringLiteral("これ以上保存できません（%1件まで）").arg(kMaxRecords));
    QString reason;
    Fd fd(OpenStoreFile(target, O_RDWR, true, &reason));
    if (fd.get() < 0) return Failure(reason.isEmpty() ? DescribeFileError(ENOENT) : reason);
    const QByteArray header = MakeHeader(file.RawMagic(), int16_t(count + 1));
    if (WriteAll(fd.get(), record.constData(), kRecordSize, RecordOffset(count)) &&
        Files().FSync(fd.get()) == 0 && WriteAll(fd.get(), header.constData(), kHeaderSize, 0) &&
        Files().FSync(fd.get()) == 0 && fd.Close())
        return Success();
    // Put the old header and length back, so that the file is as it was.
    const int error = errno;
    if (fd.get() >= 0) {
        WriteAll(fd.get(), file.RawHeader().data(), kHeaderSize, 0);
        Files().FTruncate(fd.get(), off_t(file.Size()));
    }
    return Failure(DescribeFileError(error));
}

// Replaces record index by writing the whole store anew beside it: the stored
// record is the old one or the new one, whatever happens meanwhile.
// The header counts exactly the records written, also where the old one
// claimed more than the file held.
StoreResult ProcessStore::Overwrite(const QString& target, const StoreFile& file, int32_t index,
                                    const QByteArray& record) const {
    const QByteArray header = MakeHeader(file.RawMagic(), int16_t(file.RecordCount()));
    QList<QByteArrayView> pieces{header};
    for (int32_t i = 0; i < file.RecordCount(); ++i)
        AppendPiece(pieces, i == index ? QByteArrayView(record) : file.RawRecord(i));
    return WriteBesideAndRename(target, pieces, ModeOf(target));
}

// One locked pass of a save: read the store as it is now, decide where the
// record goes, write it. A name match before the user has answered the
// overwrite question ends the pass with needsAnswer, so that the question is
// never asked while other processes wait for the lock.
StoreResult ProcessStore::SaveLocked(const QByteArray& record, const QString& name,
                                     std::optional<bool> overwrite, bool* needsAnswer) const {
    *needsAnswer = false;
    QString error;
    const QString target = Target();
    // The first save creates the store's folder when it does not exist yet,
    // for this user alone.
    if (!MakeFolders(QFileInfo(target).absolutePath(), 0700))
        return Failure(QStringLiteral("保存先のフォルダを作れません\r") + DescribeFileError(errno));
    std::optional<StoreLock> lock = StoreLock::Take(target, &error);
    if (!lock) return Failure(error);
    RemoveLeftoverTemporaries(target);
    const std::optional<StoreFile> file = ReadFile(target, true, &error);
    if (!file) return error.isEmpty() ? CreateWith(target, record) : Failure(error);
    if (!file->MagicOk()) return Failure(NotAStoreFile());
    if (file->Count() < 0) return Failure(QStringLiteral("Process.dat の件数が壊れています"));
    const int32_t count = file->RecordCount();
    for (int32_t i = 0; i < count; ++i) {
        if (!NamesMatch(file->NameAt(i), name)) continue;
        if (!overwrite) {
            *needsAnswer = true;
            return Success();
        }
        return *overwrite ? Overwrite(target, *file, i, record) : Success();
    }
    return Append(target, *file, record);
}

StoreResult ProcessStore::SaveProcess(const ProcessRecord& record,
                                      const std::function<bool()>& confirmOverwrite) const {
    QString problem;
    const std::optional<QByteArray> encoded = EncodeRecord(record, &problem);
    if (!encoded) return Failure(problem);
    const QString name = TrimFixed(record.Name);
    std::optional<bool> overwrite;
    for (;;) {
        bool needsAnswer = false;
        const StoreResult result = SaveLocked(*encoded, name, overwrite, &needsAnswer);
        if (!needsAnswer) return result;
        overwrite = confirmOverwrite();
    }
}

StoreResult ProcessStore::DeleteProcess(const QString& name) const {
    QString error;
    const QString target = Target();
    std::optional<StoreLock> lock = StoreLock::Take(target, &error);
    if (!lock) return Failure(error);
    RemoveLeftoverTemporaries(target);
    const std::optional<StoreFile> file = ReadFile(target, true, &error);
    if (!file) return Failure(error.isEmpty() ? QStringLiteral("Process.dat がありません") : error);
    if (!file->MagicOk()) return Failure(NotAStoreFile());
    const int32_t count = file->RecordCount();
    if (count == 0) return Failure(QStringLiteral("削除するプロセスがありません"));

    // The kept records are written as they are, byte for byte, straight from what was read.
    const QString wanted = TrimFixed(name);
    QList<QByteArrayView> pieces;
    int16_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (NamesMatch(file->NameAt(i), wanted)) continue;
        AppendPiece(pieces, file->RawRecord(i));
        ++kept;
    }
    const QByteArray header = MakeHeader(file->RawMagic(), kept);
    pieces.prepend(header);
    return WriteBesideAndRename(target, pieces, ModeOf(target));
}

std::optional<ProcessRecord> ProcessStore::FindProcessByName(const QString& name,
                                                             QString* error) const {
    const std::optional<StoreFile> file = Read(error);
    if (!file) return std::nullopt;
    const int32_t count = file->RecordCount();
    const QString wanted = TrimFixed(name);
    for (int32_t i = 0; i < count; ++i) {
        ProcessRecord found;
        if (NamesMatch(file->NameAt(i), wanted) && ReadProcessRecord(found, *file, i)) return found;
    }
    return std::nullopt;
}
