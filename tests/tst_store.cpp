// Process.dat: exact bytes of every write, damaged and foreign files, and
// failing file systems.
#include "model/ProcessStore.h"
#include "model/StoreLock.h"
#include "platform/CodePage932.h"
#include "platform/FileOps.h"

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cerrno>

namespace {

ProcessRecord Record(const QString& name, const QString& panel1 = {}) {
    ProcessRecord r;
    AssignFixed(r.Name, name);
    if (!panel1.isEmpty()) AssignFixed(r.PanelPath[0], panel1);
    return r;
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray Header(int16_t count, QByteArray magic = "PH   ") {
    QByteArray h = magic;
    h.resize(7);
    qToLittleEndian<int16_t>(count, h.data() + 5);
    return h;
}

QByteArray RawRecord(const QString& name) {
    QString problem;
    return *EncodeRecord(Record(name), &problem);
}

auto Yes = [] { return true; };
auto No = [] { return false; };
auto NeverAsked = [] {
    qFatal("overwrite question was not expected");
    return false;
};

// Makes one kind of file-system call fail with a chosen error, after a number of
// successful calls of that kind.
class FailingFiles : public FileOps {
  public:
    QString op;
    int skip = 0;
    int error = EIO;
    bool partialWrite = false;

    FailingFiles() { SetFiles(this); }
    ~FailingFiles() override { SetFiles(nullptr); }

    bool Fails(const char* name) {
        if (op != QLatin1String(name)) return false;
        if (skip-- > 0) return false;
        errno = error;
        return true;
    }
    int Open(const char* p, int f, mode_t m) override {
        return Fails("open") ? -1 : FileOps::Open(p, f, m);
    }
    ssize_t PWrite(int fd, const void* b, size_t n, off_t o) override {
        if (!Fails("write")) return FileOps::PWrite(fd, b, n, o);
        if (partialWrite && n > 1) return FileOps::PWrite(fd, b, n / 2, o);
        return -1;
    }
    int FSync(int fd) override { return Fails("fsync") ? -1 : FileOps::FSync(fd); }
    int Rename(const char* a, const char* b) override {
        return Fails("rename") ? -1 : FileOps::Rename(a, b);
    }
    int Close(int fd) override {
        const int result = FileOps::Close(fd);
        return Fails("close") ? -1 : result;
    }
};

// Counts the bytes the store reads.
class CountingFiles : public FileOps {
  public:
    qint64 read = 0;
    CountingFiles() { SetFiles(this); }
    ~CountingFiles() override { SetFiles(nullptr); }
    ssize_t PRead(int fd, void* b, size_t n, off_t o) override {
        const ssize_t got = FileOps::PRead(fd, b, n, o);
        if (got > 0) read += got;
        return got;
    }
};

QStringList FilesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
}

}  // namespace

Q_DECLARE_METATYPE(ProcessRecord)

class StoreTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void firstSaveWritesExactBytes();
    void newNameAppendsAtTheEnd();
    void sameNameInOtherCaseOverwritesInPlace();
    void decliningTheOverwriteWritesNothing();
    void deletingTheOnlyRecordLeavesAnEmptyStore();
    void deleteRemovesEveryMatchAndKeepsOthersByteForByte();
    void magicCheck();
    void countLargerThanFileShowsWholeRecordsOnly();
    void namesAreReadAsTheRecordsAre();
    void strayBytesDoNotShiftTheNewRecord();
    void negativeCountIsRefused();
    void fullStoreRefusesNewNameButOverwrites();
    void unstorableTextIsRefused_data();
    void unstorableTextIsRefused();
    void fileSizeLimitLeavesFileAsItWas();
    void failedWritesLeaveFileAsItWas_data();
    void failedWritesLeaveFileAsItWas();
    void failedDeleteKeepsOldFile_data();
    void failedDeleteKeepsOldFile();
    void replacedFileIsNeverClobbered();
    void findOpensFirstMatch();
    void directoryInPlaceOfFile();
    void failedOverwriteKeepsOldRecord_data();
    void failedOverwriteKeepsOldRecord();
    void hugeTrailingBytesAreNeverRead();
    void leftoverTemporariesAreRemoved();
    void heldLockFailsSoonAndChangesNothing();
    void overwriteQuestionIsAskedWithoutTheLock();
    void invalidBytesSurviveOpenAndSave();
    void charactersOutsideTheBmpAreRefused();
    void specialFilesAreRefusedAtOnce_data();
    void specialFilesAreRefusedAtOnce();
    void linkedStoreStaysOneStore();
    void hardLinkedStoreIsNotChanged();
    void rewriteCountsTheRecordsItWrites();
    void firstSaveMakesPrivateFolders();

  private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString path_;
};

void StoreTest::init() {
    IgnoreFileSizeSignal();
    dir_ = std::make_unique<QTemporaryDir>();
    path_ = dir_->filePath(QStringLiteral("Process.dat"));
}

void StoreTest::firstSaveWritesExactBytes() {
    ProcessRecord r = Record(QStringLiteral("新しいプロセス"), QStringLiteral("/p/a.bmp"));
    r.ImageAppearance = 1;
    r.RunStyle = 2;
    r.FitMode = -1;
    r.IntervalMs = 2000;
    r.BackColor = 0x800000;
    r.FixedWidth = 347;
    r.FixedHeight = -5;
    QVERIFY(ProcessStore(path_).SaveProcess(r, NeverAsked).ok);

    const QByteArray bytes = ReadBytes(path_);
    QCOMPARE(bytes.size(), 1085);
    QCOMPARE(bytes.left(7), QByteArray::fromHex("50 48 20 20 20 01 00"));
    QCOMPARE(bytes.mid(7, 16), QByteArray::fromHex("9056 82b5 82a2 8376 838d 835a 8358 2020"));
    QCOMPARE(bytes.mid(23, 260), QByteArray("/p/a.bmp") + QByteArray(252, ' '));
    QCOMPARE(bytes.mid(283, 260), QByteArray(260, '\0'));  // never written
    QCOMPARE(bytes.mid(7 + 1056),
             QByteArray::fromHex("0100 0200 ffff d0070000 00008000 5b010000 fbffffff"));

    QString error;
    const auto file = ProcessStore(path_).Read(&error);
    ProcessRecord back;
    QVERIFY(ReadProcessRecord(back, *file, 0));
    QCOMPARE(TrimFixed(back.Name), QStringLiteral("新しいプロセス"));
    QCOMPARE(TrimFixed(back.PanelPath[0]), QStringLiteral("/p/a.bmp"));
    QVERIFY(TrimFixed(back.PanelPath[1]).isEmpty());
    QCOMPARE(back.IntervalMs, 2000);
    QCOMPARE(back.FixedHeight, -5);
    QVERIFY(!ReadProcessRecord(back, *file, 1));
}

void StoreTest::newNameAppendsAtTheEnd() {
    const ProcessStore store(path_);
    QVERIFY(store.SaveProcess(Record("one"), NeverAsked).ok);
    QVERIFY(store.SaveProcess(Record("two"), NeverAsked).ok);
    const QByteArray bytes = ReadBytes(path_);
    QCOMPARE(bytes.size(), 7 + 2 * 1078);
    QCOMPARE(bytes.left(7), Header(2));
    QCOMPARE(bytes.mid(7 + 1078, 16), QByteArray("two") + QByteArray(13, ' '));
}

void StoreTest::sameNameInOtherCaseOverwritesInPlace() {
    const ProcessStore store(path_);
    store.SaveProcess(Record("Comic"), NeverAsked);
    store.SaveProcess(Record("other"), NeverAsked);
    ProcessRecord changed = Record("COMIC");
    changed.IntervalMs = 500;
    int asked = 0;
    QVERIFY(store.SaveProcess(changed, [&] { return ++asked, true; }).ok);
    QCOMPARE(asked, 1);
    const QByteArray bytes = ReadBytes(path_);
    QCOMPARE(bytes.size(), 7 + 2 * 1078);
    QCOMPARE(bytes.left(7), Header(2));
    QCOMPARE(bytes.mid(7, 5), QByteArray("COMIC"));
    QCOMPARE(qFromLittleEndian<int32_t>(bytes.constData() + 7 + 1062), 500);
}

void StoreTest::decliningTheOverwriteWritesNothing() {
    const ProcessStore store(path_);
    store.SaveProcess(Record("Comic"), NeverAsked);
    const QByteArray before = ReadBytes(path_);
    ProcessRecord changed = Record("comic");
    changed.BackColor = 0xFF;
    QVERIFY(store.SaveProcess(changed, No).ok);
    QCOMPARE(ReadBytes(path_), before);
}

void StoreTest::deletingTheOnlyRecordLeavesAnEmptyStore() {
    const ProcessStore store(path_);
    store.SaveProcess(Record("only"), NeverAsked);
    QVERIFY(store.DeleteProcess("ONLY").ok);
    QCOMPARE(ReadBytes(path_), Header(0));
    QVERIFY(!store.DeleteProcess("only").ok);  // nothing left to delete from
    QVERIFY(store.SaveProcess(Record("again"), NeverAsked).ok);
    const QByteArray bytes = ReadBytes(path_);
    QCOMPARE(bytes.size(), 1085);
    QCOMPARE(bytes.left(7), Header(1));
    QCOMPARE(bytes.mid(7, 5), QByteArray("again"));
}

void StoreTest::deleteRemovesEveryMatchAndKeepsOthersByteForByte() {
    // A foreign record whose name holds bytes that are not valid code page 932
    // must come through a delete unchanged.
    QByteArray foreign = RawRecord("x");
    foreign[0] = char(0x81);
    foreign[1] = char(0x20);
    WriteBytes(path_,
               Header(4) + RawRecord("dup") + foreign + RawRecord("DUP") + RawRecord("keep"));
    QVERIFY(ProcessStore(path_).DeleteProcess("Dup").ok);
    QCOMPARE(ReadBytes(path_), Header(2) + foreign + RawRecord("keep"));
}

void StoreTest::magicCheck() {
    WriteBytes(path_, Header(1, QByteArray("PH\0\0\0", 5)) + RawRecord("a"));
    QString error;
    QCOMPARE(ProcessStore(path_).Read(&error)->RecordCount(), 1);
    QVERIFY(ProcessStore(path_).SaveProcess(Record("b"), NeverAsked).ok);
    QCOMPARE(ReadBytes(path_).left(7), Header(2, QByteArray("PH\0\0\0", 5)));

    const QByteArray lower = Header(1, "ph   ") + RawRecord("a");
    WriteBytes(path_, lower);
    const ProcessStore store(path_);
    QCOMPARE(store.Read(&error)->RecordCount(), 0);
    const StoreResult saved = store.SaveProcess(Record("b"), NeverAsked);
    QVERIFY(!saved.ok);
    QVERIFY(!saved.reason.isEmpty());
    QVERIFY(!store.DeleteProcess("a").ok);
    QCOMPARE(ReadBytes(path_), lower);

    WriteBytes(path_, QByteArray());
    QVERIFY(!store.SaveProcess(Record("b"), NeverAsked).ok);
    QCOMPARE(ReadBytes(path_), QByteArray());
}

void StoreTest::countLargerThanFileShowsWholeRecordsOnly() {
    WriteBytes(path_, Header(5) + RawRecord("a") + RawRecord("b") + RawRecord("c").left(500));
    QString error;
    const auto file = ProcessStore(path_).Read(&error);
    QCOMPARE(file->RecordCount(), 2);
    ProcessRecord r;
    QVERIFY(!ReadProcessRecord(r, *file, 2));
    QVERIFY(ProcessStore(path_).SaveProcess(Record("new"), NeverAsked).ok);
    QCOMPARE(ReadBytes(path_), Header(3) + RawRecord("a") + RawRecord("b") + RawRecord("new"));
}

// The list reads only the names, a slice at a time: it must see exactly the
// records a whole reading sees, across slice boundaries and in damaged files.
void StoreTest::namesAreReadAsTheRecordsAre() {
    QString error;
    const ProcessStore store(path_);
    auto wholeReading = [&] {
        const auto file = store.Read(&error);
        QStringList names;
        for (int32_t i = 0; file && i < file->RecordCount(); ++i) names << file->NameAt(i);
        return names;
    };
    QByteArray many = Header(600);
    for (int i = 0; i < 600; ++i) many += RawRecord(QStringLiteral("名前%1").arg(i));
    // Name fields as a foreign program may leave them: a character's first
    // byte last or before a NUL, bytes that are no character, control codes,
    // text after a NUL, spaces around, all NULs, all spaces.
    const QList<QByteArray> oddFields = {"\x82\xa0\x82\xa2 abc  \x82\xa4 \x82",
                                         "\x82\0\x82\xa0",
                                         "\xa0\x80\xfd\xfe\xff\x85\x40",
                                         "\x1a\x1c\x7f\x81",
                                         "ab\0cd",
                                         "  \x83\x76  ",
                                         QByteArray(16, '\0'),
                                         QByteArray(16, ' '),
                                         "\x81\x1a\x81\x7f\x81\x0a\x81"};
    QByteArray odd = Header(int16_t(oddFields.size() * 2));
    for (const QByteArray& field : oddFields) {
        odd += field.leftJustified(16, '\0', true) + RawRecord("x").mid(16);
        odd += field.leftJustified(16, ' ', true) + RawRecord("x").mid(16);
    }
    const QList<QByteArray> files = {
        many,
        odd,
        many.left(7 + 513 * 1078 + 40),  // count beyond the file, a record cut short
        Header(2) + RawRecord("a") + RawRecord("b") + QByteArray(3000, 'z'),
        Header(-3) + RawRecord("a"),
        Header(1, "ph   ") + RawRecord("a"),
        Header(1).left(4),
    };
    for (const QByteArray& bytes : files) {
        WriteBytes(path_, bytes);
        QCOMPARE(store.ReadNames(&error)->ToList(), wholeReading());
    }
    QCOMPARE(store.ReadNames(&error)->size(), 0);
    WriteBytes(path_, many.left(7 + 513 * 1078 + 40));
    const QStringList names = store.ReadNames(&error)->ToList();
    QCOMPARE(names.size(), 513);
    QCOMPARE(names.last(), QStringLiteral("名前512"));
    QFile::remove(path_);
    QVERIFY(!store.ReadNames(&error));
    QVERIFY(error.isEmpty());  // no store yet is no error
}

void StoreTest::strayBytesDoNotShiftTheNewRecord() {
    const QByteArray stray(100, 'z');
    WriteBytes(path_, Header(1) + RawRecord("a") + stray);
    QVERIFY(ProcessStore(path_).SaveProcess(Record("b"), NeverAsked).ok);
    const QByteArray bytes = ReadBytes(path_);
    QCOMPARE(bytes.left(7 + 2 * 1078), Header(2) + RawRecord("a") + RawRecord("b"));
}

void StoreTest::negativeCountIsRefused() {
    const QByteArray damaged = Header(-3) + RawRecord("a");
    WriteBytes(path_, damaged);
    QString error;
    QCOMPARE(ProcessStore(path_).Read(&error)->RecordCount(), 0);
    const StoreResult result = ProcessStore(path_).SaveProcess(Record("b"), NeverAsked);
    QVERIFY(!result.ok);
    QVERIFY(!result.reason.isEmpty());
    QCOMPARE(ReadBytes(path_), damaged);
}

void StoreTest::fullStoreRefusesNewNameButOverwrites() {
    QByteArray bytes = Header(kMaxRecords);
    const QByteArray one = RawRecord("same");
    bytes.reserve(7 + qint64(kMaxRecords) * 1078);
    for (int i = 0; i < kMaxRecords; ++i) bytes += one;
    WriteBytes(path_, bytes);
    const StoreResult refused = ProcessStore(path_).SaveProcess(Record("new"), NeverAsked);
    QVERIFY(!refused.ok);
    QVERIFY(refused.reason.contains(QStringLiteral("32767")));
    QCOMPARE(ReadBytes(path_).size(), bytes.size());
    ProcessRecord changed = Record("same");
    changed.IntervalMs = 1;
    QVERIFY(ProcessStore(path_).SaveProcess(changed, Yes).ok);
    QCOMPARE(qFromLittleEndian<int32_t>(ReadBytes(path_).constData() + 7 + 1062), 1);
}

void StoreTest::unstorableTextIsRefused_data() {
    QTest::addColumn<ProcessRecord>("record");
    QTest::addColumn<QString>("reasonPart");
    QTest::newRow("name outside code page")
        << Record(QStringLiteral("café")) << "プロセス名に保存できない文字「é」があります";
    ProcessRecord path = Record("ok");
    AssignFixed(path.PanelPath[2], QStringLiteral("/p/한.bmp"));
    QTest::newRow("path outside code page") << path << "3コマ目";
    ProcessRecord longPath = Record("ok");
    AssignFixed(longPath.PanelPath[0], QStringLiteral("/") + QString(200, QChar(u'漢')));
    QTest::newRow("path over 260 bytes") << longPath << "長すぎます";
    ProcessRecord longName = Record(QStringLiteral("１２３４５６７８９"));
    QTest::newRow("name over 16 bytes") << longName << "プロセス名";
}

void StoreTest::unstorableTextIsRefused() {
    QFETCH(ProcessRecord, record);
    QFETCH(QString, reasonPart);
    const ProcessStore store(path_);
    const StoreResult first = store.SaveProcess(record, NeverAsked);
    QVERIFY(!first.ok);
    QVERIFY2(first.reason.contains(reasonPart), qPrintable(first.reason));
    QVERIFY(!QFile::exists(path_));
    store.SaveProcess(Record("a"), NeverAsked);
    const QByteArray before = ReadBytes(path_);
    QVERIFY(!store.SaveProcess(record, NeverAsked).ok);
    QCOMPARE(ReadBytes(path_), before);
}

void StoreTest::fileSizeLimitLeavesFileAsItWas() {
    const ProcessStore store(path_);
    store.SaveProcess(Record("a"), NeverAsked);
    const QByteArray before = ReadBytes(path_);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = before.size() + 500;  // room for half a record
    setrlimit(RLIMIT_FSIZE, &limited);
    const StoreResult appended = store.SaveProcess(Record("b"), NeverAsked);
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(!appended.ok);
    QCOMPARE(appended.reason, QStringLiteral("ディスクの空きが足りません"));
    QCOMPARE(ReadBytes(path_), before);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"Process.dat"});
}

void StoreTest::failedWritesLeaveFileAsItWas_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("skip");
    QTest::addColumn<bool>("partial");
    QTest::newRow("folder lock") << "open" << 0 << false;
    QTest::newRow("open for append") << "open" << 2 << false;
    QTest::newRow("record write") << "write" << 0 << false;
    QTest::newRow("half a record written") << "write" << 0 << true;
    QTest::newRow("header write") << "write" << 1 << false;
    QTest::newRow("first fsync") << "fsync" << 0 << false;
    QTest::newRow("second fsync") << "fsync" << 1 << false;
    QTest::newRow("close") << "close" << 0 << false;
}

void StoreTest::failedWritesLeaveFileAsItWas() {
    QFETCH(QString, op);
    QFETCH(int, skip);
    QFETCH(bool, partial);
    const ProcessStore store(path_);
    store.SaveProcess(Record("a"), NeverAsked);
    const QByteArray before = ReadBytes(path_);
    StoreResult result;
    {
        FailingFiles failing;
        failing.op = op;
        failing.skip = skip;
        failing.partialWrite = partial;
        result = store.SaveProcess(Record("b"), NeverAsked);
    }
    QVERIFY(!result.ok);
    QCOMPARE(result.reason, QStringLiteral("入出力エラーが発生しました"));
    // Either untouched, or (when only the final sync or close failed) complete.
    const QByteArray after = ReadBytes(path_);
    QVERIFY(after == before || after == Header(2) + RawRecord("a") + RawRecord("b"));
}

void StoreTest::failedDeleteKeepsOldFile_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("error");
    QTest::newRow("create beside") << "open" << int(EACCES);
    QTest::newRow("write") << "write" << int(ENOSPC);
    QTest::newRow("fsync") << "fsync" << int(EIO);
    QTest::newRow("rename") << "rename" << int(EROFS);
}

void StoreTest::failedDeleteKeepsOldFile() {
    QFETCH(QString, op);
    QFETCH(int, error);
    const QByteArray original = Header(2) + RawRecord("a") + RawRecord("b");
    WriteBytes(path_, original);
    StoreResult result;
    {
        FailingFiles failing;
        failing.op = op;
        failing.skip = op == "open" ? 2 : 0;  // the lock and the read succeed, the new file fails
        failing.error = error;
        result = ProcessStore(path_).DeleteProcess("a");
    }
    QVERIFY(!result.ok);
    QCOMPARE(result.reason, DescribeFileError(error));
    QCOMPARE(ReadBytes(path_), original);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"Process.dat"});
}

void StoreTest::replacedFileIsNeverClobbered() {
    const ProcessStore store(path_);
    store.SaveProcess(Record("a"), NeverAsked);
    // Another program puts something else in its place between two operations.
    const QByteArray foreign("PK\3\4 an archive, not a store");
    WriteBytes(path_, foreign);
    QVERIFY(!store.DeleteProcess("a").ok);
    QVERIFY(!store.SaveProcess(Record("b"), NeverAsked).ok);
    QString error;
    QVERIFY(!store.FindProcessByName("a", &error));
    QCOMPARE(ReadBytes(path_), foreign);
}

void StoreTest::findOpensFirstMatch() {
    ProcessRecord first = Record("Twin");
    first.IntervalMs = 1;
    ProcessRecord second = Record("TWIN");
    second.IntervalMs = 2;
    QString problem;
    WriteBytes(path_, Header(2) + *EncodeRecord(first, &problem) + *EncodeRecord(second, &problem));
    QString error;
    QCOMPARE(ProcessStore(path_).FindProcessByName("twin", &error)->IntervalMs, 1);
    QVERIFY(!ProcessStore(path_).FindProcessByName("none", &error));
    QVERIFY(!ProcessStore(dir_->filePath("missing.dat")).FindProcessByName("twin", &error));
    QVERIFY(error.isEmpty());
}

void StoreTest::directoryInPlaceOfFile() {
    QDir(dir_->path()).mkdir("Process.dat");
    const ProcessStore store(path_);
    QString error;
    QVERIFY(!store.Read(&error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!store.SaveProcess(Record("a"), NeverAsked).ok);
    QVERIFY(!store.DeleteProcess("a").ok);
}

void StoreTest::failedOverwriteKeepsOldRecord_data() {
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("skip");
    QTest::addColumn<bool>("partial");
    QTest::newRow("create beside") << "open" << 2 << false;
    QTest::newRow("write") << "write" << 0 << false;
    QTest::newRow("half written") << "write" << 0 << true;
    QTest::newRow("fsync") << "fsync" << 0 << false;
    QTest::newRow("close") << "close" << 2 << false;
    QTest::newRow("rename") << "rename" << 0 << false;
}

void StoreTest::failedOverwriteKeepsOldRecord() {
    QFETCH(QString, op);
    QFETCH(int, skip);
    QFETCH(bool, partial);
    const QByteArray before = Header(3) + RawRecord("a") + RawRecord("b") + RawRecord("c");
    WriteBytes(path_, before);
    ProcessRecord changed = Record("B");
    changed.IntervalMs = 99;
    StoreResult result;
    {
        FailingFiles failing;
        failing.op = op;
        failing.skip = skip;
        failing.partialWrite = partial;
        result = ProcessStore(path_).SaveProcess(changed, Yes);
    }
    QVERIFY(!result.ok);
    QCOMPARE(result.reason, QStringLiteral("入出力エラーが発生しました"));
    QCOMPARE(ReadBytes(path_), before);
    QCOMPARE(FilesIn(*dir_), QStringList{"Process.dat"});
    // The next try goes through and puts the record in its old place.
    QVERIFY(ProcessStore(path_).SaveProcess(changed, Yes).ok);
    QString problem;
    QCOMPARE(ReadBytes(path_),
             Header(3) + RawRecord("a") + *EncodeRecord(changed, &problem) + RawRecord("c"));
}

void StoreTest::hugeTrailingBytesAreNeverRead() {
    constexpr qint64 kTwoGiB = qint64(2) << 30;
    WriteBytes(path_, Header(2) + RawRecord("a") + RawRecord("b"));
    QVERIFY(QFile::resize(path_, kTwoGiB));  // sparse: costs no disk
    const ProcessStore store(path_);
    CountingFiles counting;
    QString error;
    QCOMPARE(store.Read(&error)->RecordCount(), 2);
    QCOMPARE(store.FindProcessByName("b", &error).has_value(), true);
    QVERIFY(store.SaveProcess(Record("c"), NeverAsked).ok);
    QCOMPARE(QFileInfo(path_).size(), kTwoGiB);
    QVERIFY(store.SaveProcess(Record("A"), Yes).ok);
    QVERIFY(store.DeleteProcess("b").ok);
    QVERIFY2(counting.read < 20 * 1078, qPrintable(QString::number(counting.read)));
    QCOMPARE(ReadBytes(path_), Header(2) + RawRecord("A") + RawRecord("c"));
}

void StoreTest::leftoverTemporariesAreRemoved() {
    WriteBytes(path_, Header(1) + RawRecord("a"));
    // What a process killed during a delete leaves, named as older versions did too.
    WriteBytes(path_ + ".tmp-4242-1", QByteArray(5000, 'x'));
    WriteBytes(path_ + ".tmp-kq3v9", QByteArray(10, 'x'));
    WriteBytes(dir_->filePath("Process.dat.bak"), "kept");
    QVERIFY(ProcessStore(path_).DeleteProcess("a").ok);
    QCOMPARE(FilesIn(*dir_), (QStringList{"Process.dat", "Process.dat.bak"}));
    WriteBytes(path_ + ".tmp-4242-1", QByteArray(5000, 'x'));
    QVERIFY(ProcessStore(path_).SaveProcess(Record("b"), NeverAsked).ok);
    QCOMPARE(FilesIn(*dir_), (QStringList{"Process.dat", "Process.dat.bak"}));
}

void StoreTest::heldLockFailsSoonAndChangesNothing() {
    const QByteArray before = Header(1) + RawRecord("a");
    WriteBytes(path_, before);
    QString error;
    std::optional<StoreLock> held = StoreLock::Take(path_, &error);
    QVERIFY(held);
    StoreLock::SetWaitMs(200);
    QElapsedTimer clock;
    clock.start();
    const StoreResult saved = ProcessStore(path_).SaveProcess(Record("b"), NeverAsked);
    const StoreResult deleted = ProcessStore(path_).DeleteProcess("a");
    StoreLock::SetWaitMs(3000);
    QVERIFY(clock.elapsed() < 2000);
    QVERIFY(!saved.ok && !deleted.ok);
    QCOMPARE(saved.reason, QStringLiteral("ほかの Kadrelo が Process.dat を使っています"));
    QCOMPARE(deleted.reason, saved.reason);
    QCOMPARE(ReadBytes(path_), before);
    held.reset();
    QVERIFY(ProcessStore(path_).SaveProcess(Record("b"), NeverAsked).ok);
}

void StoreTest::overwriteQuestionIsAskedWithoutTheLock() {
    WriteBytes(path_, Header(2) + RawRecord("a") + RawRecord("b"));
    const ProcessStore store(path_);
    // While the user thinks, another process deletes the record and saves another.
    auto answerAfterOthersChangedTheStore = [&] {
        QString error;
        if (!StoreLock::Take(path_, &error)) qFatal("the question was asked under the lock");
        ProcessStore other(path_);
        other.DeleteProcess("a");
        other.SaveProcess(Record("c"), NeverAsked);
        return true;
    };
    QVERIFY(store.SaveProcess(Record("A"), answerAfterOthersChangedTheStore).ok);
    QCOMPARE(ReadBytes(path_), Header(3) + RawRecord("b") + RawRecord("c") + RawRecord("A"));
    // Declining after the other process saved the name changes nothing.
    const QByteArray before = ReadBytes(path_);
    QVERIFY(store.SaveProcess(Record("b"), No).ok);
    QCOMPARE(ReadBytes(path_), before);
}

void StoreTest::invalidBytesSurviveOpenAndSave() {
    QByteArray record = RawRecord("x");
    const QByteArray name = QByteArray::fromHex("41ff 8120 80a0 42 81");
    record.replace(0, name.size(), name);
    const QByteArray path = QByteArray::fromHex("2f 8540 fd2e626d70");
    record.replace(16, path.size(), path);
    const QByteArray original = Header(1) + record;
    WriteBytes(path_, original);
    QString error;
    const ProcessStore store(path_);
    const QString listed = store.Read(&error)->NameAt(0);
    std::optional<ProcessRecord> opened = store.FindProcessByName(listed, &error);
    QVERIFY(opened);
    QVERIFY(store.SaveProcess(*opened, Yes).ok);
    QCOMPARE(ReadBytes(path_), original);
}

void StoreTest::charactersOutsideTheBmpAreRefused() {
    const ProcessStore store(path_);
    const std::pair<QString, QString> names[] = {
        {QStringLiteral("😀"), QStringLiteral("😀")},
        {QStringLiteral("abcdefghijklmno😀"), QStringLiteral("U+D83D")},  // cut in half by the field
        {QStringLiteral("ok😀😀😀😀😀😀😀"), QStringLiteral("😀")}};
    for (const auto& [name, shown] : names) {
        const StoreResult result = store.SaveProcess(Record(name), NeverAsked);
        QVERIFY(!result.ok);
        QCOMPARE(result.reason,
                 QStringLiteral("プロセス名に保存できない文字「%1」があります").arg(shown));
    }
    ProcessRecord path = Record("ok");
    AssignFixed(path.PanelPath[1], QStringLiteral("/p/") + QString(128, u'x') + "😀.png");
    QVERIFY(store.SaveProcess(path, NeverAsked).reason.contains(QStringLiteral("2コマ目")));
    QVERIFY(!QFile::exists(path_));
}

QTEST_GUILESS_MAIN(StoreTest)
#include "tst_store.moc"

// A FIFO, a socket or a device in place of the store: every operation returns
// at once with a reason, and nothing is written.
void StoreTest::specialFilesAreRefusedAtOnce_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("socket") << "socket";
    QTest::newRow("device") << "device";
}

void StoreTest::specialFilesAreRefusedAtOnce() {
    QFETCH(QString, kind);
    QString path = path_;
    if (kind == u"fifo") QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0644), 0);
    if (kind == u"device") path = QStringLiteral("/dev/zero");
    int listener = -1;
    if (kind == u"socket") {
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::listen(listener, 1), 0);
    }
    const ProcessStore store(path);
    QElapsedTimer clock;
    clock.start();
    QString error;
    QVERIFY(!store.Read(&error));
    QVERIFY2(error.contains(u"通常のファイルではありません"), qPrintable(error));
    QVERIFY(!store.ReadNames(&error));
    QVERIFY(!error.isEmpty());
    const StoreResult saved = store.SaveProcess(Record("x"), NeverAsked);
    QVERIFY(!saved.ok);
    QVERIFY2(saved.reason.contains(u"通常のファイルではありません"), qPrintable(saved.reason));
    QVERIFY(!store.DeleteProcess("x").ok);
    QVERIFY(!store.FindProcessByName("x", &error));
    QVERIFY(clock.elapsed() < 2000);
    if (listener >= 0) ::close(listener);
    QCOMPARE(FilesIn(*dir_).filter(u".tmp-"), QStringList());
}

// Saving through a link and through the file it names changes one store, and
// the link stays a link.
void StoreTest::linkedStoreStaysOneStore() {
    const QString real = dir_->filePath("real/Process.dat");
    QVERIFY(QDir().mkpath(dir_->filePath("real")));
    QVERIFY(QFile::link(real, path_));  // a link to a store not made yet
    const ProcessStore viaLink(path_), direct(real);
    QVERIFY(viaLink.SaveProcess(Record("one"), NeverAsked).ok);
    QVERIFY(direct.SaveProcess(Record("two"), NeverAsked).ok);
    QVERIFY(viaLink.SaveProcess(Record("ONE", "/p/new.bmp"), Yes).ok);  // a rewrite
    QVERIFY(viaLink.DeleteProcess("two").ok);
    QVERIFY(QFileInfo(path_).isSymLink());
    QCOMPARE(ReadBytes(path_), ReadBytes(real));
    QString error;
    QCOMPARE(direct.FindProcessByName("one", &error)->PanelPath[0][0], u'/');
    QCOMPARE(direct.Read(&error)->RecordCount(), 1);
    // A link to the folder reaches the same store too, under the same lock.
    QVERIFY(QFile::link(dir_->filePath("real"), dir_->filePath("alias")));
    QVERIFY(ProcessStore(dir_->filePath("alias/Process.dat"))
                .SaveProcess(Record("three"), NeverAsked)
                .ok);
    QCOMPARE(direct.Read(&error)->RecordCount(), 2);
}

// A file with a second name would be split by the rename that replaces it:
// changes are refused with the reason, reading goes on.
void StoreTest::hardLinkedStoreIsNotChanged() {
    const ProcessStore store(path_);
    QVERIFY(store.SaveProcess(Record("one"), NeverAsked).ok);
    const QString other = dir_->filePath("other.dat");
    QCOMPARE(::link(path_.toLocal8Bit().constData(), other.toLocal8Bit().constData()), 0);
    const QByteArray before = ReadBytes(path_);
    for (const StoreResult& result :
         {store.SaveProcess(Record("two"), NeverAsked), store.SaveProcess(Record("one"), Yes),
          store.DeleteProcess("one")}) {
        QVERIFY(!result.ok);
        QVERIFY2(result.reason.contains(u"ハードリンク"), qPrintable(result.reason));
    }
    QCOMPARE(ReadBytes(path_), before);
    QCOMPARE(ReadBytes(other), before);
    QString error;
    QCOMPARE(store.Read(&error)->RecordCount(), 1);
}

// After a torn last record the header claims one record more than the file
// holds; a rewrite writes the count of the records it writes.
void StoreTest::rewriteCountsTheRecordsItWrites() {
    WriteBytes(path_, Header(3) + RawRecord("a") + RawRecord("b") + RawRecord("c").left(500));
    QVERIFY(ProcessStore(path_).SaveProcess(Record("A", "/p/x.bmp"), Yes).ok);
    const QByteArray bytes = ReadBytes(path_);
    QCOMPARE(bytes.size(), 7 + 2 * 1078);
    QCOMPARE(bytes.left(7), Header(2));
}

// The first save makes the store's missing folders for this user alone.
void StoreTest::firstSaveMakesPrivateFolders() {
    const QString deep = dir_->filePath("data/kadrelo/Process.dat");
    QVERIFY(ProcessStore(deep).SaveProcess(Record("one"), NeverAsked).ok);
    for (const char* folder : {"data", "data/kadrelo"}) {
        struct stat info {};
        QCOMPARE(::stat(dir_->filePath(folder).toLocal8Bit().constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0700));
    }
}
