// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/bmp_picture.h"

#include <QByteArray>

namespace analyser {

namespace {

std::uint32_t U16(std::span<const unsigned char> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8;
}

std::uint32_t U32(std::span<const unsigned char> b, std::size_t at) {
    return U16(b, at) | U16(b, at + 2) << 16;
}

std::int32_t I32(std::span<const unsigned char> b, std::size_t at) {
    return static_cast<std::int32_t>(U32(b, at));
}

constexpr std::uint32_t kUncompressed = 0;
constexpr std::uint32_t kBitFields = 3;

} // namespace

std::optional<BmpGeometry> ReadBmpGeometry(std::span<const unsigned char> head) {
    constexpr std::size_t kFileHeader = 14;
    if (head.size() < kFileHeader + 4 || head[0] != 'B' || head[1] != 'M') return std::nullopt;
    const std::uint64_t dataOffset = U32(head, 10);
    const std::uint32_t infoSize = U32(head, 14);
    const bool os2 = infoSize == 12;
    if (!(os2 || infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 ||
          infoSize == 124))
        return std::nullopt;
    if (head.size() < kFileHeader + infoSize) return std::nullopt;

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t planes = 0;
    std::uint32_t bits = 0;
    std::uint32_t compression = kUncompressed;
    std::uint32_t coloursUsed = 0;
    if (os2) {
        width = U16(head, 18);
        height = U16(head, 20);
        planes = U16(head, 22);
        bits = U16(head, 24);
    } else {
        width = I32(head, 18);
        height = I32(head, 22);
        planes = U16(head, 26);
        bits = U16(head, 28);
        compression = U32(head, 30);
        coloursUsed = U32(head, 46);
    }
    if (planes != 1) return std::nullopt;
    if (!(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32))
        return std::nullopt;
    if (compression == kBitFields) {
        if (bits != 16 && bits != 32) return std::nullopt;
    } else if (compression != kUncompressed) {
        return std::nullopt;
    }
    // A negative height is a top-down file; its size is the same.
    if (height < 0) height = -height;
    if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide)
        return std::nullopt;

    // Everything the reader takes before the pixels: the masks that follow a 40-byte header,
    // then the colour table.
    std::uint64_t headersEnd = kFileHeader + infoSize;
    if (compression == kBitFields && infoSize == 40) headersEnd += 12;
    if (bits <= 8) {
        const std::uint64_t maxColours = 1u << bits;
        if (coloursUsed > maxColours) return std::nullopt;
        const std::uint64_t colours = coloursUsed != 0 ? coloursUsed : maxColours;
        headersEnd += colours * (os2 ? 3 : 4);
    }
    if (dataOffset < headersEnd) return std::nullopt;

    // Rows are padded to whole 32-bit words.
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
    BmpGeometry g;
    g.width = static_cast<std::int32_t>(width);
    g.height = static_cast<std::int32_t>(height);
    g.bytesNeeded = dataOffset + stride * static_cast<std::uint64_t>(height);
    return g;
}

std::optional<QImage> DecodeWholeBmp(std::span<const unsigned char> file) {
    const auto geometry = ReadBmpGeometry(file);
    if (!geometry || file.size() < geometry->bytesNeeded) return std::nullopt;
    // Only the bytes the headers account for are handed on, so the reader's view and ours agree.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(file.data()),
                                                     static_cast<qsizetype>(geometry->bytesNeeded));
    const QImage image = QImage::fromData(bytes, "BMP");
    if (image.isNull() || image.width() != geometry->width || image.height() != geometry->height)
        return std::nullopt;
    // One format for every depth, with every byte of it defined: Qt leaves the row padding of
    // an indexed image unwritten, and an index past a short colour table becomes black here.
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace analyser
