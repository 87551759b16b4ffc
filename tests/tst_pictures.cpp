// The picture loader: format by content, damaged files, icons, orientation,
// very large pictures and decoding at the display size.
#include "pictures/PictureLoader.h"
#include "pictures/Scaling.h"
#include "platform/LargeMemory.h"
#include "tests/support/Dibs.h"
#include "tests/support/HugePng.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

QString Sample(const QString& name) {
    return qEnvironmentVariable("KADRELO_SAMPLES") + u'/' + name;
}

QByteArray Encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0) writer.setQuality(quality);
    writer.write(image);
    return data;
}

// A 4 x 2 picture with a distinct colour in every pixel.
QImage Pattern(int w = 4, int h = 2) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(40 * x + 10, 100 * y + 20, 200));
    return image;
}

// A bare 8-bit BMP with a palette, optionally run-length encoded.
QByteArray Bmp8(int w, int h, const QByteArray& bits, uint32_t compression, QVector<QRgb> palette) {
    const QByteArray info = DibInfo8(w, h, compression, palette);
    QByteArray file(14, '\0');
    file[0] = 'B', file[1] = 'M';
    const int offset = 14 + info.size();
    qToLittleEndian<uint32_t>(offset + bits.size(), file.data() + 2);
    qToLittleEndian<uint32_t>(offset, file.data() + 10);
    return file + info + bits;
}

// A 1-bit bitmap: bit 1 white, bit 0 black.
QByteArray Bmp1(int w, int h, const QByteArray& bits) {
    QByteArray file = Bmp8(w, h, bits, 0, {qRgb(0, 0, 0), qRgb(255, 255, 255)});
    qToLittleEndian<uint16_t>(1, file.data() + 14 + 14);
    return file;
}

QByteArray IconDirectory(const QList<QPair<QByteArray, QByteArray>>& entries) {
    // each entry: 16-byte directory record without offset/size, image data
    QByteArray head(6, '\0');
    head[2] = 1;
    qToLittleEndian<uint16_t>(entries.size(), head.data() + 4);
    QByteArray dir, data;
    int offset = 6 + 16 * entries.size();
    for (const auto& [record, image] : entries) {
        QByteArray r = record;
        r.resize(16);
        qToLittleEndian<uint32_t>(image.size(), r.data() + 8);
        qToLittleEndian<uint32_t>(offset, r.data() + 12);
        dir += r;
        data += image;
        offset += image.size();
    }
    return head + dir + data;
}

QByteArray IconRecord(int size, int bitCount) {
    QByteArray r(16, '\0');
    r[0] = char(size == 256 ? 0 : size), r[1] = r[0];
    qToLittleEndian<uint16_t>(1, r.data() + 4);
    qToLittleEndian<uint16_t>(bitCount, r.data() + 6);
    return r;
}

// A JPEG with an EXIF orientation tag.
QByteArray WithOrientation(const QByteArray& jpeg, int orientation) {
    QByteArray tiff("MM\0\x2a\0\0\0\x08", 8);
    tiff += QByteArray("\0\x01", 2);                    // one entry
    tiff += QByteArray("\x01\x12\0\x03\0\0\0\x01", 8);  // Orientation, SHORT, 1
    const char value[4] = {0, char(orientation), 0, 0};
    tiff += QByteArray(value, 4);
    tiff += QByteArray(4, '\0');  // no next IFD
    QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xff\xe1", 2);
    segment += char((app1.size() + 2) >> 8);
    segment += char((app1.size() + 2) & 0xFF);
    return jpeg.left(2) + segment + app1 + jpeg.mid(2);
}

}  // namespace

class PicturesTest : public QObject {
    Q_OBJECT
  private slots:
    void ownDecodersAreImageFormats();
    void samplesLoad();
    void formatIsDecidedByContent();
    void missingEmptyAndGarbage();
    void truncatedBmpIsFilledNotUninitialised();
    void rleBmpWithSkippedPixelsIsDefined();
    void damagedBmpHeadersDoNotCrash();
    void iconGivesLargestThenDeepestEntry();
    void iconAlphaAndMask();
    void huffmanBitmapIsRefused();
    void exifOrientationIsApplied_data();
    void exifOrientationIsApplied();
    void displaySizeIsHonoured();
    void scalingKeepsThePicture();
    void picturesAboveQtsDefaultLimitLoad();
    void headersClaimingMoreThanTheDataAreRefused();
    void displaySizesBeyondAnyScreenGiveTheOwnSize();
    void largeMemoryIsReusedOnlyWhileKept();
    void picturesInReusedMemoryAreWhole();
    void tableOfPictures_data();
    void tableOfPictures();
    void picturesLargerThanAnyScreenCostOnlyTheirDisplay();

  private:
    QTemporaryDir dir_;
    QString Write(const QString& name, const QByteArray& data) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return path;
    }
};

void PicturesTest::ownDecodersAreImageFormats() {
    LoadPicture(QString());  // the loader's unit registers them
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    for (const char* format : {"kadrelo-bmp", "kadrelo-ico", "kadrelo-emf", "kadrelo-jpeg"})
        QVERIFY2(formats.contains(format), format);
    // Through a plain QImageReader, as any Qt code reads pictures.
    QImageReader reader(Sample("panel5-bubble.emf"), "kadrelo-emf");
    reader.setScaledSize(QSize(60, 40));
    QCOMPARE(reader.read().size(), QSize(60, 40));
}

void PicturesTest::samplesLoad() {
    for (const char* name : {"panel1.bmp", "panel2.jpg", "panel4.png"}) {
        const Picture p = LoadPicture(Sample(name));
        QVERIFY2(!p.isNull(), name);
        QCOMPARE(p.naturalSize, QSize(320, 240));
    }
    QCOMPARE(LoadPicture(Sample("panel3.ico")).naturalSize, QSize(256, 256));
}

void PicturesTest::formatIsDecidedByContent() {
    const QByteArray png = Encode(Pattern(), "PNG");
    const Picture p = LoadPicture(Write("really-a-png.bmp", png));
    QVERIFY(!p.isNull());
    QCOMPARE(p.image.pixel(3, 1), Pattern().pixel(3, 1));
    QFile bmp(Sample("panel1.bmp"));
    bmp.open(QIODevice::ReadOnly);
    QVERIFY(!LoadPicture(Write("bitmap.jpg", bmp.readAll())).isNull());
}

void PicturesTest::missingEmptyAndGarbage() {
    QVERIFY(LoadPicture(QString()).isNull());
    QVERIFY(LoadPicture(dir_.filePath("missing.bmp")).isNull());
    QVERIFY(LoadPicture(dir_.path()).isNull());
    QVERIFY(LoadPicture(Write("empty.jpg", {})).isNull());
    QByteArray noise(5000, '\0');
    for (int i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919) % 251);
    QVERIFY(LoadPicture(Write("noise.bmp", "BM" + noise)).isNull());
    QVERIFY(LoadPicture(Write("noise.ico", QByteArray("\0\0\1\0\xff\xff", 6) + noise)).isNull());
}

void PicturesTest::truncatedBmpIsFilledNotUninitialised() {
    // 4 x 4, bottom-up: only the two bottom rows are in the file.
    QByteArray bits;
    for (int row = 0; row < 2; ++row) bits += QByteArray(4, char(1));
    const QByteArray bmp = Bmp8(4, 4, bits, 0, {qRgb(0, 0, 0), qRgb(255, 0, 0)});
    const Picture p = LoadPicture(Write("truncated.bmp", bmp));
    QVERIFY(!p.isNull());
    QCOMPARE(p.image.pixel(0, 3), qRgb(255, 0, 0));
    QCOMPARE(p.image.pixel(0, 2), qRgb(255, 0, 0));
    QCOMPARE(p.image.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(p.image.pixel(3, 1), qRgb(0, 0, 0));
}

void PicturesTest::rleBmpWithSkippedPixelsIsDefined() {
    // Row 0: two red pixels, then a move to (1, 2), one green pixel, end.
    const QByteArray rle = QByteArray::fromHex("0201 0002 0102 0102 0001");
    const QByteArray bmp = Bmp8(4, 3, rle, 1, {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0)});
    for (int round = 0; round < 2; ++round) {  // the same pixels every time
        const Picture p = LoadPicture(Write("rle.bmp", bmp));
        QVERIFY(!p.isNull());
        QCOMPARE(p.image.pixel(0, 2), qRgb(255, 0, 0));  // bottom-up: row 0 is the bottom
        QCOMPARE(p.image.pixel(1, 2), qRgb(255, 0, 0));
        QCOMPARE(p.image.pixel(3, 2), qRgb(0, 0, 0));
        QCOMPARE(p.image.pixel(3, 0), qRgb(0, 255, 0));
        QCOMPARE(p.image.pixel(0, 1), qRgb(0, 0, 0));
    }
}

void PicturesTest::damagedBmpHeadersDoNotCrash() {
    const QByteArray good = Bmp8(4, 2, QByteArray(8, char(1)), 0, {qRgb(1, 2, 3), qRgb(4, 5, 6)});
    for (int cut = 0; cut < good.size(); cut += 3) LoadPicture(Write("cut.bmp", good.left(cut)));
    QByteArray huge = good;
    qToLittleEndian<int32_t>(1 << 30, huge.data() + 18);  // width
    QVERIFY(LoadPicture(Write("huge.bmp", huge)).isNull());
    QByteArray badDepth = good;
    qToLittleEndian<uint16_t>(7, badDepth.data() + 28);
    QVERIFY(LoadPicture(Write("depth.bmp", badDepth)).isNull());
    QByteArray hugeHeader = good;  // a header size near 2^31 and a bits offset past the end
    qToLittleEndian<uint32_t>(0x7FFFFFFFu, hugeHeader.data() + 14);
    qToLittleEndian<uint32_t>(0xFFFFFFF0u, hugeHeader.data() + 10);
    QVERIFY(LoadPicture(Write("header.bmp", hugeHeader)).isNull());
    QByteArray badOffset = good;
    qToLittleEndian<uint32_t>(0xFFFFFFF0u, badOffset.data() + 10);
    QVERIFY(!LoadPicture(Write("offset.bmp", badOffset)).isNull());
}

void PicturesTest::iconGivesLargestThenDeepestEntry() {
    QImage small(16, 16, QImage::Format_ARGB32);
    small.fill(qRgb(255, 0, 0));
    QImage large(48, 48, QImage::Format_ARGB32);
    large.fill(qRgb(0, 255, 0));
    QImage largeDeep(48, 48, QImage::Format_ARGB32);
    largeDeep.fill(qRgb(0, 0, 255));
    const QImage large8 = large.convertToFormat(QImage::Format_Indexed8);
    const QByteArray icon = IconDirectory({{IconRecord(16, 32), Encode(small, "PNG")},
                                           {IconRecord(48, 8), Encode(large8, "PNG")},
                                           {IconRecord(48, 32), Encode(largeDeep, "PNG")}});
    const Picture p = LoadPicture(Write("multi.ico", icon));
    QCOMPARE(p.naturalSize, QSize(48, 48));
    QCOMPARE(p.image.pixel(10, 10), qRgb(0, 0, 255));
    QCOMPARE(LoadPicture(Sample("panel3.ico")).image.width(), 256);
}

// A 2 x 2 icon entry of 32 bits a pixel (BGRA, bottom-up) with its AND mask.
QByteArray Icon32Entry(const QVector<QRgb>& pixels, uint8_t maskRow) {
    QByteArray entry(40, '\0');
    qToLittleEndian<uint32_t>(40, entry.data());
    qToLittleEndian<int32_t>(2, entry.data() + 4);
    qToLittleEndian<int32_t>(4, entry.data() + 8);  // colour and mask heights together
    qToLittleEndian<uint16_t>(1, entry.data() + 12);
    qToLittleEndian<uint16_t>(32, entry.data() + 14);
    for (QRgb p : pixels) {
        const char bgra[4] = {char(qBlue(p)), char(qGreen(p)), char(qRed(p)), char(qAlpha(p))};
        entry.append(bgra, 4);
    }
    for (int row = 0; row < 2; ++row) entry += QByteArray(1, char(maskRow)) + QByteArray(3, '\0');
    return entry;
}

void PicturesTest::iconAlphaAndMask() {
    // Soft edges: the entry's own alpha is kept and its mask is not used.
    const QRgb half = qRgba(200, 0, 0, 128);
    const QByteArray soft =
        IconDirectory({{IconRecord(2, 32), Icon32Entry({half, half, half, half}, 0)}});
    const QImage softImage = LoadPicture(Write("soft.ico", soft)).image;
    QCOMPARE(qAlpha(softImage.pixel(0, 0)), 128);
    // No alpha in the entry (all zero): the mask decides, left column transparent.
    const QRgb red = qRgba(255, 0, 0, 0);
    const QByteArray masked =
        IconDirectory({{IconRecord(2, 32), Icon32Entry({red, red, red, red}, 0x80)}});
    const QImage maskedImage = LoadPicture(Write("masked.ico", masked)).image;
    QCOMPARE(qAlpha(maskedImage.pixel(0, 0)), 0);
    QCOMPARE(maskedImage.pixel(1, 0), qRgb(255, 0, 0));
}

void PicturesTest::huffmanBitmapIsRefused() {
    // 1 bit a pixel with compression 3: OS/2 Huffman coding, not bit fields.
    QByteArray bmp =
        Bmp8(8, 8, QByteArray(64, char(0x55)), 3, {qRgb(0, 0, 0), qRgb(255, 255, 255)});
    qToLittleEndian<uint16_t>(1, bmp.data() + 14 + 14);
    QVERIFY(LoadPicture(Write("huffman.bmp", bmp)).isNull());
}

void PicturesTest::exifOrientationIsApplied_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("redCorner");
    QTest::newRow("3: upside down") << 3 << QSize(80, 40) << QPoint(70, 30);
    QTest::newRow("6: turned right") << 6 << QSize(40, 80) << QPoint(30, 10);
    QTest::newRow("8: turned left") << 8 << QSize(40, 80) << QPoint(10, 70);
}

void PicturesTest::exifOrientationIsApplied() {
    QFETCH(int, orientation);
    QFETCH(QSize, size);
    QFETCH(QPoint, redCorner);
    // Stored picture: 80 x 40, white with a red top-left corner.
    QImage stored(80, 40, QImage::Format_RGB32);
    stored.fill(Qt::white);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) stored.setPixel(x, y, qRgb(255, 0, 0));
    const QString path =
        Write("photo.jpg", WithOrientation(Encode(stored, "JPEG", 95), orientation));
    const Picture p = LoadPicture(path);
    QCOMPARE(p.naturalSize, size);
    QCOMPARE(p.image.size(), size);
    QVERIFY(qRed(p.image.pixel(redCorner)) > 200 && qGreen(p.image.pixel(redCorner)) < 60);
    const Picture scaled = LoadPicture(path, QSize(size.width() / 2, size.height() / 2));
    QCOMPARE(scaled.image.size(), size / 2);
    QCOMPARE(scaled.naturalSize, size);
    const QPoint half = redCorner / 2;
    QVERIFY(qRed(scaled.image.pixel(half)) > 200 && qGreen(scaled.image.pixel(half)) < 80);
}

void PicturesTest::displaySizeIsHonoured() {
    const QSize display(53, 53);
    for (const char* name : {"panel1.bmp", "panel2.jpg", "panel3.ico", "panel4.png"}) {
        const Picture p = LoadPicture(Sample(name), display);
        QCOMPARE(p.image.size(), display);
    }
}

// Every scaling path (interpolated into picture memory, averaged by Qt, and a
// photo decoded at a reduced size first) gives the exact size and the colours
// of the picture, also after the result is painted on and copied.
void PicturesTest::scalingKeepsThePicture() {
    QImage halves(1500, 1000, QImage::Format_RGB32);
    halves.fill(qRgb(200, 30, 40));
    QPainter(&halves).fillRect(750, 0, 750, 1000, qRgb(20, 60, 220));
    for (const QSize size : {QSize(1280, 853), QSize(2000, 1400), QSize(300, 200), QSize(1, 1)}) {
        const QImage scaled = ScaledSmoothly(halves, size);
        QCOMPARE(scaled.size(), size);
        if (size.width() < 4) continue;
        QCOMPARE(scaled.pixel(2, size.height() / 2), qRgb(200, 30, 40));
        QCOMPARE(scaled.pixel(size.width() - 3, 2), qRgb(20, 60, 220));
    }
    QImage drawnOn = ScaledSmoothly(halves, QSize(1280, 853));
    const QImage copy = drawnOn;
    drawnOn.fill(Qt::white);  // the copy keeps its own pixels
    QCOMPARE(copy.pixel(2, 2), qRgb(200, 30, 40));
    QCOMPARE(drawnOn.pixel(2, 2), qRgb(255, 255, 255));

    const QString photo = Write("halves.jpg", Encode(halves, "JPEG", 95));
    const Picture shown = LoadPicture(photo, QSize(1280, 853));
    QCOMPARE(shown.image.size(), QSize(1280, 853));
    QCOMPARE(shown.naturalSize, QSize(1500, 1000));
    const QRgb left = shown.image.pixel(100, 400), right = shown.image.pixel(1180, 400);
    QVERIFY(qAbs(qRed(left) - 200) < 8 && qAbs(qBlue(left) - 40) < 8);
    QVERIFY(qAbs(qRed(right) - 20) < 8 && qAbs(qBlue(right) - 220) < 8);
}

void PicturesTest::picturesAboveQtsDefaultLimitLoad() {
    // 8700 x 5800 (50 megapixels): 200 MB decoded, above Qt's default 128 MB.
    QImage big(8700, 5800, QImage::Format_RGB32);
    big.fill(qRgb(10, 200, 30));
    const QString path = Write("big.jpg", Encode(big, "JPEG", 50));
    big = QImage();
    const Picture p = LoadPicture(path);
    QCOMPARE(p.naturalSize, QSize(8700, 5800));
    QCOMPARE(p.image.size(), QSize(8700, 5800));
    const Picture shown = LoadPicture(path, QSize(1280, 853));
    QCOMPARE(shown.image.size(), QSize(1280, 853));
}

void PicturesTest::headersClaimingMoreThanTheDataAreRefused() {
    // 1 MB of plain 8-bit bits claiming 16384 x 16384 (a 1 GiB picture).
    const QByteArray megabyte(1 << 20, char(1));
    QVERIFY(LoadPicture(Write("claims.bmp", Bmp8(16384, 16384, megabyte, 0, {0, 0}))).isNull());
    // The same claim in run-length bits: at most 255 pixels come from two bytes.
    QByteArray runs;
    for (int i = 0; i < (1 << 19); ++i) runs += QByteArray::fromHex("ff01");
    QVERIFY(LoadPicture(Write("runs.bmp", Bmp8(16384, 16384, runs, 1, {0, 0}))).isNull());
    // What the data can fill loads: half the bits of 2048 x 1024, and runs that cover their claim.
    const Picture half = LoadPicture(Write("half.bmp", Bmp8(2048, 1024, megabyte, 0, {0, 0})));
    QCOMPARE(half.image.size(), QSize(2048, 1024));
    const Picture ran = LoadPicture(Write("ran.bmp", Bmp8(8160, 8192, runs, 1, {0, 0})));
    QCOMPARE(ran.image.size(), QSize(8160, 8192));
}

void PicturesTest::displaySizesBeyondAnyScreenGiveTheOwnSize() {
    for (const char* name : {"panel1.bmp", "panel2.jpg", "panel5-bubble.emf"}) {
        const Picture p = LoadPicture(Sample(name), QSize(INT32_MAX, INT32_MAX));
        QVERIFY2(!p.isNull(), name);
        QCOMPARE(p.image.size(), p.naturalSize);
        QCOMPARE(LoadPicture(Sample(name), QSize(40000, 40000)).image.size(), p.naturalSize);
    }
}

void PicturesTest::largeMemoryIsReusedOnlyWhileKept() {
    const QSize size(1024, 1024);  // 4 MiB
    constexpr size_t kMiB = size_t(1) << 20;
    QCOMPARE(KeptLargeMemory(), size_t(0));
    {
        KeepLargeMemory keep;
        QImage first = NewLargeImage(size, QImage::Format_RGB32);
        const uchar* pixels = first.constBits();
        first = QImage();
        QCOMPARE(KeptLargeMemory(), 4 * kMiB);
        const QImage otherSize = NewLargeImage(QSize(2048, 1024), QImage::Format_RGB32);
        QVERIFY(otherSize.constBits() != pixels);
        const QImage again = NewLargeImage(size, QImage::Format_RGB32);
        QCOMPARE(again.constBits(), pixels);
        QCOMPARE(KeptLargeMemory(), size_t(0));
        QList<QImage> many;  // 80 MiB: more than is ever kept
        for (int i = 0; i < 20; ++i) many << NewLargeImage(size, QImage::Format_RGB32);
        many.clear();
        QCOMPARE(KeptLargeMemory(), 64 * kMiB);
    }
    QCOMPARE(KeptLargeMemory(), size_t(0));  // the last keeper gave it all back
    QImage unkept = NewLargeImage(size, QImage::Format_RGB32);
    unkept = QImage();
    QCOMPARE(KeptLargeMemory(), size_t(0));
}

// Memory that held another picture must not show through a new one.
void PicturesTest::picturesInReusedMemoryAreWhole() {
    const QSize shown(1000, 700);
    const QStringList names = {"panel2.jpg", "panel5-bubble.emf", "panel1.bmp"};
    QList<QImage> fresh;
    for (const QString& name : names) {
        fresh << LoadPicture(Sample(name), shown).image;
        QCOMPARE(fresh.last().size(), shown);
    }
    KeepLargeMemory keep;
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < names.size(); ++i) {
            QImage garbage = NewLargeImage(shown, QImage::Format_RGB32);
            garbage.fill(0xff00ff);
            garbage = QImage();
            QCOMPARE(LoadPicture(Sample(names[i]), shown).image, fresh[i]);
        }
}

QTEST_GUILESS_MAIN(PicturesTest)
// Every picture in the table beside each of its references: NAME@WxH~T.png
// (loaded at W x H, each channel within T levels), NAME@own~T.png (at its own
// size), or NAME.refused (the reason the loader gives).
void PicturesTest::tableOfPictures_data() {
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("expected");
    const QDir dir(QStringLiteral(KADRELO_TEST_DATA "/pictures"));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    int pictures = 0;
    for (const QString& file : files) {
        if (file.contains(u'@') || file.endsWith(".refused") || file.endsWith(".sh")) continue;
        ++pictures;
        const QRegularExpression mine(u'^' + QRegularExpression::escape(file) +
                                      QStringLiteral("(@.*\\.png|\\.refused)$"));
        const QStringList expected = files.filter(mine);
        if (expected.isEmpty()) QTest::newRow(qPrintable(file)) << dir.filePath(file) << QString();
        for (const QString& e : expected)
            QTest::newRow(qPrintable(e)) << dir.filePath(file) << dir.filePath(e);
    }
    if (pictures < 25) QTest::newRow("the table is there") << QString() << QString();
}

void PicturesTest::tableOfPictures() {
    QFETCH(QString, picture);
    QFETCH(QString, expected);
    QVERIFY2(!picture.isEmpty(), "fewer pictures in the table than it was made with");
    QVERIFY2(!expected.isEmpty(), "a picture without a reference");
    if (expected.endsWith(".refused")) {
        QFile reason(expected);
        QVERIFY(reason.open(QIODevice::ReadOnly));
        const Picture p = LoadPicture(picture, QSize(48, 32));
        QVERIFY(p.isNull());
        QCOMPARE(DescribeLoadError(p.error), QString::fromUtf8(reason.readAll()).trimmed());
        return;
    }
    const auto m =
        QRegularExpression(QStringLiteral("@(own|(\\d+)x(\\d+))~(\\d+)\\.png$")).match(expected);
    QVERIFY2(m.hasMatch(), "a reference's name says its size and tolerance");
    const QSize size =
        m.captured(1) == "own" ? QSize() : QSize(m.captured(2).toInt(), m.captured(3).toInt());
    const int tolerance = m.captured(4).toInt();
    const QImage reference = QImage(expected).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY(!reference.isNull());
    const Picture p = LoadPicture(picture, size);
    QVERIFY2(!p.isNull(), qPrintable(DescribeLoadError(p.error)));
    QCOMPARE(p.image.size(), reference.size());
    const QImage got = p.image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int worst = 0;
    QPoint worstAt;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x) {
            const QRgb a = got.pixel(x, y), b = reference.pixel(x, y);
            for (int shift : {0, 8, 16, 24}) {
                const int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
                if (d > worst) worst = d, worstAt = QPoint(x, y);
            }
        }
    QVERIFY2(worst <= tolerance, qPrintable(QStringLiteral("%1 levels off at %2,%3: %4 for %5")
                                                .arg(worst)
                                                .arg(worstAt.x())
                                                .arg(worstAt.y())
                                                .arg(got.pixel(worstAt), 8, 16)
                                                .arg(reference.pixel(worstAt), 8, 16)));
}

// Pictures whose own size no memory holds load at the size they are shown at,
// in every format that can be that large: a 1-bit bitmap of 9000 x 8000 and a
// PNG of 20000 x 20000 (which decoded whole would take 1.6 GB).
void PicturesTest::picturesLargerThanAnyScreenCostOnlyTheirDisplay() {
    const int width = 9000, height = 8000;
    const qint64 stride = ((width + 31) / 32) * 4;
    QByteArray bits(stride * height, '\0');
    for (int y = 0; y < height / 2; ++y) std::fill_n(bits.data() + y * stride, stride, char(0xFF));
    const QByteArray bmp = Bmp1(width, height, bits);
    const Picture fromBmp = LoadPicture(Write("mono.bmp", bmp), QSize(90, 80));
    QVERIFY2(!fromBmp.isNull(), qPrintable(DescribeLoadError(fromBmp.error)));
    QCOMPARE(fromBmp.naturalSize, QSize(width, height));
    QCOMPARE(fromBmp.image.pixel(10, 10), qRgb(0, 0, 0));        // the bottom-up file's last rows
    QCOMPARE(fromBmp.image.pixel(10, 70), qRgb(255, 255, 255));  // and its first ones

    const QString png = dir_.filePath("huge.png");
    QVERIFY(WriteHugePng(png, 20000, 20000));
    const Picture shown = LoadPicture(png, QSize(200, 200));
    QVERIFY2(!shown.isNull(), qPrintable(DescribeLoadError(shown.error)));
    QCOMPARE(shown.image.size(), QSize(200, 200));
    QCOMPARE(shown.image.pixel(5, 15), qRgb(255, 0, 0));  // rows 1000 to 1999: red then blue
    QCOMPARE(shown.image.pixel(195, 15), qRgb(0, 0, 255));
    QCOMPARE(shown.image.pixel(100, 5), qRgb(255, 255, 255));
    // At its own size it is kept reduced, with its own size still known.
    const Picture own = LoadPicture(png);
    QCOMPARE(own.naturalSize, QSize(20000, 20000));
    QVERIFY(qint64(own.image.width()) * own.image.height() <= kMaxKeptPixels);
}

#include "tst_pictures.moc"
