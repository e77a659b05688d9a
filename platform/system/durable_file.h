// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a new file so that it is either absent or whole on disk, on any system Qt runs on.
#pragma once

#include "platform/system/file_paths.h"

#include <filesystem>
#include <span>
#include <string>

namespace platform {

// Creates path, which must not exist yet (an existing file of that name is never touched, so
// two writers cannot share a name), and fills it with bytes through a temporary file beside it
// that is flushed to the disk and then renamed into place. Returns an empty string on success,
// otherwise the system's reason ("No space left on device"); a failure may leave path as an
// empty file, for the caller to remove.
std::string WriteNewFileDurably(const std::filesystem::path& path, std::span<const char> bytes);

} // namespace platform
