// The sample library's file steps: a sample N is the BMP picture <base>/metals/N plus the
// marker <base>/metals/data/N; listing, saving, deleting and loading them.
#pragma once

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
};

SampleFolders SampleFoldersFor(const std::filesystem::path& base);

// The sample that ships with the program and can be replaced but never deleted.
inline constexpr const char* kProtectedSample = "default noise";

// A name is a bare, visible file name: not empty, not starting with "." (so not "." or ".."
// either), and free of "/", "\", control characters and <>:"|?*. Anything else is refused by
// every step below.
bool IsSafeSampleName(const std::string& name);

// Names of the non-hidden regular files of the data folder that are safe sample names,
// sorted by name ignoring letter case (platform::FileNameLess). A missing or unreadable folder
// lists nothing.
std::vector<std::string> ListSamples(const std::filesystem::path& dataFolder);

// The picture as an uncompressed 24-bit bottom-up BMP file image.
std::vector<char> EncodeBmp24(const QImage& picture);

// Writes bytes to a new file at path; false on failure. Tests inject a failing one.
using FileWriter = std::function<bool(const std::filesystem::path&, std::span<const char>)>;
bool WriteNewFile(const std::filesystem::path& path, std::span<const char> bytes);

// Saves picture as <pictures>/<name> (24-bit BMP) and then the marker <data>/<name> ("null"
// CR LF). Each file is written to a hidden temporary file in its folder and renamed over the
// old one, so a failure at any point keeps the old picture and marker, and a marker is only
// (re)written once its picture is in place. Unsafe names and missing folders save nothing.
// Returns true when both files were written.
bool SaveSample(const SampleFolders& folders, const std::string& name, const QImage& picture,
                const FileWriter& writer = WriteNewFile);

// Removes the marker <data>/<name> (the picture stays). Never removes "default noise"
// (exact, case-sensitive), refuses unsafe names and anything that is not a regular file.
// Returns true when a marker was removed.
bool DeleteSample(const SampleFolders& folders, const std::string& name);

// The picture of a sample, or nullopt when the name is unsafe or the file is missing or not
// an image.
std::optional<QImage> LoadSamplePicture(const SampleFolders& folders, const std::string& name);

} // namespace analyser
