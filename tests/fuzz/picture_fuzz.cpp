// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the sample picture decoder. Besides the sanitizers' findings it stops
// on a wrong picture: one whose size is not the headers' geometry, one decoded from fewer bytes
// than the geometry needs, or one Qt would decode differently given more bytes than the geometry
// accounts for (so a short file would show rows that were never read).
#include "analyser/bmp_picture.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Wrong(const char* what) {
    std::fprintf(stderr, "wrong picture: %s\n", what);
    std::abort();
}

QImage DecodePadded(const QByteArray& prefix, char fill) {
    QByteArray padded = prefix;
    padded.append(4096, fill);
    return QImage::fromData(padded, "BMP").convertToFormat(QImage::Format_RGB32);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> file(data, size);
    const auto geometry = analyser::ReadBmpGeometry(file);
    const auto image = analyser::DecodeWholeBmp(file);
    if (!image) return 0;
    if (!geometry) Wrong("decoded without a geometry");
    if (geometry->bytesNeeded > size) Wrong("decoded from fewer bytes than needed");
    if (image->width() != geometry->width || image->height() != geometry->height)
        Wrong("size differs from the headers");
    const QByteArray prefix(reinterpret_cast<const char*>(data),
                            static_cast<qsizetype>(geometry->bytesNeeded));
    const QImage zeros = DecodePadded(prefix, '\0');
    const QImage ones = DecodePadded(prefix, '\xff');
    if (image->format() != QImage::Format_RGB32) Wrong("not RGB32");
    if (zeros != ones || zeros != *image) Wrong("pixels depend on bytes beyond the geometry");
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // QImage needs no display, but its reader plugins are looked up through the application.
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(qtArgc, qtArgv);
    return 0;
}
