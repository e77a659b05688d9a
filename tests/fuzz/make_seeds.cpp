// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the picture fuzz target's seed corpus into the folder given: small BMPs of every depth
// and header kind the decoder reads, plus a few it refuses (cut off, run-length, oversized).
#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

QImage Pattern(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, qRgb(x * 37, y * 59, (x * y) * 11));
    return img;
}

QByteArray Bmp(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

void Put(QByteArray& b, int at, std::uint32_t v, int n = 4) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A hand-made file: info header of infoSize bytes, bits, compression, optional masks after a
// 40-byte header, colours in the table, then the pixel rows of w x h.
QByteArray Made(int infoSize, int bits, std::uint32_t compression, int w, int h, int colours = 0) {
    const bool os2 = infoSize == 12;
    const int masks = compression == 3 && infoSize == 40 ? 12 : 0;
    const int table = colours * (os2 ? 3 : 4);
    const int offset = 14 + infoSize + masks + table;
    const int stride = (w * bits + 31) / 32 * 4;
    const int rows = h < 0 ? -h : h;
    QByteArray b(offset + stride * rows, '\0');
    b[0] = 'B';
    b[1] = 'M';
    Put(b, 2, static_cast<std::uint32_t>(b.size()));
    Put(b, 10, static_cast<std::uint32_t>(offset));
    Put(b, 14, static_cast<std::uint32_t>(infoSize));
    if (os2) {
        Put(b, 18, static_cast<std::uint32_t>(w), 2);
        Put(b, 20, static_cast<std::uint32_t>(h), 2);
        Put(b, 22, 1, 2);
        Put(b, 24, static_cast<std::uint32_t>(bits), 2);
    } else {
        Put(b, 18, static_cast<std::uint32_t>(w));
        Put(b, 22, static_cast<std::uint32_t>(h));
        Put(b, 26, 1, 2);
        Put(b, 28, static_cast<std::uint32_t>(bits), 2);
        Put(b, 30, compression);
        Put(b, 46, static_cast<std::uint32_t>(colours));
        if (compression == 3) {
            const int at = 14 + 40;
            const bool wide = bits == 32;
            Put(b, at, wide ? 0x00FF0000u : 0xF800u);
            Put(b, at + 4, wide ? 0x0000FF00u : 0x07E0u);
            Put(b, at + 8, wide ? 0x000000FFu : 0x001Fu);
        }
    }
    for (int i = 14 + infoSize + masks; i < b.size(); ++i) b[i] = static_cast<char>((i * 131) >> 3);
    return b;
}

// An honest bfSize for a 2 KB file whose header claims 5000 x 5000 pixels.
QByteArray Claims5000() {
    QByteArray b = Made(40, 24, 0, 5000, 1).left(2048);
    Put(b, 2, 2048);
    Put(b, 22, 5000);
    return b;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    const QImage p = Pattern(11, 5);
    const std::pair<const char*, QByteArray> seeds[] = {
        {"rgb24.bmp", Bmp(p)},
        {"indexed8.bmp", Bmp(p.convertToFormat(QImage::Format_Indexed8))},
        {"mono.bmp", Bmp(p.convertToFormat(QImage::Format_Mono))},
        {"wide24.bmp", Bmp(Pattern(64, 3))},
        {"rgb24-cut.bmp", Bmp(p).left(80)},
        {"os2-24.bmp", Made(12, 24, 0, 5, 4)},
        {"os2-8.bmp", Made(12, 8, 0, 5, 4, 16)},
        {"win-4.bmp", Made(40, 4, 0, 7, 3, 16)},
        {"win-16.bmp", Made(40, 16, 0, 6, 4)},
        {"bitfields-16.bmp", Made(40, 16, 3, 6, 4)},
        {"bitfields-32.bmp", Made(40, 32, 3, 6, 4)},
        {"v4-32.bmp", Made(108, 32, 3, 4, 4)},
        {"v5-24-topdown.bmp", Made(124, 24, 0, 5, -4)},
        {"rle8.bmp", Made(40, 8, 1, 8, 2, 4)},
        {"claims-5000.bmp", Claims5000()},
    };
    for (const auto& [name, bytes] : seeds) {
        QFile f(dir + "/" + name);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return 1;
    }
    return 0;
}
