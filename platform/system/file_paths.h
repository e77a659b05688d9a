// SPDX-License-Identifier: GPL-3.0-or-later
// The one crossing between names as the program holds them (UTF-8 strings, QString) and
// std::filesystem paths, so a name such as "Gold €" names the same file on every system.
#pragma once

#include <QString>

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// A UTF-8 name or path as a path. Windows would read a plain std::string in its ANSI code page,
// so the bytes are handed over as UTF-8 explicitly; on Linux the bytes are taken unchanged.
std::filesystem::path PathFromUtf8(std::string_view utf8);

// The path as UTF-8, the inverse of PathFromUtf8; never throws for a name Windows holds.
std::string Utf8FromPath(const std::filesystem::path& path);

// The path as a user reads it in a message: UTF-8 with the system's own separators.
std::string PathForUser(const std::filesystem::path& path);

// The file name as Qt takes it, the same on every system ("/" as the separator).
QString ToQString(const std::filesystem::path& path);

// A file name from Qt (as QDir or QStandardPaths give it) as a path.
std::filesystem::path FromQString(const QString& path);

// Whether the folder's file system takes names that differ only in letter case for one name
// (Windows, macOS) or for different files (Linux). Asked of the folder itself: an entry whose
// name changes with its letter case is looked up under the other spelling; in a folder without
// one, probeName (lower case letters, removed again) is created for the question. When neither
// can be asked, the answer is the system's usual one.
bool FolderIgnoresCase(const std::filesystem::path& folder, std::string_view probeName);

} // namespace platform
