// SPDX-License-Identifier: GPL-3.0-or-later
// The sample library's file steps: a sample N is the BMP picture <base>/metals/N plus the
// marker <base>/metals/data/N; listing, saving, deleting and loading them.
#pragma once

#include "platform/system/durable_file.h"

#include <QImage>

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace analyser {

struct SampleFolders {
    std::filesystem::path pictures; // <base>/metals/
    std::filesystem::path data;     // <base>/metals/data/
    // Whether the folders take names that differ only in letter case for one name; unset, the
    // data folder is asked (platform::FolderIgnoresCase) whenever it matters.
    std::optional<bool> namesIgnoreCase;
};

SampleFolders SampleFoldersFor(const std::filesystem::path& base);

// The sample that ships with the program and can be replaced but never deleted.
inline constexpr const char* kProtectedSample = "default noise";

// Names and paths are UTF-8 (as the window hands them) and name the same files on every system.

// A name is a bare, visible file name: not empty, not starting with "." (so not "." or ".."
// either), and free of "/", "\", control characters and <>:"|?*. So that a library can move
// between systems, names Windows reserves for devices (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9,
// with or without an extension, in any case) or would alter (a trailing "." or " ") are refused on
// every system. Anything refused here is refused by every step below.
bool IsSafeSampleName(const std::string& name);

// Whether the folders take names differing only in letter case for one name.
bool NamesIgnoreCase(const SampleFolders& folders);

// Whether name is the protected sample as the file system names it: exactly "default noise" in a
// case-sensitive library; in a case-insensitive one, any spelling of it ("Default Noise").
bool IsProtectedSample(const SampleFolders& folders, const std::string& name);

// Whether File1 lists a marker: a safe name whose <data>/name is a regular file itself, not a
// link (which could lead out of the library), a folder or a device.
bool IsListedSample(const std::filesystem::path& dataFolder, const std::string& name);

// The picture as an uncompressed 24-bit bottom-up BMP file image.
std::vector<char> EncodeBmp24(const QImage& picture);

// Writes bytes to a new file at path; returns an empty string on success, otherwise why it
// failed. Tests inject failing ones.
using FileWriter = std::function<std::string(const std::filesystem::path&, std::span<const char>)>;

enum class SaveStatus {
    Saved,
    Refused, // nothing was attempted: an unsafe name or no picture
    Failed,  // the file system refused; the old sample is as it was
};

struct SaveResult {
    SaveStatus status = SaveStatus::Refused;
    std::string reason; // for Failed: what went wrong, in words for the user
    explicit operator bool() const { return status == SaveStatus::Saved; }
};

// Saves picture as <pictures>/<name> (24-bit BMP) and then the marker <data>/<name> ("null"
// CR LF). Each file is written to a hidden temporary file in its folder and renamed over the
// old one, so a failure at any point keeps the old picture and marker, and a marker is only
// (re)written once its picture is in place. A replaced file keeps its permissions, and in a
// case-insensitive library its spelling ("Default Noise" replaces the files of "default noise").
// Unsafe names are Refused; missing folders, a target that is not a regular file and every
// refusal of the file system are Failed.
SaveResult SaveSample(const SampleFolders& folders, const std::string& name, const QImage& picture,
                      const FileWriter& writer = platform::WriteNewFileDurably);

// The message shown when a save Failed.
std::string SaveFailureText(const std::string& name, const std::string& reason);

// Removes the marker <data>/<name> and then whatever regular file stands at <pictures>/<name>,
// readable or not, so a deleted sample leaves nothing behind. Never removes the protected sample
// (IsProtectedSample), refuses unsafe names, and never removes or follows what is not a regular
// file (a link, a folder, a device) in either place. Without a marker nothing is removed: the
// picture of a sample that is not listed is not the library's to remove. Returns true when a
// marker was removed.
bool DeleteSample(const SampleFolders& folders, const std::string& name);

// The picture of a sample, or nullopt when the name is unsafe, the file is missing, not a
// regular file, or not a whole BMP picture (DecodeWholeBmp).
std::optional<QImage> LoadSamplePicture(const SampleFolders& folders, const std::string& name);

// The hidden temporary files a save makes; an interrupted save leaves them behind.
bool IsLeftoverSaveName(const std::string& name);

// Removes the regular files of both folders that IsLeftoverSaveName names. Returns how many.
int RemoveLeftoverSaves(const SampleFolders& folders);

} // namespace analyser
