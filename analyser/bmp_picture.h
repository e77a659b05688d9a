// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding a sample's BMP picture only when the file holds every pixel its headers promise.
// Qt's reader returns an image for a cut-off file and leaves the missing rows as whatever the
// allocator handed out (rows of the picture shown before, seen in practice), so the headers'
// own geometry is checked against the bytes first.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace analyser {

// The largest picture side accepted; a sample is 780 x 228.
inline constexpr std::int32_t kMaxPictureSide = 8192;

// Enough leading bytes to hold the file header and any info header we read.
inline constexpr std::size_t kBmpHeadBytes = 14 + 124 + 12;

struct BmpGeometry {
    std::int32_t width = 0;
    std::int32_t height = 0;       // rows, always positive (top-down files too)
    std::uint64_t bytesNeeded = 0; // pixel data offset + row stride x rows
};

// The geometry of a BMP whose headers are of a kind read here: an OS/2 (12-byte) or Windows
// (40, 52, 56, 108 or 124-byte) info header, 1, 4, 8, 16, 24 or 32 bits per pixel, uncompressed
// or (16 and 32 bits) with bit-field masks, a colour table of at most 2^bits entries that ends
// before the pixel data, and sides of 1 to kMaxPictureSide. nullopt for anything else
// (run-length, JPEG or PNG compression among them) or when head is too short for the headers.
std::optional<BmpGeometry> ReadBmpGeometry(std::span<const unsigned char> head);

// The picture in file as an RGB32 image, or nullopt unless its geometry is read and the file holds
// all bytesNeeded bytes and Qt decodes exactly that size. Never allocates more than the picture the
// file really holds.
std::optional<QImage> DecodeWholeBmp(std::span<const unsigned char> file);

} // namespace analyser
