// SPDX-License-Identifier: GPL-3.0-or-later
// Fixed global memory blocks and the block copy, as the capture module uses them.
// Blocks are counted so tests can check that everything allocated was released.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

using HGLOBAL = void*;

constexpr std::uint32_t GMEM_FIXED = 0x0000;
constexpr std::uint32_t GMEM_ZEROINIT = 0x0040;

// A fixed block of `bytes` bytes (zeroed with GMEM_ZEROINIT); nullptr when out of memory or
// when bytes is 0. For fixed blocks the handle is the address.
HGLOBAL GlobalAlloc(std::uint32_t flags, std::size_t bytes);
// The block's address; nullptr for a handle that is not a live block.
void* GlobalLock(HGLOBAL block);
// Releases a live block and returns nullptr; returns the handle unchanged (and frees nothing)
// when it is not a live block, so a double free is refused instead of corrupting the heap.
HGLOBAL GlobalFree(HGLOBAL block);
// memmove: the ranges may overlap.
void RtlMoveMemory(void* destination, const void* source, std::size_t bytes);

// Number of blocks allocated and not yet freed.
std::size_t GlobalBlocksInUse();

} // namespace platform
