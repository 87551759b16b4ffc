// kadrelo-bench MODE: start-up, picture loading, the store and playback,
// each printed beside an anchor measured on the same run.
//   startup  - start to the main window's first paint, and peak memory
//   loader   - a 24-megapixel JPEG loaded for a 1280 x 853 display
//   store    - the four store operations on 32767 records
//   player   - four 24-megapixel panels played at 100, 500 and 2000 ms
//   emf DIR.. - each metafile rendered at its natural size (median of 7)
//   tool      - kadrelo-picture on a 24-megapixel JPEG beside djpeg -scale 1/4
//   emf-fresh DIR.. - each metafile through kadrelo-picture in a fresh process
#include "app/Application.h"
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "dialogs/frm_open.h"
#include "model/ProcessRecord.h"
#include "model/ProcessStore.h"
#include "pictures/PictureLoader.h"
#include "pictures/emf/EmfPlayer.h"
#include "player/frm_prev.h"
#include "tests/support/HugePng.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// Milliseconds on the monotonic clock, comparable between processes.
double NowMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double CpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double Median(QList<double> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

double Percentile(QList<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[std::min<qsizetype>(v.size() - 1, qsizetype(p * v.size()))];
}

void Line(const char* what, double value, const char* unit, double anchor = 0,
          const char* anchorName = nullptr) {
    if (anchorName)
        std::printf("%-44s %10.2f %s   (%s %.2f ms, ratio %.2f)\n", what, value, unit, anchorName,
                    anchor, value / anchor);
    else
        std::printf("%-44s %10.2f %s\n", what, value, unit);
    std::fflush(stdout);
}

// A photo-like 24-megapixel JPEG (6000 x 4000), made once.
QString Photo(const QString& dir, int index = 0) {
    const QString path = dir + QStringLiteral("/photo24mp-%1.jpg").arg(index);
    if (QFile::exists(path)) return path;
    QImage image(6000, 4000, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 6000, 4000);
    g.setColorAt(0, QColor::fromHsv(index * 80 % 360, 120, 230));
    g.setColorAt(1, QColor::fromHsv((index * 80 + 160) % 360, 200, 90));
    p.fillRect(image.rect(), g);
    QRandomGenerator rng(42 + index);
    for (int i = 0; i < 3000; ++i) {
        p.setBrush(QColor::fromRgb(rng.generate()));
        p.drawEllipse(QPointF(rng.bounded(6000), rng.bounded(4000)), rng.bounded(8, 200),
                      rng.bounded(8, 200));
    }
    p.end();
    QImageWriter writer(path, "jpeg");
    writer.setQuality(90);
    writer.write(image);
    return path;
}

double DjpegMs(const QString& jpeg) {
    QList<double> runs;
    for (int i = 0; i < 5; ++i) {
        const double t = NowMs();
        QProcess::execute(QStringLiteral("djpeg"), {"-outfile", "/dev/null", jpeg});
        runs << NowMs() - t;
    }
    return Median(runs);
}

// One run of a program, whole, in milliseconds.
double ProcessMs(const QString& program, const QStringList& args) {
    QProcess child;
    child.setStandardOutputFile(QProcess::nullDevice());
    const double t = NowMs();
    child.start(program, args);
    child.waitForFinished(30000);
    return NowMs() - t;
}

// Medians of several commands, their runs interleaved so that a passing load
// weighs on all of them alike.
QList<double> InterleavedMedians(const QList<QPair<QString, QStringList>>& commands, int runs) {
    QList<QList<double>> times(commands.size());
    for (int r = 0; r < runs; ++r)
        for (int c = 0; c < commands.size(); ++c)
            times[c] << ProcessMs(commands[c].first, commands[c].second);
    QList<double> medians;
    for (const QList<double>& t : times) medians << Median(t);
    return medians;
}

// A 16 x 16 picture: what a tool process costs with next to nothing to decode.
QString TinyPicture(const QString& dir) {
    const QString path = dir + QStringLiteral("/tiny.jpg");
    if (!QFile::exists(path)) {
        QImage tiny(16, 16, QImage::Format_RGB32);
        tiny.fill(Qt::red);
        tiny.save(path, "JPEG");
    }
    return path;
}

// ---- start-up --------------------------------------------------------------

int StartupChild() {
    QApplication app(
        *new int(1), new char* [2] { const_cast<char*>("kadrelo"), nullptr });
    SetUpApplication(app);
    frm_main window(QDir::tempPath() + QStringLiteral("/kadrelo-bench-none/Process.dat"));
    struct FirstPaint : QObject {
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) {
                rusage u{};
                getrusage(RUSAGE_SELF, &u);
                std::printf("%.3f %ld\n", NowMs(), u.ru_maxrss);
                std::fflush(stdout);
                std::_Exit(0);
            }
            return false;
        }
    } filter;
    window.ClientArea()->installEventFilter(&filter);
    window.show();
    return app.exec();
}

void Startup(const QString& self, const QString& dir) {
    QList<double> times, memory;
    for (int i = 0; i < 11; ++i) {
        QProcess child;
        const double start = NowMs();
        child.start(self, {"startup-child"});
        child.waitForFinished(10000);
        const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
        if (out.size() != 2) continue;
        times << out[0].toDouble() - start;
        memory << out[1].toDouble() / 1024;
    }
    const double djpeg = DjpegMs(Photo(dir));
    Line("start-up to first paint (median of 11)", Median(times), "ms", djpeg, "djpeg 24 MP");
    Line("peak memory at first paint (median)", Median(memory), "MB");
}

// ---- loader ----------------------------------------------------------------

void Loader(const QString& dir) {
    const QString photo = Photo(dir);
    QList<double> runs;
    for (int i = 0; i < 7; ++i) {
        const double t = NowMs();
        const Picture p = LoadPicture(photo, QSize(1280, 853));
        runs << NowMs() - t;
        if (p.image.size() != QSize(1280, 853)) std::printf("wrong size\n");
    }
    Line("24 MP JPEG loaded for 1280x853 (median of 7)", Median(runs), "ms", DjpegMs(photo),
         "djpeg 24 MP");
}

// ---- tool ------------------------------------------------------------------

void Tool(const QString& dir) {
    const QString tool = QStringLiteral(KADRELO_PICTURE_TOOL);
    const QString photo = Photo(dir);
    const QList<double> m =
        InterleavedMedians({{tool, {photo, "-", "1280x853"}},
                            {tool, {TinyPicture(dir), "-"}},
                            {"djpeg", {"-scale", "1/4", "-outfile", "/dev/null", photo}}},
                           15);
    Line("kadrelo-picture fixed cost (tiny picture)", m[1], "ms");
    Line("kadrelo-picture 24 MP to 1280x853 less fixed", m[0] - m[1], "ms", m[2],
         "djpeg -scale 1/4");
}

void MetafilesFresh(const QStringList& dirs) {
    const QString tool = QStringLiteral(KADRELO_PICTURE_TOOL);
    const QString tiny = TinyPicture(QDir::tempPath() + QStringLiteral("/kadrelo-bench"));
    QList<double> all;
    for (const QString& dir : dirs) {
        for (const QFileInfo& file : QDir(dir).entryInfoList({"*.emf"}, QDir::Files, QDir::Name)) {
            // The fixed cost of a metafile process includes its fonts' set-up.
            const QList<double> m =
                InterleavedMedians({{tool, {file.filePath(), "-"}}, {tool, {tiny, "-"}}}, 5);
            all << m[0] - m[1];
            Line(qPrintable(file.fileName() + " less a tiny picture"), m[0] - m[1], "ms", m[1],
                 "tiny picture");
        }
    }
    Line("median over the files", Median(all), "ms");
    Line("slowest file", Percentile(all, 1.0), "ms");
}

// ---- store -----------------------------------------------------------------

void Store(const QString& dir) {
    const QString path = dir + QStringLiteral("/Process.dat");
    ProcessRecord r;
    AssignFixed(r.PanelPath[0], QStringLiteral("/home/user/pictures/panel-one.jpg"));
    QByteArray bytes("PH   \0\0", 7);
    auto build = [&](int count) {
        QByteArray all = bytes;
        qToLittleEndian<int16_t>(int16_t(count), all.data() + 5);
        all.reserve(7 + qint64(count) * 1078);
        QString problem;
        for (int i = 0; i < count; ++i) {
            AssignFixed(r.Name, QStringLiteral("プロセス%1").arg(i));
            all += *EncodeRecord(r, &problem);
        }
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(all);
    };
    // One plain read of the whole file into memory, as a program that loads it would.
    auto plainRead = [&] {
        QList<double> runs;
        for (int i = 0; i < 3; ++i) {
            const double t = NowMs();
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            volatile qsizetype n = f.readAll().size();
            (void)n;
            runs << NowMs() - t;
        }
        return Median(runs);
    };
    const ProcessStore store(path);
    build(32767);
    double anchor = plainRead();
    frm_main window(path);
    double t = NowMs();
    {
        // Usable: shown, laid out and drawn once.
        frm_open list(window);
        list.show();
        list.repaint();
        QApplication::processEvents();
        Line("list of 32767 names on screen", NowMs() - t, "ms", anchor, "plain read");
    }
    t = NowMs();
    QString error;
    store.FindProcessByName(QStringLiteral("プロセス32766"), &error);
    Line("open the last name", NowMs() - t, "ms", anchor, "plain read");
    build(32766);
    anchor = plainRead();
    AssignFixed(r.Name, QStringLiteral("new name"));
    t = NowMs();
    store.SaveProcess(r, [] { return true; });
    Line("save a new name into 32766 records", NowMs() - t, "ms", anchor, "plain read");
    anchor = plainRead();
    t = NowMs();
    store.DeleteProcess(QStringLiteral("プロセス100"));
    Line("delete one record of 32767", NowMs() - t, "ms", anchor, "plain read");
}

// ---- player ----------------------------------------------------------------

// sample-child X Y: watches a 4 x 4 patch of the screen and prints the time of
// every change with the patch's first pixel and a hash of it, until its input closes.
int SampleChild(int x, int y) {
    // Ahead of the player and the X server where the system allows it, so that
    // a change is seen when it happens, not when the sampler next gets a core:
    // real-time scheduling if permitted (it sleeps between samples, so it takes
    // little), else the highest ordinary priority it may take.
    sched_param realTime{};
    realTime.sched_priority = 10;
    if (sched_setscheduler(0, SCHED_FIFO, &realTime) != 0) setpriority(PRIO_PROCESS, 0, -10);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    size_t last = 0;
    bool first = true;
    pollfd input{0, POLLIN, 0};
    // A sample every quarter millisecond: fine enough, and leaves the cores to
    // the player and the X server.
    while (poll(&input, 1, 0) == 0) {
        usleep(250);
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(x), int16_t(y), 4, 4, ~0u),
            nullptr);
        if (!reply) break;
        const uint8_t* data = xcb_get_image_data(reply);
        const int length = xcb_get_image_data_length(reply);
        const size_t hash = qHashBits(data, size_t(length));
        if (first || hash != last) {
            std::printf("%.3f %08x %zx\n", NowMs(),
                        length >= 4 ? qFromLittleEndian<uint32_t>(data) & 0xFFFFFF : 0, hash);
            std::fflush(stdout);
        }
        first = false;
        last = hash;
        std::free(reply);
    }
    xcb_disconnect(c);
    return 0;
}

struct ScreenChange {
    double ms;
    uint32_t pixel;  // 0x00RRGGBB
};

// Starts watching the middle of the screen; returns once the first sample is in.
class ScreenWatch {
  public:
    ScreenWatch(const QString& self, QPoint at) {
        if (qEnvironmentVariableIsSet("KADRELO_BENCH_NO_SAMPLER")) return;
        child_.start(self, {"sample-child", QString::number(at.x()), QString::number(at.y())});
        child_.waitForReadyRead(5000);
    }
    QList<ScreenChange> Stop() {
        child_.closeWriteChannel();
        child_.waitForFinished(5000);
        QList<ScreenChange> changes;
        for (const QByteArray& line : child_.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() == 3) changes.append({f[0].toDouble(), f[1].toUInt(nullptr, 16)});
        }
        return changes;
    }

  private:
    QProcess child_;
};

// A 1-megapixel copy of a photo.
QString SmallPhoto(const QString& dir, int index) {
    const QString path = dir + QStringLiteral("/photo1mp-%1.jpg").arg(index);
    if (!QFile::exists(path))
        QImage(Photo(dir, index))
            .scaled(1224, 816, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .save(path, "JPEG", 90);
    return path;
}

struct RunResult {
    QList<double> onScreen;  // each panel's time on screen
    double open = -1;        // from the command to panel 1 on the screen
    double cpuPercent = 0;
};

// One run, watched on the screen: a change to anything but the background is a
// panel, and the first change after panel 4 ends it.
RunResult WatchedRun(frm_main& window, const QString& self) {
    const uint32_t background = uint32_t(CurrentProcess().BackColor);
    const uint32_t backgroundRgb =
        (background & 0xFF) << 16 | (background & 0xFF00) | (background >> 16 & 0xFF);
    ScreenWatch watch(self, QPoint(958, 538));
    const double start = NowMs(), cpuStart = CpuMs();
    PreviewCommand(window);
    const double wall = NowMs() - start, cpu = CpuMs() - cpuStart;
    // The main window shows again once its repaint reaches the screen.
    QEventLoop settle;
    QTimer::singleShot(100, &settle, &QEventLoop::quit);
    settle.exec();
    const QList<ScreenChange> changes = watch.Stop();
    if (qEnvironmentVariableIsSet("KADRELO_BENCH_VERBOSE"))
        for (const ScreenChange& c : changes) std::printf("    %.2f %06x\n", c.ms - start, c.pixel);
    RunResult result;
    result.cpuPercent = cpu / wall * 100;
    QList<double> starts;
    for (int i = 1; i < changes.size(); ++i) {
        if (changes[i].ms < start) continue;
        if (starts.size() == 4) {
            starts << changes[i].ms;  // the end of panel 4
            break;
        }
        if (changes[i].pixel != backgroundRgb) starts << changes[i].ms;
    }
    if (!starts.isEmpty()) result.open = starts[0] - start;
    for (int i = 1; i < starts.size(); ++i) result.onScreen << starts[i] - starts[i - 1];
    return result;
}

void PlayerRuns(frm_main& window, const QString& self, const QString& what, int interval,
                int runs) {
    CurrentProcess().IntervalMs = interval;
    QList<double> over, open, cpu;
    int counted = 0;
    for (int r = 0; r < runs; ++r) {
        const RunResult result = WatchedRun(window, self);
        for (double t : result.onScreen) over << t - interval;
        counted += int(result.onScreen.size());
        if (result.open >= 0) open << result.open;
        cpu << result.cpuPercent;
    }
    std::printf("%s, %d ms, %d runs, %d panel times seen on the screen:\n", qPrintable(what),
                interval, runs, counted);
    Line("  time on screen minus interval, min", Percentile(over, 0.0), "ms");
    Line("  time on screen minus interval, 99th pct", Percentile(over, 0.99), "ms");
    Line("  time on screen minus interval, max", Percentile(over, 1.0), "ms");
    Line("  command to panel 1 on screen, median", Median(open), "ms");
    Line("  CPU of a core over the run, median", Median(cpu), "%");
}

void PlayerTiming(const QString& dir, const QString& self) {
    frm_main window(dir + QStringLiteral("/Process.dat"));
    window.show();
    QApplication::processEvents();
    ProcessRecord& p = CurrentProcess();
    AssignFixed(p.Name, QStringLiteral("bench"));
    for (int i = 0; i < 4; ++i) AssignFixed(p.PanelPath[i], SmallPhoto(dir, i));
    const double anchor = DjpegMs(SmallPhoto(dir, 0));
    Line("anchor: djpeg of one 1 MP panel", anchor, "ms");
    if (qEnvironmentVariableIsSet("KADRELO_BENCH_OPEN_ONLY")) {  // for profiling the opening
        PlayerRuns(window, self, QStringLiteral("1 MP panels"), 100, 20);
        return;
    }
    for (auto [interval, runs] : {std::pair{100, 10}, {500, 4}, {2000, 2}})
        PlayerRuns(window, self, QStringLiteral("1 MP panels"), interval, runs);
    for (int i = 0; i < 4; ++i) AssignFixed(p.PanelPath[i], Photo(dir, i));
    PlayerRuns(window, self, QStringLiteral("24 MP panels"), 100, 6);
}

// ---- metafiles ---------------------------------------------------------------

void Metafiles(const QStringList& dirs) {
    QList<double> all;
    for (const QString& dir : dirs) {
        for (const QFileInfo& file : QDir(dir).entryInfoList({"*.emf"}, QDir::Files, QDir::Name)) {
            QFile f(file.filePath());
            f.open(QIODevice::ReadOnly);
            const QByteArray data = f.readAll();
            const auto header = ReadEmfHeader(data);
            if (!header) continue;
            QList<double> runs;
            for (int i = 0; i < 7; ++i) {
                const double t = NowMs();
                RenderEmf(data, EmfNaturalSize(*header));
                runs << NowMs() - t;
            }
            all << Median(runs);
            Line(qPrintable(file.fileName()), Median(runs), "ms");
        }
    }
    Line("median over the files", Median(all), "ms");
    Line("slowest file", Percentile(all, 1.0), "ms");
}

// ---- pictures: the loader against each format's own library ---------------

struct Measured {
    double ms = 0;
    double peakMb = 0;
};

// Runs a program to its end: its wall time and its peak memory (from the kernel).
Measured RunMeasured(const QString& program, const QStringList& args) {
    std::vector<QByteArray> bytes{program.toLocal8Bit()};
    for (const QString& a : args) bytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes) argv.push_back(b.data());
    argv.push_back(nullptr);
    const double t = NowMs();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {NowMs() - t, usage.ru_maxrss / 1024.0};
}

// Medians of time and peak memory, the commands' runs interleaved.
QList<Measured> InterleavedMeasures(const QList<QPair<QString, QStringList>>& commands, int runs) {
    QList<QList<double>> ms(commands.size()), mb(commands.size());
    for (int r = 0; r < runs; ++r)
        for (int c = 0; c < commands.size(); ++c) {
            const Measured m = RunMeasured(commands[c].first, commands[c].second);
            ms[c] << m.ms;
            mb[c] << m.peakMb;
        }
    QList<Measured> medians;
    for (int c = 0; c < commands.size(); ++c) medians << Measured{Median(ms[c]), Median(mb[c])};
    return medians;
}

// The pictures, made once: the 20000 x 20000 paletted PNG, a 24-megapixel photo
// as PNG, TIFF and WebP, 24-megapixel line art as paletted PNG and GIF, and a
// 9000 x 8000 1-bit bitmap.
QStringList BenchPictures(const QString& dir) {
    const QString huge = dir + QStringLiteral("/huge-20000.png");
    if (!QFile::exists(huge)) WriteHugePng(huge, 20000, 20000);
    const QString photo = dir + QStringLiteral("/photo24mp.png");
    if (!QFile::exists(photo)) {
        const QImage image(Photo(dir));
        image.save(photo, "PNG");
        image.save(dir + QStringLiteral("/photo24mp.tif"), "TIFF");
        QImageWriter webp(dir + QStringLiteral("/photo24mp.webp"), "webp");
        webp.setQuality(90);
        webp.write(image);
    }
    const QString lineArt = dir + QStringLiteral("/lineart24mp.png");
    if (!QFile::exists(lineArt)) {
        QImage image(6000, 4000, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        QRandomGenerator rng(7);
        for (int i = 0; i < 4000; ++i) {
            p.setPen(QPen(QColor::fromHsv(rng.bounded(12) * 30, 255, 200), rng.bounded(1, 6)));
            p.drawLine(rng.bounded(6000), rng.bounded(4000), rng.bounded(6000), rng.bounded(4000));
        }
        p.end();
        image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither).save(lineArt, "PNG");
        QProcess::execute("convert", {lineArt, dir + QStringLiteral("/lineart24mp.gif")});
    }
    const QString mono = dir + QStringLiteral("/mono-9000x8000.bmp");
    if (!QFile::exists(mono)) {
        const int width = 9000, height = 8000, stride = ((width + 31) / 32) * 4;
        QByteArray file(14 + 40 + 8, '\0');
        file[0] = 'B', file[1] = 'M';
        qToLittleEndian<uint32_t>(uint32_t(file.size() + stride * height), file.data() + 2);
        qToLittleEndian<uint32_t>(uint32_t(file.size()), file.data() + 10);
        const uint32_t header[] = {40, width, height, 1 | (1 << 16), 0, 0, 0, 0, 2, 0};
        for (int i = 0; i < 10; ++i) qToLittleEndian<uint32_t>(header[i], file.data() + 14 + 4 * i);
        file[14 + 40 + 4] = file[14 + 40 + 5] = file[14 + 40 + 6] = char(0xFF);
        QByteArray bits(qsizetype(stride) * height, char(0x55));
        QFile out(mono);
        if (out.open(QIODevice::WriteOnly)) out.write(file + bits);
    }
    return {huge,
            photo,
            dir + QStringLiteral("/photo24mp.tif"),
            dir + QStringLiteral("/photo24mp.webp"),
            lineArt,
            dir + QStringLiteral("/lineart24mp.gif"),
            mono};
}

void Pictures(const QString& dir) {
    const QString tool = QStringLiteral(KADRELO_PICTURE_TOOL);
    const QString plain = QStringLiteral(KADRELO_PLAIN_DECODE);
    const QString tiny = TinyPicture(dir);
    for (const QString& picture : BenchPictures(dir)) {
        const bool bitmap = picture.endsWith(QStringLiteral(".bmp"));  // no library of its own
        QList<QPair<QString, QStringList>> commands{{tool, {picture, "-", "1280x1024"}},
                                                    {tool, {tiny, "-"}}};
        if (!bitmap) commands.append({plain, {picture}});
        const QList<Measured> m = InterleavedMeasures(commands, 5);
        const QString name = QFileInfo(picture).fileName();
        std::printf("%s\n", qPrintable(name));
        if (bitmap) {
            Line("  at 1280x1024, less fixed", m[0].ms - m[1].ms, "ms");
        } else {
            Line("  at 1280x1024, less fixed", m[0].ms - m[1].ms, "ms", m[2].ms, "plain decode");
        }
        std::printf(
            "  %-42s %10.1f MB   (fixed %.1f MB%s)\n", "peak memory less fixed",
            m[0].peakMb - m[1].peakMb, m[1].peakMb,
            bitmap
                ? ""
                : qPrintable(QStringLiteral(", plain decode %1 MB").arg(m[2].peakMb, 0, 'f', 1)));
    }
}

// ---- export: four 24-megapixel panels as an animated WebP ------------------

// The process of the four photos, in a store of its own.
QString ExportStore(const QString& dir) {
    const QString store = dir + QStringLiteral("/export.dat");
    QFile::remove(store);
    ProcessRecord r;
    AssignFixed(r.Name, QStringLiteral("photos"));
    for (int i = 0; i < 4; ++i) AssignFixed(r.PanelPath[i], Photo(dir, i));
    r.ImageAppearance = int16_t(Look::ThreeD);
    r.IntervalMs = 1000;
    r.BackColor = 0x404040;
    (void)ProcessStore(store).SaveProcess(r, [] { return true; });
    return store;
}

// The same four frames as PPM files, which img2webp reads without decoding.
QStringList ExportFramesAsPpm(const QString& tool, const QString& store, const QString& dir) {
    const QString frames = dir + QStringLiteral("/frame.png");
    QProcess::execute(tool, {store, "photos", frames, "--frames", "--size", "1280x720"});
    QStringList ppm;
    for (int i = 1; i <= 4; ++i) {
        const QString png = dir + QStringLiteral("/frame-%1.png").arg(i);
        ppm << dir + QStringLiteral("/frame-%1.ppm").arg(i);
        QImage(png).convertToFormat(QImage::Format_RGB888).save(ppm.last(), "PPM");
    }
    return ppm;
}

void ExportSpeed(const QString& dir) {
    const QString tool = QStringLiteral(KADRELO_EXPORT_TOOL);
    const QString picture = QStringLiteral(KADRELO_PICTURE_TOOL);
    const QString img2webp = QStandardPaths::findExecutable(QStringLiteral("img2webp"));
    if (img2webp.isEmpty()) {
        std::printf("img2webp is not installed (Debian package webp)\n");
        return;
    }
    const QString store = ExportStore(dir);
    const QStringList ppm = ExportFramesAsPpm(tool, store, dir);
    const QString tiny = TinyPicture(dir);
    // Each panel is shown 853 x 480 (two thirds of 1280 x 720): decoded at that size.
    QList<QPair<QString, QStringList>> commands{
        {tool, {store, "photos", dir + QStringLiteral("/photos.webp"), "--size", "1280x720"}},
        {tool, {"--version"}},
        {img2webp, QStringList{"-loop", "0", "-d", "1000"} + ppm +
                       QStringList{"-o", dir + QStringLiteral("/img2webp.webp")}},
        {picture, {tiny, "-"}}};
    for (int i = 0; i < 4; ++i) commands.append({picture, {Photo(dir, i), "-", "853x480"}});
    const QList<Measured> m = InterleavedMeasures(commands, 5);
    double decode = 0;
    for (int i = 0; i < 4; ++i) decode += m[4 + i].ms - m[3].ms;
    const double bound = decode + 1.5 * m[2].ms;
    Line("export as WebP, less the tool's start", m[0].ms - m[1].ms, "ms", bound,
         "decode + 1.5 x img2webp");
    Line("  the tool's start (--version)", m[1].ms, "ms");
    Line("  decoding the four panels at 853x480", decode, "ms");
    Line("  img2webp on the same four frames", m[2].ms, "ms");
    Line("  export peak memory", m[0].peakMb, "MB");
}

}  // namespace

int main(int argc, char** argv) {
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == "startup-child") return StartupChild();
    if (mode == "sample-child" && argc == 4)
        return SampleChild(std::atoi(argv[2]), std::atoi(argv[3]));
    QApplication app(argc, argv);
    SetUpApplication(app);
    const QString dir = QDir::tempPath() + QStringLiteral("/kadrelo-bench");
    QDir().mkpath(dir);
    if (mode == "startup")
        Startup(app.applicationFilePath(), dir);
    else if (mode == "loader")
        Loader(dir);
    else if (mode == "store")
        Store(dir);
    else if (mode == "player")
        PlayerTiming(dir, app.applicationFilePath());
    else if (mode == "emf")
        Metafiles(app.arguments().mid(2));
    else if (mode == "tool")
        Tool(dir);
    else if (mode == "emf-fresh")
        MetafilesFresh(app.arguments().mid(2));
    else if (mode == "pictures")
        Pictures(dir);
    else if (mode == "export")
        ExportSpeed(dir);
    else {
        std::fprintf(stderr,
                     "usage: kadrelo-bench startup|loader|tool|pictures|export|store|player|emf "
                     "DIR...|emf-fresh "
                     "DIR...\n");
        return 2;
    }
    return 0;
}
