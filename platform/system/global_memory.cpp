// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/global_memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace platform {
namespace {
std::mutex blocksMutex;
std::unordered_set<void*>& liveBlocks() {
    static std::unordered_set<void*> blocks;
    return blocks;
}
} // namespace

HGLOBAL GlobalAlloc(std::uint32_t flags, std::size_t bytes) {
    if (bytes == 0) return nullptr;
    void* block = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
    if (!block) return nullptr;
    std::lock_guard lock(blocksMutex);
    liveBlocks().insert(block);
    return block;
}

void* GlobalLock(HGLOBAL block) {
    std::lock_guard lock(blocksMutex);
    return liveBlocks().count(block) ? block : nullptr;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    {
        std::lock_guard lock(blocksMutex);
        if (!block || liveBlocks().erase(block) == 0) return block;
    }
    std::free(block);
    return nullptr;
}

void RtlMoveMemory(void* destination, const void* source, std::size_t bytes) {
    if (bytes) std::memmove(destination, source, bytes);
}

std::size_t GlobalBlocksInUse() {
    std::lock_guard lock(blocksMutex);
    return liveBlocks().size();
}

} // namespace platform
