// Several programs on one store at once, through the store tool: saves that
// report success are never lost, and a program killed in the middle of a write
// leaves the old record or the new one.
#include "model/ProcessStore.h"

#include <signal.h>
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

QTEST_GUILESS_MAIN(StoreProcessesTest)
#include "tst_store_processes.moc"
