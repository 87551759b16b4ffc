#include "HugePng.h"

#include <zlib.h>
#include <QFile>
#include <QtEndian>
#include <vector>

namespace {

void WriteChunk(QFile& file, const char* type, const QByteArray& data) {
    uchar length[4], crc[4];
    qToBigEndian<quint32>(quint32(data.size()), length);
    QByteArray body = QByteArray(type, 4) + data;
    qToBigEndian<quint32>(
        quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))),
        crc);
    file.write(reinterpret_cast<const char*>(length), 4);
    file.write(body);
    file.write(reinterpret_cast<const char*>(crc), 4);
}

}  // namespace

bool WriteHugePng(const QString& path, int width, int height) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(width), header.data());
    qToBigEndian<quint32>(quint32(height), header.data() + 4);
    header[8] = 8, header[9] = 3;  // 8 bits, paletted
    WriteChunk(file, "IHDR", header);
    WriteChunk(file, "PLTE", QByteArray("\xff\xff\xff\xff\x00\x00\x00\x00\xff", 9));
    std::vector<Bytef> white(size_t(width) + 1, 0), bands(size_t(width) + 1, 1);
    for (int x = width / 2; x < width; ++x) bands[size_t(x) + 1] = 2;
    bands[0] = 0;
    z_stream z{};
    deflateInit(&z, 1);
    std::vector<Bytef> out(1 << 20);
    auto drain = [&](int flush) {
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            deflate(&z, flush);
            const size_t n = out.size() - z.avail_out;
            if (n)
                WriteChunk(file, "IDAT",
                           QByteArray(reinterpret_cast<char*>(out.data()), qsizetype(n)));
        } while (z.avail_out == 0);
    };
    for (int y = 0; y < height; ++y) {
        std::vector<Bytef>& row = (y / 1000) % 2 ? bands : white;
        z.next_in = row.data();
        z.avail_in = uInt(row.size());
        drain(Z_NO_FLUSH);
    }
    drain(Z_FINISH);
    deflateEnd(&z);
    WriteChunk(file, "IEND", {});
    return file.error() == QFile::NoError;
}
