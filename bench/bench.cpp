// kadrelo-bench MODE: start-up, picture loading, the store and playback,
// each printed beside an anchor measured on the same run.
//   startup  - start to the main window's first paint, and peak memory
//   loader   - a 24-megapixel JPEG loaded for a 1280 x 853 display
//   store    - the four store operations on 32767 records
//   player   - four 24-megapixel panels played at 100, 500 and 2000 ms
//   emf DIR.. - each metafile rendered at its natural size (median of 7)
#include "app/Application.h"
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "dialogs/frm_open.h"
#include "model/ProcessStore.h"
#include "pictures/EmfPlayer.h"
#include "pictures/PictureLoader.h"
#include "player/frm_prev.h"

#include <sys/resource.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
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
    auto plainRead = [&] {
        const double t = NowMs();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        volatile qsizetype n = f.readAll().size();
        (void)n;
        return NowMs() - t;
    };
    const ProcessStore store(path);
    build(32767);
    double anchor = plainRead();
    frm_main window(path);
    double t = NowMs();
    {
        frm_open list(window);
        list.show();
        QApplication::processEvents();
        Line("fill the list with 32767 names", NowMs() - t, "ms", anchor, "plain read");
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

void PlayerTiming(const QString& dir) {
    frm_main window(dir + QStringLiteral("/Process.dat"));
    window.show();
    ProcessRecord& p = CurrentProcess();
    AssignFixed(p.Name, QStringLiteral("bench"));
    for (int i = 0; i < 4; ++i) AssignFixed(p.PanelPath[i], Photo(dir, i));
    for (int interval : {100, 500, 2000}) {
        p.IntervalMs = interval;
        QList<double> paints;  // first paint of each panel's picture
        QList<double> deadlines;
        double cpuStart = 0, wallStart = 0;
        struct Watch : QObject {
            QList<double>* paints;
            ImageControl* img = nullptr;
            QImage last;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::Paint && o == img && img->isVisible()) {
                    paints->append(NowMs());
                    img = nullptr;  // only the first paint of this panel
                }
                return false;
            }
        } watch;
        watch.paints = &paints;
        struct Hook : QObject {
            std::function<void(frm_prev*)> onShow;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::Show)
                    if (auto* player = qobject_cast<frm_prev*>(o)) onShow(player);
                return false;
            }
        } hook;
        hook.onShow = [&](frm_prev* player) {
            auto* img = player->findChild<ImageControl*>("Img");
            img->installEventFilter(&watch);
            QObject::connect(player, &frm_prev::PanelShown, player, [&, img](int) {
                deadlines << NowMs() + interval;
                watch.img = img;
                if (wallStart == 0) wallStart = NowMs(), cpuStart = CpuMs();
            });
        };
        qApp->installEventFilter(&hook);
        PreviewCommand(window);
        qApp->removeEventFilter(&hook);
        const double wall = NowMs() - wallStart, cpu = CpuMs() - cpuStart;
        QList<double> onScreen, late;
        for (int i = 1; i < paints.size(); ++i) onScreen << paints[i] - paints[i - 1] - interval;
        for (int i = 0; i + 1 < paints.size() && i < deadlines.size(); ++i)
            late << paints[i + 1] - deadlines[i];
        std::printf("interval %d ms:\n", interval);
        Line("  panel time on screen minus interval, max", Percentile(onScreen, 1.0), "ms");
        Line("  panel time on screen minus interval, min", Percentile(onScreen, 0.0), "ms");
        Line("  deadline to next panel painted, max", Percentile(late, 1.0), "ms");
        Line("  CPU per second of playback", cpu / wall * 100, "%");
    }
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

}  // namespace

int main(int argc, char** argv) {
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == "startup-child") return StartupChild();
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
        PlayerTiming(dir);
    else if (mode == "emf")
        Metafiles(app.arguments().mid(2));
    else {
        std::fprintf(stderr, "usage: kadrelo-bench startup|loader|store|player|emf DIR...\n");
        return 2;
    }
    return 0;
}
