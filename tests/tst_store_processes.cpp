// Several programs on one store at once, through the store tool: saves that
// report success are never lost, and a program killed in the middle of a write
// leaves the old record or the new one.
#include "model/ProcessStore.h"

#include <signal.h>
#include <sys/stat.h>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

namespace {

const QString kTool = QStringLiteral(KADRELO_STORE_TOOL);

QString Json(const QString& name, int interval) {
    return QStringLiteral(R"({"Name":"%1","PanelPath":["/p/%1.bmp"],"IntervalMs":%2})")
        .arg(name)
        .arg(interval);
}

// A shell loop that runs the tool once per name and prints each name with its exit code.
QProcess* StartLoop(const QString& store, const QString& body, const QStringList& names) {
    auto* process = new QProcess;
    const QString script =
        QStringLiteral("for n in %1; do %2; echo \"$n $?\"; done").arg(names.join(u' '), body);
    process->setEnvironment(QProcess::systemEnvironment() << "STORE=" + store << "TOOL=" + kTool);
    process->start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
    return process;
}

QStringList Names(const QString& prefix, int count) {
    QStringList names;
    for (int i = 0; i < count; ++i) names << prefix + QString::number(i);
    return names;
}

// The names whose command reported success.
QStringList Succeeded(QProcess* process) {
    QStringList ok;
    for (const QByteArray& line : process->readAllStandardOutput().split('\n'))
        if (line.endsWith(" 0")) ok << QString::fromUtf8(line.chopped(2));
    return ok;
}

QStringList Stored(const QString& store) {
    QString error;
    const std::optional<StoreFile> file = ProcessStore(store).Read(&error);
    QStringList names;
    for (int32_t i = 0; file && i < file->RecordCount(); ++i) names << file->NameAt(i);
    return names;
}

void Seed(const QString& store, const QStringList& names) {
    for (const QString& name : names) {
        ProcessRecord r;
        AssignFixed(r.Name, name);
        QVERIFY(ProcessStore(store).SaveProcess(r, [] { return true; }).ok);
    }
}

}  // namespace

class StoreProcessesTest : public QObject {
    Q_OBJECT
  private slots:
    void twoSavingLoseNothing();
    void savingWhileOtherDeletesLosesNothing();
    void killedOverwriteLeavesOldOrNew();
    void savingThroughALinkAndItsFileLosesNothing();
    void listedNamesGoBackToShowAndDelete();
    void toolRefusesWhatItCannotStore();
};

void StoreProcessesTest::twoSavingLoseNothing() {
    QTemporaryDir dir;
    const QString store = dir.filePath("Process.dat");
    const QString save =
        QStringLiteral(R"(printf '{"Name":"%s"}' "$n" | "$TOOL" "$STORE" save --keep 2>/dev/null)");
    std::unique_ptr<QProcess> a(StartLoop(store, save, Names("a", 40)));
    std::unique_ptr<QProcess> b(StartLoop(store, save, Names("b", 40)));
    QVERIFY(a->waitForFinished(60000) && b->waitForFinished(60000));
    const QStringList saved = Succeeded(a.get()) + Succeeded(b.get());
    QCOMPARE(saved.size(), 80);
    QStringList stored = Stored(store);
    QCOMPARE(stored.size(), 80);
    for (const QString& name : saved) QVERIFY2(stored.contains(name), qPrintable(name));
}

void StoreProcessesTest::savingWhileOtherDeletesLosesNothing() {
    QTemporaryDir dir;
    const QString store = dir.filePath("Process.dat");
    Seed(store, Names("d", 40));
    const QString save =
        QStringLiteral(R"(printf '{"Name":"%s"}' "$n" | "$TOOL" "$STORE" save --keep 2>/dev/null)");
    std::unique_ptr<QProcess> saver(StartLoop(store, save, Names("s", 40)));
    std::unique_ptr<QProcess> deleter(StartLoop(
        store, QStringLiteral(R"("$TOOL" "$STORE" delete "$n" 2>/dev/null)"), Names("d", 40)));
    QVERIFY(saver->waitForFinished(60000) && deleter->waitForFinished(60000));
    const QStringList saved = Succeeded(saver.get());
    const QStringList deleted = Succeeded(deleter.get());
    QCOMPARE(saved.size(), 40);
    QCOMPARE(deleted.size(), 40);
    const QStringList stored = Stored(store);
    QCOMPARE(stored, saved);
}

void StoreProcessesTest::killedOverwriteLeavesOldOrNew() {
    QTemporaryDir dir;
    const QString store = dir.filePath("Process.dat");
    // Large enough that a rewrite takes a few milliseconds.
    QByteArray bytes("PH   ", 5);
    bytes.resize(7);
    const int count = 3000;
    qToLittleEndian<int16_t>(count, bytes.data() + 5);
    for (int i = 0; i < count; ++i) {
        ProcessRecord r;
        AssignFixed(r.Name, QStringLiteral("n%1").arg(i));
        r.IntervalMs = 1;
        QString problem;
        bytes += *EncodeRecord(r, &problem);
    }
    QFile file(store);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QRandomGenerator rng(7);
    int stored = 1;
    for (int round = 0; round < 25; ++round) {
        const int interval = round + 2;
        QProcess tool;
        tool.start(kTool, {store, QStringLiteral("save"), QStringLiteral("--overwrite")});
        QVERIFY(tool.waitForStarted());
        tool.write(Json(QStringLiteral("n1500"), interval).toUtf8());
        tool.closeWriteChannel();
        QThread::usleep(rng.bounded(30000));
        ::kill(pid_t(tool.processId()), SIGKILL);
        tool.waitForFinished();
        QString error;
        const std::optional<ProcessRecord> r =
            ProcessStore(store).FindProcessByName("n1500", &error);
        QVERIFY(r);
        QVERIFY2(r->IntervalMs == stored || r->IntervalMs == interval,
                 qPrintable(QString::number(r->IntervalMs)));
        stored = r->IntervalMs;
        QCOMPARE(Stored(store).size(), count);
        QCOMPARE(QFileInfo(store).size(), bytes.size());
    }
    // The next change clears whatever the killed ones left.
    QVERIFY(ProcessStore(store).DeleteProcess("n0").ok);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Process.dat"});
}

// Two processes, one through a link to the store and one through the file
// itself, save at once: one store, one lock, nothing lost.
void StoreProcessesTest::savingThroughALinkAndItsFileLosesNothing() {
    QTemporaryDir dir;
    const QString store = dir.filePath("Process.dat");
    const QString link = dir.filePath("link/Process.dat");
    QVERIFY(QDir().mkpath(dir.filePath("link")));
    QVERIFY(QFile::link(store, link));
    const QString save =
        QStringLiteral(R"(printf '{"Name":"%s"}' "$n" | "$TOOL" "$STORE" save --keep 2>/dev/null)");
    std::unique_ptr<QProcess> a(StartLoop(store, save, Names("a", 40)));
    std::unique_ptr<QProcess> b(StartLoop(link, save, Names("b", 40)));
    QVERIFY(a->waitForFinished(60000) && b->waitForFinished(60000));
    QCOMPARE((Succeeded(a.get()) + Succeeded(b.get())).size(), 80);
    QCOMPARE(Stored(store).size(), 80);
    QVERIFY(QFileInfo(link).isSymLink());
}

namespace {
// Runs the tool and gives its exit status, standard output and standard error.
struct ToolRun {
    int status = -1;
    QByteArray out;
    QString error;
};

ToolRun RunTool(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess tool;
    tool.start(kTool, arguments);
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(5000)) {
        tool.kill();
        tool.waitForFinished();
        return {};
    }
    return {tool.exitCode(), tool.readAllStandardOutput(),
            QString::fromUtf8(tool.readAllStandardError())};
}
}  // namespace

// Names with a line break, an escape sequence, a backslash and a byte that is
// no character are listed one to a line with nothing raw, and each listed form
// is taken back by show and delete.
void StoreProcessesTest::listedNamesGoBackToShowAndDelete() {
    QTemporaryDir dir;
    const QString store = dir.filePath("Process.dat");
    Seed(store, {QStringLiteral("a\nb"), QStringLiteral("x\x1b[31my"), QStringLiteral("c\\d"),
                 QStringLiteral("plain")});
    // A name holding a byte that is no code page 932 character, as a foreign store has it.
    QFile file(store);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.seek(7 + 1078 * 3 + 5);
    file.write("\xFF", 1);
    file.close();
    const ToolRun list = RunTool({store, "list"});
    QCOMPARE(list.status, 0);
    const QList<QByteArray> lines = list.out.split('\n');
    QCOMPARE(lines, (QList<QByteArray>{"a\\x0Ab", "x\\x1B[31my", "c\\\\d", "plain\\xFF", ""}));
    const ToolRun nul = RunTool({store, "list", "--null"});
    QCOMPARE(nul.out.split('\0').size(), 5);
    for (const QByteArray& line : lines.first(4)) {
        const QString name = QString::fromUtf8(line);
        const ToolRun shown = RunTool({store, "show", name});
        QVERIFY2(shown.status == 0, qPrintable(name + u' ' + shown.error));
        QCOMPARE(RunTool({store, "delete", name}).status, 0);
    }
    QCOMPARE(Stored(store), QStringList());
    QCOMPARE(RunTool({store, "show", "bad\\q"}).status, 1);
}

// Refusals come at once with their real reason: a NUL inside a name, a FIFO
// or a device as the store, a file-size limit (no signal ends the tool).
void StoreProcessesTest::toolRefusesWhatItCannotStore() {
    QTemporaryDir dir;
    const QString store = dir.filePath("Process.dat");
    const ToolRun nul = RunTool({store, "save", "--keep"}, R"({"Name":"x\u0000y"})");
    QCOMPARE(nul.status, 1);
    QVERIFY2(nul.error.contains(u"NUL"), qPrintable(nul.error));
    QVERIFY(!QFileInfo::exists(store));
    const QString fifo = dir.filePath("fifo.dat");
    QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0644), 0);
    for (const QString& special : {fifo, QStringLiteral("/dev/zero")})
        for (const QStringList& command :
             {QStringList{"list"}, QStringList{"show", "x"}, QStringList{"delete", "x"}}) {
            const ToolRun run = RunTool(QStringList{special} + command);
            QCOMPARE(run.status, 1);  // and within the 5 s RunTool allows
            QVERIFY2(run.error.contains(u"通常のファイルではありません"), qPrintable(run.error));
        }
    QProcess limited;
    limited.start("prlimit", {"--fsize=1000", kTool, store, "save", "--keep"});
    limited.write(R"({"Name":"big"})");
    limited.closeWriteChannel();
    QVERIFY(limited.waitForFinished(5000));
    QCOMPARE(limited.exitStatus(), QProcess::NormalExit);
    QCOMPARE(limited.exitCode(), 1);
    QVERIFY(
        QString::fromUtf8(limited.readAllStandardError()).contains(u"ディスクの空きが足りません"));
    QVERIFY(!QFileInfo::exists(store));
}

QTEST_GUILESS_MAIN(StoreProcessesTest)
#include "tst_store_processes.moc"
