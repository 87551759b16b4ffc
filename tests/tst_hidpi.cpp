// Pictures on screens of any scale (QT_SCALE_FACTOR set by CTest): picture
// pixels land on screen pixels one to one, stretched pictures are scaled to the
// screen pixels they cover, and borders are whole screen-pixel lines.
#include "app/frm_main.h"
#include "dialogs/ImageControl.h"
#include "dialogs/frm_process.h"
#include "platform/Desktop.h"
#include "player/frm_prev.h"
#include "tests/support/ScriptedUi.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

namespace {

// Columns of one pixel, black and white by turns.
QImage Stripes(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int x = 0; x < size.width(); ++x)
        for (int y = 0; y < size.height(); ++y)
            image.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

// True when the screen pixels of rect (in screen pixels) alternate black and
// white from column to column, as the stripes do.
bool ShowsStripes(const QImage& shot, const QRect& rect) {
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x < rect.right(); ++x) {
            const QRgb a = shot.pixel(x, y), b = shot.pixel(x + 1, y);
            if ((a != qRgb(0, 0, 0) && a != qRgb(255, 255, 255)) || a == b) return false;
        }
    return true;
}

// Where a rectangle of a window's own unit lies on the screen: each edge at
// its nearest whole screen pixel.
QRect ToScreen(const QRectF& logical, double ratio) {
    auto at = [ratio](double v) { return int(std::lround(v * ratio)); };
    return QRect(QPoint(at(logical.left()), at(logical.top())),
                 QPoint(at(logical.right()) - 1, at(logical.bottom()) - 1));
}

// How many screen pixels of colour run from (x, y) in steps of (dx, dy).
int RunOf(const QImage& shot, QPoint at, QPoint step, QRgb colour) {
    int n = 0;
    while (shot.rect().contains(at) && shot.pixel(at) == colour) {
        ++n;
        at += step;
    }
    return n;
}

}  // namespace

class HiDpiTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void naturalSizeIsOnePicturePixelPerScreenPixel();
    void stretchedPictureIsScaledToScreenPixels();
    void bordersAreWholeScreenPixelLines();
    void editorPreviewsLoadAtScreenSize();
    void playerShowsPicturePixelsOneToOne();

  private:
    double ratio_ = 1;
};

void HiDpiTest::initTestCase() {
    QWidget probe;
    ratio_ = probe.devicePixelRatioF();
    qInfo("device pixel ratio %g", ratio_);
    QVERIFY(ratio_ == qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble());
}

void HiDpiTest::naturalSizeIsOnePicturePixelPerScreenPixel() {
    QWidget parent;
    parent.resize(300, 200);
    auto* control = new ImageControl(&parent);
    control->SetBorder(false);
    control->SetStretch(false);
    control->SetLogicalPos(QPointF(11, 7));  // odd, so that it starts between screen pixels at 1.5
    control->SetPicture(Picture{Stripes(QSize(60, 30)), QSize(60, 30), {}});
    QCOMPARE(control->OwnSize(), QSizeF(60, 30) / ratio_);
    const QImage shot = parent.grab().toImage();
    QCOMPARE(shot.size(), (QSizeF(300, 200) * ratio_).toSize());
    QVERIFY(
        ShowsStripes(shot, QRect(ToScreen(QRectF(11, 7, 1, 1), ratio_).topLeft(), QSize(60, 30))));
}

void HiDpiTest::stretchedPictureIsScaledToScreenPixels() {
    QWidget parent;
    parent.resize(300, 200);
    auto* control = new ImageControl(&parent);
    control->SetBorder(false);
    control->SetLogicalGeometry(QRectF(20, 10, 100, 40));
    QCOMPARE(control->DeviceSize(), ToScreen(QRectF(20, 10, 100, 40), ratio_).size());
    // A picture loaded at the control's screen size is drawn with every pixel of its own.
    control->SetPicture(Picture{Stripes(control->DeviceSize()), QSize(10, 10), {}});
    const QImage shot = parent.grab().toImage();
    QVERIFY(ShowsStripes(
        shot, QRect(ToScreen(QRectF(20, 10, 100, 40), ratio_).topLeft(), control->DeviceSize())));
}

void HiDpiTest::bordersAreWholeScreenPixelLines() {
    const int line = std::max(1, int(std::lround(ratio_)));
    for (int appearance : {0, 1}) {
        QWidget parent;
        parent.resize(200, 150);
        parent.setStyleSheet(QStringLiteral("background: rgb(0, 0, 255)"));
        auto* control = new ImageControl(&parent);
        control->SetAppearance(appearance);
        control->SetLogicalGeometry(QRectF(33, 21, 101, 77));
        const QImage shot = parent.grab().toImage();
        const QRgb dark = appearance ? qRgb(128, 128, 128) : qRgb(0, 0, 0);
        const QRgb light = appearance ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        const QRect r = ToScreen(QRectF(33, 21, 101, 77), ratio_);
        const QPoint mid = r.center();
        QCOMPARE(RunOf(shot, QPoint(mid.x(), r.top()), {0, 1}, dark), line);
        QCOMPARE(RunOf(shot, QPoint(r.left(), mid.y()), {1, 0}, dark), line);
        QCOMPARE(RunOf(shot, QPoint(mid.x(), r.bottom()), {0, -1}, light), line);
        QCOMPARE(RunOf(shot, QPoint(r.right(), mid.y()), {-1, 0}, light), line);
        // Nothing of the border spills beyond the control.
        QCOMPARE(shot.pixel(mid.x(), r.top() - 1), qRgb(0, 0, 255));
        QCOMPARE(shot.pixel(r.right() + 1, mid.y()), qRgb(0, 0, 255));
    }
}

void HiDpiTest::editorPreviewsLoadAtScreenSize() {
    AppFixture app;
    frm_process editor(*app.window, QStringLiteral("プロセスの編集"));
    editor.show();
    auto* preview = editor.findChildren<ImageControl*>(QStringLiteral("Image1")).value(0);
    QVERIFY(preview);
    const QString stripes = app.dir->filePath(QStringLiteral("stripes.png"));
    QVERIFY(Stripes(preview->DeviceSize()).save(stripes));
    app.ui.files.enqueue(stripes);
    QTest::mouseClick(editor.findChildren<QWidget*>(QStringLiteral("btn")).value(0),
                      Qt::LeftButton);
    QVERIFY(preview->HasPicture());
    const QImage shot = preview->grab().toImage();
    QCOMPARE(shot.size(), preview->DeviceSize());
    // Loaded at the preview's screen size, the picture is drawn with every pixel of its own.
    const int line = std::max(1, int(std::lround(ratio_)));
    QVERIFY(ShowsStripes(shot, shot.rect().adjusted(line, line, -line, -line)));
}

void HiDpiTest::playerShowsPicturePixelsOneToOne() {
    AppFixture app;
    const QString stripes = app.dir->filePath(QStringLiteral("stripes.png"));
    QVERIFY(Stripes(QSize(90, 60)).save(stripes));
    CurrentProcess() = SampleProcess();
    for (auto& path : CurrentProcess().PanelPath) AssignFixed(path, stripes);
    CurrentProcess().FitMode = 2;
    CurrentProcess().IntervalMs = 100;
    int checked = 0;
    PanelWatch watch([&](frm_prev& player, int index) {
        if (index != 0) return;
        auto* img = player.findChild<ImageControl*>("Img");
        const QImage shot = player.grab().toImage();
        const QRect screen = ToScreen(img->LogicalGeometry(), ratio_);
        const int line = std::max(1, int(std::lround(ratio_)));
        QVERIFY(ShowsStripes(shot, screen.adjusted(line + 1, line + 1, -line - 1, -line - 1)));
        ++checked;
    });
    PreviewCommand(*app.window);
    QCOMPARE(checked, 1);
}

QTEST_MAIN(HiDpiTest)
#include "tst_hidpi.moc"
