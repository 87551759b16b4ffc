// The metafile player: records it must get right, public sample files, and
// damaged files that must neither crash nor hang.
#include "pictures/FontNames.h"
#include "pictures/PictureLoader.h"
#include "pictures/emf/EmfPlayer.h"
#include "pictures/emf/EmfRecords.h"
#include "pictures/emf/PlusObjects.h"
#include "pictures/emf/PlusRecords.h"
#include "pictures/emf/WmfPlayer.h"
#include "tests/support/Dibs.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

namespace {

// Builds a metafile: a 100 x 100 pixel frame on a reference device of 4 pixels
// per millimetre, so that one device pixel is one pixel of a 100 x 100 rendering.
class Emf {
  public:
    Emf& Rec(uint32_t type, std::initializer_list<int32_t> values, QByteArray tail = {}) {
        QByteArray r;
        Put(r, int32_t(type));
        Put(r, 0);
        for (int32_t v : values) Put(r, v);
        r += tail;
        while (r.size() % 4) r += '\0';
        qToLittleEndian<int32_t>(int32_t(r.size()), r.data() + 4);
        body_ += r;
        ++count_;
        return *this;
    }
    QByteArray Bytes() {
        Rec(emf::kEof, {0, 16, 20});
        QByteArray h;
        Put(h, 1), Put(h, 108);
        for (int v : {0, 0, 99, 99, 0, 0, 2500, 2500}) Put(h, v);
        h += " EMF";
        Put(h, 0x10000), Put(h, 108 + body_.size()), Put(h, count_ + 1);
        Put(h, 16), Put(h, 0), Put(h, 0), Put(h, 0);  // handles, description, palette
        for (int v : {1000, 1000, 250, 250, 0, 0, 0, 250000, 250000}) Put(h, v);
        return h + body_;
    }

  private:
    static void Put(QByteArray& b, int32_t v) {
        char raw[4];
        qToLittleEndian(v, raw);
        b.append(raw, 4);
    }
    QByteArray body_;
    int count_ = 0;
};

int32_t F(float f) {
    int32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

constexpr uint32_t kRed = 0x0000FF, kBlue = 0xFF0000, kGreen = 0x00FF00;

void SolidBrush(Emf& e, int handle, uint32_t color) {
    e.Rec(emf::kCreateBrushIndirect, {handle, 0, int32_t(color), 0})
        .Rec(emf::kSelectObject, {handle});
}
void NoPen(Emf& e) {
    e.Rec(emf::kSelectObject, {int32_t(0x80000008u)});
}

QImage Render(Emf& e) {
    return RenderEmf(e.Bytes(), QSize(100, 100));
}

bool Near(QRgb a, QRgb b, int tolerance = 40) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

const QRgb kWhite = qRgb(255, 255, 255);

// StretchDIBits of a DIB over the whole picture.
void StretchDib(Emf& e, const QByteArray& bmi, const QByteArray& bits, int w, int h, uint32_t rop) {
    const int fixed = 80;
    e.Rec(emf::kStretchDiBits,
          {0, 0, 99, 99, 0, 0, 0, 0, w, h, fixed, int32_t(bmi.size()), fixed + int32_t(bmi.size()),
           int32_t(bits.size()), 0, int32_t(rop), 100, 100},
          bmi + bits);
}

// EMF+ records, carried in a comment record.
QByteArray PlusRecord(uint16_t type, uint16_t flags, const QByteArray& data) {
    QByteArray r(12, '\0');
    qToLittleEndian<uint16_t>(type, r.data());
    qToLittleEndian<uint16_t>(flags, r.data() + 2);
    qToLittleEndian<uint32_t>(uint32_t(12 + data.size()), r.data() + 4);
    qToLittleEndian<uint32_t>(uint32_t(data.size()), r.data() + 8);
    return r + data;
}

QByteArray Words(std::initializer_list<int32_t> values) {
    QByteArray b;
    for (int32_t v : values) {
        char raw[4];
        qToLittleEndian(v, raw);
        b.append(raw, 4);
    }
    return b;
}

void Plus(Emf& e, const QByteArray& records) {
    e.Rec(emf::kComment, {int32_t(records.size() + 4), 0x2B464D45}, records);
}

// The EMF+ header of a dual file, recorded at 96 dpi.
QByteArray PlusHeader() {
    return PlusRecord(emf::plus::kHeader, 1, Words({int32_t(0xDBC01002), 1, 96, 96}));
}

// A rectangle filled with a colour given in the record (0xAARRGGBB).
QByteArray PlusFillRect(uint32_t argb, float x, float y, float w, float h) {
    return PlusRecord(emf::plus::kFillRects, 0x8000,
                      Words({int32_t(argb), 1, F(x), F(y), F(w), F(h)}));
}

// An EMF+ image object (type 5) holding a bitmap of the given pixel format.
QByteArray PlusBitmap(uint8_t id, int width, int height, uint32_t format, QByteArray pixels,
                      int paletteBytes = 0) {
    const int stride = int(pixels.size() - paletteBytes) / height;
    return PlusRecord(
        0x4008, uint16_t(0x0500 | id),
        Words({int32_t(0xDBC01002), 1, width, height, stride, int32_t(format), 0}) + pixels);
}

// An EMF+ image object holding a whole metafile (3: EMF, 4: EMF+ only, 5: dual).
QByteArray PlusMetafile(uint8_t id, uint32_t type, const QByteArray& metafile) {
    return PlusRecord(
        0x4008, uint16_t(0x0500 | id),
        Words({int32_t(0xDBC01002), 2, int32_t(type), int32_t(metafile.size())}) + metafile);
}

// Draws image object id from its source rectangle (pixels) into a destination
// rectangle, with the image attributes of object attributes (0: none).
QByteArray PlusDrawImage(uint8_t id, QRectF src, QRectF dest, int attributes = 0) {
    return PlusRecord(
        emf::plus::kDrawImage, id,
        Words({attributes, emf::plus::kUnitPixel, F(src.x()), F(src.y()), F(src.width()),
               F(src.height()), F(dest.x()), F(dest.y()), F(dest.width()), F(dest.height())}));
}

// A metafile writing "WWWW" at (10, 30) in a font 20 units high and, where
// given, of that average character width.
QByteArray TextMetafile(int averageWidth, int orientation = 0, int graphicsMode = 1,
                        const QString& text = QStringLiteral("WWWW")) {
    Emf e;
    QByteArray font(92, '\0');
    qToLittleEndian<int32_t>(-20, font.data());
    qToLittleEndian<int32_t>(averageWidth, font.data() + 4);
    qToLittleEndian<int32_t>(orientation, font.data() + 12);
    qToLittleEndian<int32_t>(400, font.data() + 16);
    const char16_t face[] = u"DejaVu Sans";
    for (int i = 0; face[i]; ++i) qToLittleEndian<uint16_t>(face[i], font.data() + 28 + 2 * i);
    e.Rec(emf::kExtCreateFontIndirectW, {1}, font);
    e.Rec(emf::kSelectObject, {1});
    e.Rec(emf::kSetBkMode, {1});
    e.Rec(emf::kExtTextOutW,
          {0, 0, 99, 99, graphicsMode, 0, 0, 10, 30, int(text.size()), 76, 0, 0, 0, 0, 0, 0},
          QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
    return e.Bytes();
}

// An EMF+ font object of an em size in pixels, and a string drawn in it at (x, y).
QByteArray PlusText(float em, float x, float y) {
    QByteArray font = Words({int32_t(0xDBC01002), F(em), emf::plus::kUnitPixel, 0, 0, 11});
    const char16_t family[] = u"DejaVu Sans";
    for (int i = 0; i < 11; ++i) font += QByteArray(reinterpret_cast<const char*>(&family[i]), 2);
    font += QByteArray(2, '\0');
    return PlusRecord(emf::plus::kObject, emf::plus::kFontObject << 8 | 1, font) +
           PlusRecord(emf::plus::kDrawString, 0x8001,
                      Words({int32_t(0xFF000000), -1, 2, F(x), F(y), F(0), F(0)}) +
                          QByteArray("H\0H\0", 4));
}

// The height of the dark pixels of a picture.
int InkHeight(const QImage& image) {
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                top = std::min(top, y), bottom = std::max(bottom, y);
    return bottom - top + 1;
}

// The width of the dark pixels of a picture.
int InkWidth(const QImage& image) {
    int left = image.width(), right = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                left = std::min(left, x), right = std::max(right, x);
    return right - left + 1;
}

// Builds a Windows metafile: records of 16-bit words, each stored as written.
class Wmf {
  public:
    Wmf& Rec(uint16_t function, std::initializer_list<int> words, QByteArray tail = {}) {
        if (tail.size() % 2) tail += '\0';
        QByteArray r;
        Put32(r, uint32_t(3 + words.size() + tail.size() / 2));
        Put16(r, function);
        for (int w : words) Put16(r, uint16_t(int16_t(w)));
        body_ += r + tail;
        return *this;
    }
    // Placeable, with the bounding box (0, 0) to (1000, 1000) at 1000 units an
    // inch (96 pixels), or plain.
    QByteArray Bytes(bool placeable = true) const {
        QByteArray out;
        if (placeable) {
            QByteArray p;
            Put32(p, 0x9AC6CDD7), Put16(p, 0);
            for (int v : {0, 0, 1000, 1000, 1000}) Put16(p, uint16_t(v));
            Put32(p, 0);
            uint16_t sum = 0;
            for (int i = 0; i < 20; i += 2) sum ^= qFromLittleEndian<uint16_t>(p.constData() + i);
            Put16(p, sum);
            out += p;
        }
        QByteArray h;
        const QByteArray records = body_ + QByteArray::fromHex("030000000000");
        Put16(h, 1), Put16(h, 9), Put16(h, 0x0300), Put32(h, uint32_t(9 + records.size() / 2));
        Put16(h, 8), Put32(h, 64), Put16(h, 0);
        return out + h + records;
    }

  private:
    static void Put16(QByteArray& b, uint16_t v) { b.append(char(v & 0xFF)).append(char(v >> 8)); }
    static void Put32(QByteArray& b, uint32_t v) {
        Put16(b, uint16_t(v)), Put16(b, uint16_t(v >> 16));
    }
    QByteArray body_;
};

// A red top-left quarter, a green ellipse in the top-right one (its brush in
// the place a deleted one left), a blue triangle at the bottom right, "Hi"
// at the bottom left and a 2 x 1 bitmap, red then blue, along the bottom.
QByteArray ShapesWmf(bool placeable = true) {
    Wmf w;
    if (!placeable) w.Rec(0x020B, {0, 0}).Rec(0x020C, {1000, 1000});  // window org, ext (y, x)
    w.Rec(0x02FC, {0, 0x00FF, 0x0000, 0}).Rec(0x012D, {0});           // red brush, place 0
    w.Rec(0x02FA, {5, 0, 0, 0, 0}).Rec(0x012D, {1});                  // no pen, place 1
    w.Rec(0x041B, {500, 500, 0, 0});                                  // rectangle (b, r, t, l)
    w.Rec(0x02FC, {0, 0, 0x00FF, 0}).Rec(0x012D, {2});                // blue brush, place 2
    w.Rec(0x0324, {3, 550, 950, 950, 950, 950, 550});                 // polygon
    w.Rec(0x01F0, {0});                                               // red brush deleted
    w.Rec(0x02FC, {0, 0xFF00, 0x0000, 0}).Rec(0x012D, {0});           // green brush, place 0 again
    w.Rec(0x0418, {450, 950, 50, 550});                               // ellipse
    QByteArray face("Arial");
    face.resize(32, '\0');
    w.Rec(0x02FB, {-150, 0, 0, 0, 700, 0, 0, 0, 0}, face).Rec(0x012D, {3});   // font, place 3
    w.Rec(0x0102, {1});                                                       // transparent text
    w.Rec(0x0521, {2}, QByteArray("Hi") + QByteArray::fromHex("7802 3200"));  // at (50, 632)
    QByteArray dib =
        Words({40, 2, 1}) + QByteArray::fromHex("0100 1800") + Words({0, 8, 0, 0, 0, 0});
    dib += QByteArray::fromHex("0000ff ff0000 0000");
    // DibStretchBlt: rop, source h, w, y, x, destination h, w, y, x (16 bits each but the rop).
    w.Rec(0x0B41, {0x0020, 0x00CC, 1, 2, 0, 0, 100, 1000, 900, 0}, dib);
    return w.Bytes(placeable);
}

QStringList PublicSamples() {
    const QDir dir(qEnvironmentVariable("KADRELO_SHARED") + QStringLiteral("/emf-public"));
    QStringList files;
    for (const QString& name : dir.entryList({"*.emf"}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class EmfTest : public QObject {
    Q_OBJECT
  private slots:
    void glyphsTurnByTheirOrientationInAdvancedMode();
    void imageAttributesFillBeyondThePicture_data();
    void imageAttributesFillBeyondThePicture();
    void dibColoursInEveryPixelFormat_data();
    void dibColoursInEveryPixelFormat();
    void windowsMetafilesDraw();
    void windowsMetafileInsideAMetafile();
    void damagedWindowsMetafilesNeitherCrashNorHang();
    void plusObjectsDecodeWithoutAPainter();
    void plusFontSizeKeepsItsPrecision();
    void textStretchesWithItsPicture();
    void askedFontWidthCondensesLetters();
    void plusBitmapColoursInEveryPixelFormat_data();
    void plusBitmapColoursInEveryPixelFormat();
    void metafilesInsideMetafilesAreDrawn_data();
    void metafilesInsideMetafilesAreDrawn();
    void nestingIsBounded();
    void headerAndNaturalSize();
    void restoreDcRestoresTheTransform();
    void openFiguresStayOpen();
    void clipRectanglesAndPaths();
    void anisotropicMapping();
    void pageScaleFromMicrometres();
    void drawingModesCombinePixels();
    void shiftJisTextIsDrawn();
    void rightToLeftAndJoinedTextIsShaped_data();
    void rightToLeftAndJoinedTextIsShaped();
    void runLengthBitmapIsDrawn();
    void maskPairKeepsTheBackground();
    void gradientRunsLeftToRight();
    void plusRecordsDrawAndTheirStandInsDoNot();
    void plusObjectsTransformsAndClipping();
    void makersDrawingsMatchTheirMakers();
    void producerFilesMatchTheirOwnRendering_data();
    void producerFilesMatchTheirOwnRendering();
    void publicSamplesDraw();
    void damagedFilesNeitherCrashNorHang();
    void damagedPublicSamplesNeitherCrashNorHang();
};

void EmfTest::headerAndNaturalSize() {
    Emf e;
    const QByteArray bytes = e.Bytes();
    const auto header = ReadEmfHeader(bytes);
    QVERIFY(header);
    QCOMPARE(header->device, QSize(1000, 1000));
    QCOMPARE(EmfNaturalSize(*header), QSize(95, 95));  // 25 mm (inclusive) at 96 dots per inch
    const Picture p = LoadPictureFromData(bytes);
    QCOMPARE(p.naturalSize, QSize(95, 95));
    QCOMPARE(LoadPictureFromData(bytes, QSize(300, 200)).image.size(), QSize(300, 200));
}

void EmfTest::restoreDcRestoresTheTransform() {
    Emf e;
    e.Rec(emf::kSaveDc, {});
    e.Rec(emf::kSetWorldTransform, {F(2), 0, 0, F(2), F(0), F(0)});  // world: twice as large
    SolidBrush(e, 1, kBlue);
    e.Rec(emf::kRestoreDc, {-1});  // RestoreDC: the brush goes too
    SolidBrush(e, 2, kRed);
    NoPen(e);
    e.Rec(emf::kRectangle, {0, 0, 50, 50});
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(25, 25), qRgb(255, 0, 0)));
    QCOMPARE(img.pixel(75, 75), kWhite);
}

void EmfTest::openFiguresStayOpen() {
    Emf e;
    e.Rec(emf::kExtCreatePen,
          {1, 0, 0, 0, 0, 0x10000, 4, 0, 0, 0, 0});  // geometric black pen, 4 wide
    e.Rec(emf::kSelectObject, {1});
    e.Rec(emf::kSelectObject, {int32_t(0x80000005u)});  // null brush
    e.Rec(emf::kBeginPath, {});
    e.Rec(emf::kMoveToEx, {10, 10});
    e.Rec(emf::kPolylineTo, {0, 0, 0, 0, 2, 90, 10, 90, 90});
    e.Rec(emf::kEndPath, {});
    e.Rec(emf::kStrokePath, {0, 0, 0, 0});
    const QImage img = Render(e);
    QVERIFY(qGray(img.pixel(50, 10)) < 100);
    QVERIFY(qGray(img.pixel(90, 50)) < 100);
    QCOMPARE(img.pixel(50, 50), kWhite);  // no closing diagonal
}

void EmfTest::clipRectanglesAndPaths() {
    Emf e;
    SolidBrush(e, 1, kBlue);
    NoPen(e);
    e.Rec(emf::kIntersectClipRect, {0, 0, 50, 100});
    e.Rec(emf::kExcludeClipRect, {0, 0, 50, 20});
    e.Rec(emf::kRectangle, {0, 0, 100, 100});
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(25, 50), qRgb(0, 0, 255)));
    QCOMPARE(img.pixel(75, 50), kWhite);
    QCOMPARE(img.pixel(25, 10), kWhite);
}

void EmfTest::anisotropicMapping() {
    // Anisotropic: logical 0..1000 across, 0..100 down, onto 100 x 100 pixels.
    Emf e;
    e.Rec(emf::kSetMapMode, {8});
    e.Rec(emf::kSetWindowExtEx, {1000, 100});   // window extent
    e.Rec(emf::kSetViewportExtEx, {100, 100});  // viewport extent
    SolidBrush(e, 1, kGreen);
    NoPen(e);
    e.Rec(emf::kRectangle, {500, 0, 1000, 50});
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(75, 25), qRgb(0, 255, 0)));
    QCOMPARE(img.pixel(25, 25), kWhite);
    QCOMPARE(img.pixel(75, 75), kWhite);
}

// The same two characters drawn from Shift-JIS bytes (ExtTextOutA with a
// Shift-JIS font) and from UTF-16 (ExtTextOutW) must give the same pixels.
// The first column at which row y of the picture is no longer red.
int RedEnds(const QImage& img, int y) {
    int x = 0;
    while (x < img.width() && Near(img.pixel(x, y), qRgb(255, 0, 0))) ++x;
    return x;
}

void EmfTest::pageScaleFromMicrometres() {
    // The header's whole millimetres say 250, its micrometres 250999: the
    // reference device has 0.4 % fewer pixels per millimetre, so its 25 mm
    // frame is 99.6 device pixels and what is drawn comes out 0.4 % larger.
    Emf e;
    SolidBrush(e, 1, kRed);
    NoPen(e);
    e.Rec(emf::kRectangle, {0, 0, 50, 50});
    QByteArray bytes = e.Bytes();
    const int rounded = RedEnds(RenderEmf(bytes, QSize(1000, 1000)), 100);
    qToLittleEndian<int32_t>(250999, bytes.data() + 100);
    qToLittleEndian<int32_t>(250999, bytes.data() + 104);
    const int exact = RedEnds(RenderEmf(bytes, QSize(1000, 1000)), 100);
    QVERIFY2(exact >= rounded + 1 && exact <= rounded + 3,
             qPrintable(QStringLiteral("%1 %2").arg(rounded).arg(exact)));
    // Micrometres that do not round to the millimetres are not believed.
    qToLittleEndian<int32_t>(6619244, bytes.data() + 100);
    QCOMPARE(RedEnds(RenderEmf(bytes, QSize(1000, 1000)), 100), rounded);
}

void EmfTest::drawingModesCombinePixels() {
    // A red square, then in the given drawing modes, one after another, a red
    // square twice as large over it.
    auto render = [](std::initializer_list<int32_t> modes) {
        Emf e;
        SolidBrush(e, 1, kRed);
        NoPen(e);
        e.Rec(emf::kRectangle, {0, 0, 50, 50});
        for (int32_t mode : modes) {
            e.Rec(emf::kSetRop2, {mode});
            e.Rec(emf::kRectangle, {0, 0, 100, 100});
        }
        return Render(e);
    };
    // R2_XORPEN: red on red gives black, red on white gives cyan.
    const QImage xored = render({7});
    QVERIFY(Near(xored.pixel(25, 25), qRgb(0, 0, 0), 10));
    QVERIFY(Near(xored.pixel(75, 75), qRgb(0, 255, 255), 10));
    // R2_NOT inverts what is beneath, whatever the brush; R2_NOP draws nothing.
    const QImage inverted = render({6, 11});
    QVERIFY(Near(inverted.pixel(25, 25), qRgb(0, 255, 255), 10));
    QVERIFY(Near(inverted.pixel(75, 75), qRgb(0, 0, 0), 10));
}

void EmfTest::shiftJisTextIsDrawn() {
    auto render = [](int type, const QByteArray& text, int chars) {
        Emf e;
        QByteArray font(92, '\0');
        qToLittleEndian<int32_t>(-40, font.data());  // 40 units high
        qToLittleEndian<int32_t>(400, font.data() + 16);
        font[23] = char(128);  // SHIFTJIS_CHARSET
        const char16_t face[] = u"ＭＳ ゴシック";
        for (int i = 0; face[i]; ++i) qToLittleEndian<uint16_t>(face[i], font.data() + 28 + 2 * i);
        e.Rec(emf::kExtCreateFontIndirectW, {1}, font);
        e.Rec(emf::kSelectObject, {1});
        e.Rec(emf::kSetBkMode, {1});  // transparent background
        e.Rec(type, {0, 0, 99, 99, 1, 0, 0, 10, 10, chars, 76, 0, 0, 0, 0, 0, 0}, text);
        return Render(e);
    };
    const QImage fromShiftJis =
        render(emf::kExtTextOutA, QByteArray("\x82\xa0\x82\xa2", 4), 4);  // あい
    const QByteArray utf16("\x42\x30\x44\x30", 4);                        // あい
    const QImage fromUnicode = render(emf::kExtTextOutW, utf16, 2);
    QCOMPARE(fromShiftJis, fromUnicode);
    int dark = 0;
    for (int y = 10; y < 60; ++y)
        for (int x = 10; x < 95; ++x) dark += qGray(fromShiftJis.pixel(x, y)) < 128;
    QVERIFY2(dark > 100, qPrintable(QString::number(dark)));
    // Other kana give other pixels, so the comparison above can fail.
    QVERIFY(render(emf::kExtTextOutA, QByteArray("\x82\xa4\x82\xa6", 4), 4) != fromUnicode);
}

double MeanDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
    return sum / (a.width() * a.height());
}

void EmfTest::rightToLeftAndJoinedTextIsShaped_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("differsByLetter");  // drawn letter by letter it would look wrong
    QTest::newRow("Hebrew") << QStringLiteral("שלום") << true;
    QTest::newRow("Arabic") << QStringLiteral("سلام") << true;
    QTest::newRow("Thai") << QStringLiteral("สวัสดี") << false;
}

// Drawn as Qt lays the text out as a whole (visual order, joined letters,
// marks on their bases), not letter by letter in the order stored.
void EmfTest::rightToLeftAndJoinedTextIsShaped() {
    QFETCH(QString, text);
    QFETCH(bool, differsByLetter);
    Emf e;
    QByteArray font(92, '\0');
    qToLittleEndian<int32_t>(-24, font.data());
    qToLittleEndian<int32_t>(400, font.data() + 16);
    const QString face = QStringLiteral("DejaVu Sans");
    for (int i = 0; i < face.size(); ++i)
        qToLittleEndian<uint16_t>(face[i].unicode(), font.data() + 28 + 2 * i);
    e.Rec(emf::kExtCreateFontIndirectW, {1}, font);
    e.Rec(emf::kSelectObject, {1});
    e.Rec(emf::kSetBkMode, {1});
    QByteArray utf16;
    for (QChar c : text) utf16.append(reinterpret_cast<const char*>(&c), 2);
    e.Rec(emf::kExtTextOutW,
          {0, 0, 99, 99, 1, 0, 0, 10, 30, int32_t(text.size()), 76, 0, 0, 0, 0, 0, 0}, utf16);
    const QImage ours = Render(e);

    QFont qfont(face);
    qfont.setPixelSize(24);
    qfont.setHintingPreference(QFont::PreferNoHinting);
    const double ascent = QFontMetricsF(qfont).ascent();
    auto reference = [&](bool whole) {
        QImage image(100, 100, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        p.setFont(qfont);
        if (whole) {
            p.drawText(QPointF(10, 30 + ascent), text);
        } else {
            double x = 10;
            for (QChar c : text) {
                p.drawText(QPointF(x, 30 + ascent), QString(c));
                x += QFontMetricsF(qfont).horizontalAdvance(c);
            }
        }
        return image;
    };
    int dark = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) dark += qGray(ours.pixel(x, y)) < 128;
    QVERIFY2(dark > 40, qPrintable(QString::number(dark)));  // drawn, in a font that has it
    const double shaped = MeanDifference(ours, reference(true));
    const double letterByLetter = MeanDifference(ours, reference(false));
    QVERIFY2(shaped < 1.0, qPrintable(QString::number(shaped)));
    if (differsByLetter)
        QVERIFY2(letterByLetter > 3 * shaped + 0.5, qPrintable(QString::number(letterByLetter)));
}

void EmfTest::runLengthBitmapIsDrawn() {
    // 4 x 4, RLE8: every row four pixels of colour 1, then the end.
    QByteArray rle;
    for (int row = 0; row < 4; ++row) rle += QByteArray::fromHex("0401 0000");
    rle += QByteArray::fromHex("0001");
    Emf e;
    StretchDib(e, DibInfo8(4, 4, 1, {qRgb(0, 0, 0), qRgb(255, 0, 0)}), rle, 4, 4, emf::kSrcCopy);
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(50, 50), qRgb(255, 0, 0)));
    QVERIFY(Near(img.pixel(5, 95), qRgb(255, 0, 0)));
}

void EmfTest::maskPairKeepsTheBackground() {
    // Green background; a mask (white outside, black inside the left half) with
    // SRCAND, then the picture (black outside, red inside) with SRCPAINT.
    Emf e;
    SolidBrush(e, 1, kGreen);
    NoPen(e);
    e.Rec(emf::kRectangle, {0, 0, 100, 100});
    const QByteArray mask = QByteArray::fromHex("00010101 00010101");   // rows: B W W W
    const QByteArray color = QByteArray::fromHex("01000000 01000000");  // rows: R K K K
    StretchDib(e, DibInfo8(4, 2, 0, {qRgb(0, 0, 0), qRgb(255, 255, 255)}), mask, 4, 2,
               emf::kSrcAnd);
    StretchDib(e, DibInfo8(4, 2, 0, {qRgb(0, 0, 0), qRgb(255, 0, 0)}), color, 4, 2, emf::kSrcPaint);
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(10, 50), qRgb(255, 0, 0)));
    QVERIFY(Near(img.pixel(80, 50), qRgb(0, 255, 0)));
}

void EmfTest::gradientRunsLeftToRight() {
    Emf e;
    // Two vertices (x, y, red, green, blue, alpha as 16-bit) and one rectangle.
    QByteArray tail;
    auto vertex = [&](int x, int y, int r, int g, int b) {
        char raw[16];
        qToLittleEndian<int32_t>(x, raw);
        qToLittleEndian<int32_t>(y, raw + 4);
        qToLittleEndian<uint16_t>(r, raw + 8);
        qToLittleEndian<uint16_t>(g, raw + 10);
        qToLittleEndian<uint16_t>(b, raw + 12);
        qToLittleEndian<uint16_t>(0, raw + 14);
        tail.append(raw, 16);
    };
    vertex(0, 0, 0xFF00, 0, 0);
    vertex(100, 100, 0, 0, 0xFF00);
    tail += QByteArray::fromHex("00000000 01000000");
    e.Rec(emf::kGradientFill, {0, 0, 99, 99, 2, 1, 0}, tail);
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(2, 50), qRgb(255, 0, 0), 20));
    QVERIFY(Near(img.pixel(97, 50), qRgb(0, 0, 255), 20));
    QVERIFY(Near(img.pixel(50, 50), qRgb(128, 0, 128), 20));
}

// Files written by Inkscape from the SVGs beside them, compared with Inkscape's
// own PNG export of the same SVG: the mean absolute difference per channel on a
// 0-255 scale. Inkscape writes gradients as one flat colour, hence "panels".
// In a file with EMF+ records the plain records are its stand-ins and are not
// drawn, except those after a GetDC record; transparency exists only in EMF+.
void EmfTest::plusRecordsDrawAndTheirStandInsDoNot() {
    Emf e;
    Plus(e, PlusHeader() + PlusFillRect(0x800000FF, 10, 10, 80, 80));
    SolidBrush(e, 1, kRed);
    NoPen(e);
    e.Rec(emf::kRectangle, {0, 0, 100, 100});       // the stand-in, opaque red
    Plus(e, PlusRecord(emf::plus::kGetDc, 0, {}));  // GetDC: the next plain records draw
    SolidBrush(e, 2, kGreen);
    e.Rec(emf::kRectangle, {0, 0, 6, 6});
    Plus(e, PlusFillRect(0xFF000000, 94, 94, 6, 6));
    e.Rec(emf::kRectangle, {94, 0, 100, 6});  // muted again after an EMF+ record
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(50, 50), qRgb(127, 127, 255), 12));  // half blue over white
    QCOMPARE(img.pixel(8, 50), kWhite);                         // no red stand-in
    QVERIFY(Near(img.pixel(2, 2), qRgb(0, 255, 0)));
    QVERIFY(Near(img.pixel(97, 97), qRgb(0, 0, 0)));
    QCOMPARE(img.pixel(97, 2), kWhite);
}

void EmfTest::plusObjectsTransformsAndClipping() {
    // Object 1: a solid brush; object 2: a triangle path (float points, line types).
    const QByteArray brush = Words({int32_t(0xDBC01002), 0, int32_t(0xFFFF0000)});
    QByteArray path = Words({int32_t(0xDBC01002), 3, 0, F(0), F(0), F(40), F(0), F(0), F(40)});
    path += QByteArray::fromHex("00010181");
    QByteArray records = PlusHeader() +
                         PlusRecord(emf::plus::kObject, emf::plus::kBrushObject << 8 | 1, brush) +
                         PlusRecord(emf::plus::kObject, emf::plus::kPathObject << 8 | 2, path);
    records += PlusRecord(emf::plus::kTranslateWorldTransform, 0,
                          Words({F(50), F(50)}));                     // translate the world
    records += PlusRecord(emf::plus::kFillPath, 0x0002, Words({1}));  // fill path 2 with brush 1
    records += PlusRecord(emf::plus::kResetWorldTransform, 0, {});    // reset the world
    records += PlusRecord(emf::plus::kSetClipRect, 0,
                          Words({F(0), F(0), F(30), F(100)}));  // clip to x < 30
    records += PlusFillRect(0xFF0000FF, 0, 0, 100, 30);
    Emf e;
    Plus(e, records);
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(55, 55), qRgb(255, 0, 0)));  // inside the moved triangle
    QCOMPARE(img.pixel(85, 85), kWhite);                // beyond its slanted side
    QCOMPARE(img.pixel(20, 60), kWhite);                // where it was before the move
    QVERIFY(Near(img.pixel(10, 10), qRgb(0, 0, 255)));  // inside the clip
    QCOMPARE(img.pixel(60, 10), kWhite);                // outside it

    // A path gradient from a red centre to a blue edge.
    const QByteArray gradient = Words({int32_t(0xDBC01002), 3, 0, 0, int32_t(0xFFFF0000), F(50),
                                       F(50), 1, int32_t(0xFF0000FF), 0});
    Emf shaded;
    Plus(shaded,
         PlusHeader() + PlusRecord(emf::plus::kObject, emf::plus::kBrushObject << 8 | 1, gradient) +
             PlusRecord(emf::plus::kFillEllipse, 0x0000, Words({1, F(10), F(10), F(80), F(80)})));
    const QImage ball = Render(shaded);
    QVERIFY(qRed(ball.pixel(50, 50)) > 200 && qBlue(ball.pixel(50, 50)) < 60);
    QVERIFY(qBlue(ball.pixel(50, 13)) > 180 && qRed(ball.pixel(50, 13)) < 80);
    QCOMPARE(ball.pixel(5, 5), kWhite);

    // A pen 4 wide ending in an arrow: the arrowhead is wider than the line.
    const QByteArray pen = Words(
        {int32_t(0xDBC01002), 0, 0x4, 0, F(4), 0x14, int32_t(0xDBC01002), 0, int32_t(0xFF008000)});
    Emf arrow;
    Plus(arrow,
         PlusHeader() + PlusRecord(emf::plus::kObject, emf::plus::kPenObject << 8 | 3, pen) +
             PlusRecord(emf::plus::kDrawLines, 0x0003, Words({2, F(10), F(50), F(60), F(50)})));
    const QImage line = Render(arrow);
    QVERIFY(Near(line.pixel(30, 50), qRgb(0, 128, 0)));  // the line
    QVERIFY(Near(line.pixel(47, 55), qRgb(0, 128, 0)));  // a wing of the arrowhead
    QCOMPARE(line.pixel(30, 55), kWhite);                // beside the line, no cap
}

// Metafiles made by two drawing programs, each beside its maker's own
// rendering of it: the mean absolute difference (0-255) of each stays within
// its limit in limits.txt, and the median over all of them within 3.5.
void EmfTest::makersDrawingsMatchTheirMakers() {
    const QString base = QStringLiteral(KADRELO_TEST_DATA "/emf/makers/");
    QFile limitsFile(base + "limits.txt");
    QVERIFY(limitsFile.open(QIODevice::ReadOnly | QIODevice::Text));
    QList<double> all;
    int files = 0;
    for (const QByteArray& line : limitsFile.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 2 || line.startsWith('#')) continue;
        const QString name = QString::fromUtf8(fields[0]);
        const QImage drawn(base + name + ".png");
        QVERIFY2(!drawn.isNull(), qPrintable(name));
        QImage reference(drawn.size(), QImage::Format_RGB32);  // as a viewer shows it, on white
        reference.fill(Qt::white);
        QPainter(&reference).drawImage(0, 0, drawn);
        const QImage ours = LoadPicture(base + name + ".emf", reference.size()).image;
        QCOMPARE(ours.size(), reference.size());
        double sum = 0;
        for (int y = 0; y < ours.height(); ++y) {
            const QRgb* a = reinterpret_cast<const QRgb*>(ours.constScanLine(y));
            const QRgb* b = reinterpret_cast<const QRgb*>(reference.constScanLine(y));
            for (int x = 0; x < ours.width(); ++x)
                sum += std::abs(qRed(a[x]) - qRed(b[x])) + std::abs(qGreen(a[x]) - qGreen(b[x])) +
                       std::abs(qBlue(a[x]) - qBlue(b[x]));
        }
        const double difference = sum / (3.0 * ours.width() * ours.height());
        qInfo("%s: %.2f (limit %s)", qPrintable(name), difference, fields[1].constData());
        QVERIFY2(difference <= fields[1].toDouble(), qPrintable(name));
        all << difference;
        ++files;
    }
    QCOMPARE(files, 12);
    std::sort(all.begin(), all.end());
    QVERIFY2((all[5] + all[6]) / 2 <= 3.5, qPrintable(QString::number((all[5] + all[6]) / 2)));
}

void EmfTest::producerFilesMatchTheirOwnRendering_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("limit");
    QTest::newRow("speech bubble, curves, dashes") << "bubble" << 8.5;
    QTest::newRow("panels with clipping and a gradient") << "panels" << 13.5;
    QTest::newRow("shapes, dashes, caps") << "shapes" << 5.5;
}

void EmfTest::producerFilesMatchTheirOwnRendering() {
    QFETCH(QString, name);
    QFETCH(double, limit);
    const QString base = QStringLiteral(KADRELO_TEST_DATA "/emf/") + name;
    const QImage reference = QImage(base + ".png").convertToFormat(QImage::Format_RGB32);
    QVERIFY(!reference.isNull());
    const QImage ours = LoadPicture(base + ".emf", reference.size()).image;
    QCOMPARE(ours.size(), reference.size());
    double sum = 0;
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x) {
            const QRgb a = ours.pixel(x, y), b = reference.pixel(x, y);
            sum += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                   std::abs(qBlue(a) - qBlue(b));
        }
    const double difference = sum / (3.0 * ours.width() * ours.height());
    QVERIFY2(difference <= limit, qPrintable(QString::number(difference)));
}

void EmfTest::publicSamplesDraw() {
    const QStringList files = PublicSamples();
    if (files.isEmpty()) QSKIP("the public sample files are not beside the project");
    for (const QString& path : files) {
        const Picture p = LoadPicture(path);
        QVERIFY2(!p.isNull(), qPrintable(path));
        int painted = 0;
        const QImage small = p.image.scaled(50, 50);
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x) painted += small.pixel(x, y) != kWhite;
        QVERIFY2(painted > 25, qPrintable(path));
    }
}

// Cut short, with record sizes that lie, and with random bytes: each damaged
// copy is drawn without crashing or hanging.
void DrawDamaged(const QList<QByteArray>& originals) {
    QRandomGenerator rng(1234);
    for (const QByteArray& good : originals) {
        const QSize size(120, 90);
        for (int cut : {0, 8, 50, 107, 108, 116, int(good.size() / 2), int(good.size() - 3)})
            RenderEmf(good.left(cut), size);
        for (uint32_t lie : {0u, 4u, 7u, 0x7FFFFFFFu, 0xFFFFFFF0u, uint32_t(good.size())}) {
            QByteArray bad = good;
            qToLittleEndian<uint32_t>(lie, bad.data() + 108 + 4);
            RenderEmf(bad, size);
        }
        for (int round = 0; round < 20; ++round) {
            QByteArray bad = good;
            for (int flips = 0; flips < 16; ++flips)
                bad[108 + rng.bounded(int(bad.size() - 108))] = char(rng.bounded(256));
            RenderEmf(bad, size);
        }
    }
}

void EmfTest::damagedFilesNeitherCrashNorHang() {
    QList<QByteArray> originals;
    const QDir own(QStringLiteral(KADRELO_TEST_DATA "/emf"));
    for (const QString& name : own.entryList({"*.emf"}, QDir::Files))
        originals << ReadAll(own.filePath(name));
    for (const char* maker : {"makers/inkscape", "makers/libreoffice"}) {
        const QDir dir(own.filePath(QString::fromLatin1(maker)));
        for (const QString& name : dir.entryList({"*.emf"}, QDir::Files))
            originals << ReadAll(dir.filePath(name));
    }
    QCOMPARE(originals.size(), 15);
    Emf e;
    SolidBrush(e, 1, kRed);
    e.Rec(emf::kRectangle, {0, 0, 50, 50});
    Plus(e, PlusHeader() + PlusFillRect(0x800000FF, 10, 10, 80, 80));
    originals << e.Bytes();
    DrawDamaged(originals);
    QByteArray zeroDevice = e.Bytes();
    qToLittleEndian<int32_t>(0, zeroDevice.data() + 72);
    QVERIFY(RenderEmf(zeroDevice, QSize(10, 10)).isNull());
}

void EmfTest::damagedPublicSamplesNeitherCrashNorHang() {
    const QStringList samples = PublicSamples();
    if (samples.isEmpty()) QSKIP("the public sample files are not beside the project");
    QList<QByteArray> originals;
    for (const QString& path : samples)
        if (QFileInfo(path).size() < 200000) originals << ReadAll(path);
    DrawDamaged(originals);
}

// A 2 x 1 picture, red then blue, in each pixel format: drawn red then blue.
void EmfTest::plusBitmapColoursInEveryPixelFormat_data() {
    QTest::addColumn<uint32_t>("format");
    QTest::addColumn<QByteArray>("pixels");
    QTest::newRow("24 bits") << 0x00021808u << QByteArray::fromHex("0000ff ff0000 0000");
    QTest::newRow("32 bits") << 0x00022009u << QByteArray::fromHex("0000ff00 ff000000");
    QTest::newRow("32 bits with alpha") << 0x0026200Au << QByteArray::fromHex("0000ffff ff0000ff");
    QTest::newRow("premultiplied") << 0x000E200Bu << QByteArray::fromHex("0000ffff ff0000ff");
    QTest::newRow("16 bits 555") << 0x00021005u << QByteArray::fromHex("007c 1f00");
    QTest::newRow("16 bits 565") << 0x00021006u << QByteArray::fromHex("00f8 1f00");
    QTest::newRow("16 bits 1555") << 0x00061007u << QByteArray::fromHex("00fc 1f80");
    // Indexed: a palette (flags, count, red, blue as 0xAARRGGBB), then the indices.
    const QByteArray palette = QByteArray::fromHex("00000000 02000000 0000ffff ff0000ff");
    QTest::newRow("8 bits indexed") << 0x00030803u << palette + QByteArray::fromHex("0001 0000");
    QTest::newRow("4 bits indexed") << 0x00030402u << palette + QByteArray::fromHex("01 000000");
    QTest::newRow("1 bit indexed") << 0x00030101u << palette + QByteArray::fromHex("40 000000");
}

void EmfTest::plusBitmapColoursInEveryPixelFormat() {
    QFETCH(uint32_t, format);
    QFETCH(QByteArray, pixels);
    Emf e;
    Plus(e, PlusHeader() + PlusBitmap(1, 2, 1, format, pixels, (format & 0x00010000) ? 16 : 0) +
                PlusDrawImage(1, QRectF(0, 0, 2, 1), QRectF(0, 0, 100, 100)));
    const QImage img = Render(e);
    QVERIFY2(Near(img.pixel(20, 50), qRgb(255, 0, 0)),
             qPrintable(QString::number(img.pixel(20, 50), 16)));
    QVERIFY(Near(img.pixel(80, 50), qRgb(0, 0, 255)));
}

// A chart pasted into a document: the picture drawn is itself a metafile, plain
// or EMF+, played into its destination; the plain stand-in after it is not drawn.
void EmfTest::metafilesInsideMetafilesAreDrawn_data() {
    QTest::addColumn<uint32_t>("type");
    QTest::addColumn<bool>("plus");
    QTest::newRow("plain") << 3u << false;
    QTest::newRow("EMF+ only") << 4u << true;
    QTest::newRow("dual") << 5u << true;
}

void EmfTest::metafilesInsideMetafilesAreDrawn() {
    QFETCH(uint32_t, type);
    QFETCH(bool, plus);
    Emf inner;  // its left half blue
    if (plus) {
        Plus(inner, PlusHeader() + PlusFillRect(0xFF0000FF, 0, 0, 50, 100));
    } else {
        SolidBrush(inner, 1, kBlue);
        NoPen(inner);
        inner.Rec(emf::kRectangle, {0, 0, 50, 100});
    }
    const QByteArray nested = inner.Bytes();
    Emf outer;
    Plus(outer, PlusHeader() + PlusMetafile(2, type, nested) +
                    PlusDrawImage(2, QRectF(), QRectF(20, 20, 60, 60)));
    SolidBrush(outer, 1, kRed);  // the stand-in
    NoPen(outer);
    outer.Rec(emf::kRectangle, {0, 0, 100, 100});
    const QImage img = Render(outer);
    QVERIFY(Near(img.pixel(30, 50), qRgb(0, 0, 255)));  // the nested drawing's left half
    QCOMPARE(img.pixel(70, 50), kWhite);                // its right half, empty
    QCOMPARE(img.pixel(10, 10), kWhite);                // outside it: no stand-in
}

// Metafiles nested inside each other many times over are drawn to a bounded
// depth, without a crash and in bounded time.
void EmfTest::nestingIsBounded() {
    Emf innermost;
    SolidBrush(innermost, 1, kBlue);
    NoPen(innermost);
    innermost.Rec(emf::kRectangle, {0, 0, 100, 100});
    QByteArray file = innermost.Bytes();
    for (int level = 0; level < 8; ++level) {
        Emf wrapper;
        Plus(wrapper, PlusHeader() + PlusMetafile(1, 5, file) +
                          PlusDrawImage(1, QRectF(), QRectF(0, 0, 100, 100)));
        file = wrapper.Bytes();
    }
    QElapsedTimer clock;
    clock.start();
    const QImage img = RenderEmf(file, QSize(100, 100));
    QVERIFY(!img.isNull());
    QCOMPARE(img.pixel(50, 50), kWhite);  // deeper than the limit: not drawn
    // A file drawing one nested metafile, which draws another many times over,
    // many times over: the plays are bounded.
    QByteArray busy = innermost.Bytes();
    for (int level = 0; level < 3; ++level) {
        QByteArray draws;
        for (int i = 0; i < 2000; ++i) draws += PlusDrawImage(1, QRectF(), QRectF(0, 0, 100, 100));
        Emf wrapper;
        Plus(wrapper, PlusHeader() + PlusMetafile(1, 5, busy) + draws);
        busy = wrapper.Bytes();
    }
    (void)RenderEmf(busy, QSize(100, 100));
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
}

// Drawn twice as wide as its frame, text is twice as wide too: the picture
// matches its natural rendering stretched.
void EmfTest::textStretchesWithItsPicture() {
    const QByteArray file = TextMetafile(0);
    const QImage natural = RenderEmf(file, QSize(100, 100));
    const QImage wide = RenderEmf(file, QSize(200, 100));
    const double ratio = double(InkWidth(wide)) / InkWidth(natural);
    QVERIFY2(ratio > 1.85 && ratio < 2.15, qPrintable(QString::number(ratio)));
    const QImage resampled =
        natural.scaled(200, 100, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QVERIFY(MeanDifference(wide.convertToFormat(QImage::Format_RGB32),
                           resampled.convertToFormat(QImage::Format_RGB32)) < 6);
}

// A font asked with a small average width is drawn condensed, not at its own width.
void EmfTest::askedFontWidthCondensesLetters() {
    const int own = InkWidth(RenderEmf(TextMetafile(0), QSize(100, 100)));
    const int condensed = InkWidth(RenderEmf(TextMetafile(5), QSize(100, 100)));
    const double ratio = double(condensed) / own;
    QVERIFY2(ratio > 0.2 && ratio < 0.75, qPrintable(QString::number(ratio)));
}

// A tiny em size under a large world transform reaches the output at the size
// it asks, not rounded up before the transform.
void EmfTest::plusFontSizeKeepsItsPrecision() {
    Emf plain, scaled;
    Plus(plain, PlusHeader() + PlusText(20, 10, 10));
    Plus(scaled, PlusHeader() +
                     PlusRecord(emf::plus::kScaleWorldTransform, 0, Words({F(1000), F(1000)})) +
                     PlusText(0.02f, 0.01f, 0.01f));
    const int expected = InkHeight(Render(plain));
    const int got = InkHeight(Render(scaled));
    QVERIFY2(expected > 5 && std::abs(got - expected) <= 2,
             qPrintable(QStringLiteral("%1 / %2").arg(got).arg(expected)));
}

// Objects as their records store them, decoded on their own; cut short, they
// decode to nothing or to an empty object, never to something else.
void EmfTest::plusObjectsDecodeWithoutAPainter() {
    using namespace emf::plus;
    const QByteArray brush = Words({int32_t(0xDBC01002), 0, int32_t(0xFF00FF00)});
    const std::optional<Object> b = DecodeObject(kBrushObject, emf::Reader(brush));
    QVERIFY(b && std::holds_alternative<Brush>(*b));
    QCOMPARE(std::get<Brush>(*b).brush.color(), QColor(0, 255, 0));

    const QByteArray bitmap = Words({int32_t(0xDBC01002), 1, 2, 1, 8, 0x00021808, 0}) +
                              QByteArray::fromHex("0000ff ff0000 0000");
    const std::optional<Object> i = DecodeObject(kImageObject, emf::Reader(bitmap));
    QVERIFY(i && std::holds_alternative<QImage>(*i));
    QCOMPARE(std::get<QImage>(*i).pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(std::get<QImage>(*i).pixel(1, 0), qRgb(0, 0, 255));

    Emf inner;
    const QByteArray nested = inner.Bytes();
    const QByteArray metafile = Words({int32_t(0xDBC01002), 2, 3, int32_t(nested.size())}) + nested;
    const std::optional<Object> m = DecodeObject(kImageObject, emf::Reader(metafile));
    QVERIFY(m && std::holds_alternative<NestedMetafile>(*m));
    QCOMPARE(std::get<NestedMetafile>(*m).natural, QSize(95, 95));  // its 25 mm frame at 96 dpi

    for (qsizetype cut = 0; cut < metafile.size(); cut += 7) {
        const std::optional<Object> o =
            DecodeObject(kImageObject, emf::Reader(metafile.first(cut)));
        QVERIFY(!o || (std::holds_alternative<QImage>(*o) && std::get<QImage>(*o).isNull()));
    }
}

// A Windows metafile, placeable or plain, recognised by its content and drawn
// by the same player: shapes, reused object places, text and a bitmap.
void EmfTest::windowsMetafilesDraw() {
    for (bool placeable : {true, false}) {
        const QByteArray file = ShapesWmf(placeable);
        QVERIFY(LooksLikeWmf(file));
        const Picture picture = LoadPictureFromData(file, QSize(100, 100));
        QVERIFY(!picture.isNull());
        if (placeable) QCOMPARE(picture.naturalSize, QSize(96, 96));  // one inch
        const QImage img = picture.image.convertToFormat(QImage::Format_RGB32);
        QVERIFY(Near(img.pixel(25, 25), qRgb(255, 0, 0)));
        QVERIFY(Near(img.pixel(75, 25), qRgb(0, 255, 0)));
        QVERIFY(Near(img.pixel(90, 85), qRgb(0, 0, 255)));
        QCOMPARE(img.pixel(25, 75), kWhite);
        QVERIFY(Near(img.pixel(20, 95), qRgb(255, 0, 0)));  // the bitmap's left pixel
        QVERIFY(Near(img.pixel(80, 95), qRgb(0, 0, 255)));  // its right one
        int dark = 0;
        for (int y = 55; y < 75; ++y)
            for (int x = 3; x < 40; ++x) dark += qGray(img.pixel(x, y)) < 100;
        QVERIFY2(dark > 20, qPrintable(QString::number(dark)));  // "Hi"
    }
}

// An office chart kept as a placeable Windows metafile inside EMF+.
void EmfTest::windowsMetafileInsideAMetafile() {
    Emf outer;
    Plus(outer, PlusHeader() + PlusMetafile(1, 2, ShapesWmf()) +
                    PlusDrawImage(1, QRectF(), QRectF(50, 0, 50, 50)));
    const QImage img = Render(outer);
    QVERIFY(Near(img.pixel(60, 10), qRgb(255, 0, 0)));  // its red quarter, a quarter the size
    QCOMPARE(img.pixel(25, 25), kWhite);
    QCOMPARE(img.pixel(75, 75), kWhite);
}

void EmfTest::damagedWindowsMetafilesNeitherCrashNorHang() {
    const QByteArray file = ShapesWmf();
    QElapsedTimer clock;
    clock.start();
    for (qsizetype cut = 0; cut < file.size(); cut += 3) {
        QByteArray damaged = file.first(cut);
        if (const std::optional<QByteArray> emf = WmfToEmf(damaged))
            (void)RenderEmf(*emf, QSize(50, 50));
        damaged = file;
        damaged[cut] = char(damaged[cut] ^ 0x5A);
        if (const std::optional<QByteArray> emf = WmfToEmf(damaged))
            (void)RenderEmf(*emf, QSize(50, 50));
    }
    QVERIFY(clock.elapsed() < 20000);
}

// A 2 x 1 DIB, red then blue, in each bit count and layout: drawn red then blue.
void EmfTest::dibColoursInEveryPixelFormat_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("compression");
    QTest::addColumn<QByteArray>("table");  // colours (blue, green, red, 0) or masks
    QTest::addColumn<QByteArray>("pixels");
    const QByteArray palette = QByteArray::fromHex("0000ff00 ff000000");
    QTest::newRow("1 bit") << 1 << 0 << palette << QByteArray::fromHex("40000000");
    QTest::newRow("4 bits") << 4 << 0 << palette << QByteArray::fromHex("01000000");
    QTest::newRow("8 bits") << 8 << 0 << palette << QByteArray::fromHex("00010000");
    QTest::newRow("16 bits 555") << 16 << 0 << QByteArray() << QByteArray::fromHex("007c1f00");
    QTest::newRow("16 bits 565 fields")
        << 16 << 3 << Words({0xF800, 0x07E0, 0x001F}) << QByteArray::fromHex("00f81f00");
    QTest::newRow("24 bits") << 24 << 0 << QByteArray() << QByteArray::fromHex("0000ffff00000000");
    QTest::newRow("32 bits") << 32 << 0 << QByteArray() << QByteArray::fromHex("0000ff00ff000000");
    QTest::newRow("32 bits fields, red low") << 32 << 3 << Words({0x0000FF, 0x00FF00, 0xFF0000})
                                             << QByteArray::fromHex("ff0000000000ff00");
}

void EmfTest::dibColoursInEveryPixelFormat() {
    QFETCH(int, bits);
    QFETCH(int, compression);
    QFETCH(QByteArray, table);
    QFETCH(QByteArray, pixels);
    const int colours = bits <= 8 ? int(table.size() / 4) : 0;
    QByteArray bmi = Words({40, 2, 1}) + QByteArray::fromHex("0100") +
                     QByteArray(reinterpret_cast<const char*>(&bits), 2) +
                     Words({compression, 0, 0, 0, colours, 0}) + table;
    Emf e;
    StretchDib(e, bmi, pixels, 2, 1, emf::kSrcCopy);
    const QImage img = Render(e);
    QVERIFY2(Near(img.pixel(20, 50), qRgb(255, 0, 0)),
             qPrintable(QString::number(img.pixel(20, 50), 16)));
    QVERIFY2(Near(img.pixel(80, 50), qRgb(0, 0, 255)),
             qPrintable(QString::number(img.pixel(80, 50), 16)));
}

// A 2 x 1 picture, red then blue, drawn from a source twice as wide as it:
// the attributes say what fills the right half.
void EmfTest::imageAttributesFillBeyondThePicture_data() {
    QTest::addColumn<int>("wrap");
    QTest::addColumn<QRgb>("third");
    QTest::addColumn<QRgb>("fourth");
    QTest::newRow("tiled") << 0 << qRgb(255, 0, 0) << qRgb(0, 0, 255);
    QTest::newRow("tiled, flipped across x") << 1 << qRgb(0, 0, 255) << qRgb(255, 0, 0);
    QTest::newRow("clamped") << 4 << qRgb(0, 255, 0) << qRgb(0, 255, 0);
}

void EmfTest::imageAttributesFillBeyondThePicture() {
    QFETCH(int, wrap);
    QFETCH(QRgb, third);
    QFETCH(QRgb, fourth);
    Emf e;
    Plus(e, PlusHeader() +
                PlusBitmap(1, 2, 1, 0x00022009, QByteArray::fromHex("0000ff00 ff000000")) +
                PlusRecord(emf::plus::kObject, emf::plus::kImageAttributesObject << 8 | 2,
                           Words({int32_t(0xDBC01002), 0, wrap, int32_t(0xFF00FF00), 0, 0})) +
                PlusDrawImage(1, QRectF(0, 0, 4, 1), QRectF(0, 0, 100, 100), 2));
    const QImage img = Render(e);
    QVERIFY(Near(img.pixel(12, 50), qRgb(255, 0, 0)));
    QVERIFY(Near(img.pixel(37, 50), qRgb(0, 0, 255)));
    QVERIFY2(Near(img.pixel(62, 50), third), qPrintable(QString::number(img.pixel(62, 50), 16)));
    QVERIFY2(Near(img.pixel(87, 50), fourth), qPrintable(QString::number(img.pixel(87, 50), 16)));
}

// A font's orientation turns its glyphs in the advanced graphics mode; the
// compatible mode ignores it, as Windows does.
void EmfTest::glyphsTurnByTheirOrientationInAdvancedMode() {
    const QString tall = QStringLiteral("llll");
    const int upright = InkHeight(RenderEmf(TextMetafile(0, 0, 1, tall), QSize(100, 100)));
    const int compatible = InkHeight(RenderEmf(TextMetafile(0, 900, 1, tall), QSize(100, 100)));
    const int advanced = InkHeight(RenderEmf(TextMetafile(0, 900, 2, tall), QSize(100, 100)));
    QCOMPARE(compatible, upright);
    QVERIFY2(advanced * 2 < upright,
             qPrintable(QStringLiteral("%1 / %2").arg(advanced).arg(upright)));
}

QTEST_MAIN(EmfTest)
#include "tst_emf.moc"
