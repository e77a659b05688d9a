// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/sample_library.h"

#include "analyser/bmp_picture.h"
#include "platform/system/file_paths.h"
#include "platform/system/message_box.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;
using platform::PathForUser;
using platform::PathFromUtf8;

namespace analyser {

namespace {

constexpr std::string_view kSavePrefix = ".tonvault-save-";
// Lower-case letters, and a leftover's name should a probe ever be left behind.
constexpr std::string_view kCaseProbe = ".tonvault-save-case-probe.tmp";

bool IsDirectory(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

// The entry itself, never what a link points to.
fs::file_status EntryStatus(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec);
}

bool IsRegularEntry(const fs::path& p) {
    return fs::is_regular_file(EntryStatus(p));
}

// A hidden, unique name in the target's folder, so the rename stays on one file system and
// a half-written file never shows up in the list.
fs::path TemporaryBeside(const fs::path& target) {
    char token[17];
    std::snprintf(token, sizeof token, "%016llx",
                  static_cast<unsigned long long>(QRandomGenerator::global()->generate64()));
    return target.parent_path() / (std::string(kSavePrefix) + token + ".tmp");
}

std::string Where(const fs::path& folder) {
    return " (in " + PathForUser(folder.parent_path()) + ")";
}

// Windows opens a device for these, whatever follows the first dot ("nul.txt", "Com1.bmp") and
// with spaces before it ("nul .txt").
bool IsReservedDeviceName(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    // ASCII letters only: the locale's idea of upper case (a Turkish "i") does not count here.
    std::string upper(stem);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN",    "AUX",
                                                          "NUL", "CONIN$", "CONOUT$"};
    if (std::find(kDevices.begin(), kDevices.end(), upper) != kDevices.end()) return true;
    if (!upper.starts_with("COM") && !upper.starts_with("LPT")) return false;
    const std::string_view number = std::string_view(upper).substr(3);
    // A digit, or the superscripts one to three, which Windows takes for digits here.
    constexpr std::array<std::string_view, 3> kSuperscripts = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
           std::find(kSuperscripts.begin(), kSuperscripts.end(), number) != kSuperscripts.end();
}

bool SameSpellingIgnoringCase(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

// Both names lead to one entry (a case-insensitive folder's spellings of one name).
bool SameEntry(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(a, ec)) && fs::exists(fs::symlink_status(b, ec)) &&
           fs::equivalent(a, b, ec) && !ec;
}

// The name as the folder already spells it: in a case-insensitive library a save under another
// spelling replaces that entry and keeps its name, so "default noise" stays "default noise" for
// a system that compares exactly.
std::string SpellingInFolder(const fs::path& folder, const std::string& name, bool ignoreCase) {
    if (!ignoreCase) return name;
    const fs::path asked = folder / PathFromUtf8(name);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string found = platform::Utf8FromPath(it->path().filename());
        if (found == name) return name;
        if (SameSpellingIgnoringCase(found, name) && SameEntry(it->path(), asked)) return found;
    }
    return name;
}

SaveResult Failed(std::string reason) {
    return {SaveStatus::Failed, std::move(reason)};
}

// A temporary file holding bytes beside target, removed again unless Keep() is called.
class StagedFile {
public:
    StagedFile(const fs::path& target, std::span<const char> bytes, const FileWriter& writer)
        : path_(TemporaryBeside(target)) {
        failure_ = writer(path_, bytes);
    }
    ~StagedFile() {
        if (!kept_) {
            std::error_code ignored;
            fs::remove(path_, ignored);
        }
    }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Empty once the bytes are on disk.
    const std::string& Failure() const { return failure_; }
    const fs::path& Path() const { return path_; }
    void Keep() { kept_ = true; }
    // The file that is replaced keeps its mode (a group-writable library stays so). Windows
    // keeps no mode but read-only, and that would stop both the rename over the old file and the
    // removal of this one; there a read-only sample is refused by the rename instead.
    void TakePermissionsOf([[maybe_unused]] const fs::path& old) {
#ifndef _WIN32
        std::error_code ec;
        const fs::file_status status = fs::status(old, ec);
        if (!ec) fs::permissions(path_, status.permissions(), fs::perm_options::replace, ec);
#endif
    }

private:
    fs::path path_;
    std::string failure_;
    bool kept_ = false;
};

} // namespace

SampleFolders SampleFoldersFor(const fs::path& base) {
    return {base / "metals" / "", base / "metals" / "data" / "", std::nullopt};
}

bool IsSafeSampleName(const std::string& name) {
    // A leading dot would make a hidden file: saved, yet never listed, and in the namespace of
    // our own temporary files.
    if (name.empty() || name.front() == '.') return false;
    constexpr std::string_view kForbidden = "/\\<>:\"|?*";
    for (const char ch : name) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u == 0x7F) return false;
        if (kForbidden.find(ch) != std::string_view::npos) return false;
    }
    // Windows drops a trailing dot or space, so the file would have another name there.
    if (name.back() == '.' || name.back() == ' ') return false;
    return !IsReservedDeviceName(name);
}

bool NamesIgnoreCase(const SampleFolders& folders) {
    if (folders.namesIgnoreCase) return *folders.namesIgnoreCase;
    return platform::FolderIgnoresCase(folders.data, kCaseProbe);
}

bool IsProtectedSample(const SampleFolders& folders, const std::string& name) {
    if (name == kProtectedSample) return true;
    if (!NamesIgnoreCase(folders)) return false;
    // The file system's folding may reach further than Qt's; then the entry itself tells.
    return SameSpellingIgnoringCase(name, kProtectedSample) ||
           SameEntry(folders.data / PathFromUtf8(name), folders.data / kProtectedSample);
}

bool IsListedSample(const fs::path& dataFolder, const std::string& name) {
    return IsSafeSampleName(name) && IsRegularEntry(dataFolder / PathFromUtf8(name));
}

std::vector<char> EncodeBmp24(const QImage& picture) {
    // Qt writes an opaque 32-bit image as an uncompressed 24-bit bottom-up BMP; it is encoded in
    // memory so that it can be written through the staged, injectable file steps below.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) ||
        !picture.convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP"))
        return {};
    return std::vector<char>(bytes.cbegin(), bytes.cend());
}

SaveResult SaveSample(const SampleFolders& folders, const std::string& name, const QImage& picture,
                      const FileWriter& writer) {
    if (!IsSafeSampleName(name) || picture.isNull()) return {};
    for (const fs::path* folder : {&folders.pictures, &folders.data})
        if (!IsDirectory(*folder))
            return Failed("the folder " + PathForUser(folder->parent_path()) + " does not exist");

    const bool ignoreCase = NamesIgnoreCase(folders);
    const fs::path picturePath =
        folders.pictures / PathFromUtf8(SpellingInFolder(folders.pictures, name, ignoreCase));
    const fs::path markerPath =
        folders.data / PathFromUtf8(SpellingInFolder(folders.data, name, ignoreCase));
    // A link is replaced by nothing and followed by nothing; a folder or device is not ours.
    const bool hadPicture = fs::exists(EntryStatus(picturePath));
    const bool hadMarker = fs::exists(EntryStatus(markerPath));
    for (const auto& [had, path] : {std::pair{hadPicture, &picturePath}, {hadMarker, &markerPath}})
        if (had && !IsRegularEntry(*path))
            return Failed(PathForUser(*path) + " is not a regular file");
    static constexpr char kMarker[] = {'n', 'u', 'l', 'l', '\r', '\n'};

    const std::vector<char> bmp = EncodeBmp24(picture);
    if (bmp.empty()) return Failed("the picture could not be encoded");
    // Both files are complete on disk before anything old is touched; what can still fail
    // afterwards is a rename, and that is undone so the old sample survives whole.
    StagedFile newPicture(picturePath, bmp, writer);
    if (!newPicture.Failure().empty()) return Failed(newPicture.Failure() + Where(picturePath));
    StagedFile newMarker(markerPath, kMarker, writer);
    if (!newMarker.Failure().empty()) return Failed(newMarker.Failure() + Where(markerPath));
    if (hadPicture) newPicture.TakePermissionsOf(picturePath);
    if (hadMarker) newMarker.TakePermissionsOf(markerPath);

    std::error_code ec;
    const fs::path backup = TemporaryBeside(picturePath);
    if (hadPicture) {
        fs::create_hard_link(picturePath, backup, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(picturePath, backup, ec);
            if (ec) {
                std::error_code ignored;
                fs::remove(backup, ignored);
                return Failed(ec.message() + Where(picturePath));
            }
        }
    }

    fs::rename(newPicture.Path(), picturePath, ec);
    if (ec) {
        std::error_code ignored;
        if (hadPicture) fs::remove(backup, ignored);
        return Failed(ec.message() + Where(picturePath));
    }
    newPicture.Keep();

    fs::rename(newMarker.Path(), markerPath, ec);
    std::error_code ignored;
    if (ec) {
        if (hadPicture) {
            fs::rename(backup, picturePath, ignored);
        } else {
            fs::remove(picturePath, ignored);
        }
        return Failed(ec.message() + Where(markerPath));
    }
    newMarker.Keep();
    if (hadPicture) fs::remove(backup, ignored);
    return {SaveStatus::Saved, {}};
}

bool DeleteSample(const SampleFolders& folders, const std::string& name) {
    if (!IsSafeSampleName(name) || IsProtectedSample(folders, name)) return false;
    const fs::path marker = folders.data / PathFromUtf8(name);
    if (!IsRegularEntry(marker)) return false;
    std::error_code ec;
    if (!fs::remove(marker, ec) || ec) return false;
    // The marker first: should the picture then refuse to go, the sample is merely unlisted, never
    // listed without its picture.
    const fs::path picture = folders.pictures / PathFromUtf8(name);
    if (IsRegularEntry(picture)) fs::remove(picture, ec);
    return true;
}

std::optional<QImage> LoadSamplePicture(const SampleFolders& folders, const std::string& name) {
    if (!IsSafeSampleName(name)) return std::nullopt;
    const fs::path path = folders.pictures / PathFromUtf8(name);
    if (!IsRegularEntry(path)) return std::nullopt;
    QFile file(platform::ToQString(path));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    // The headers say how much to read; a file that claims more than it holds is refused before
    // anything of that size is reserved.
    const QByteArray head = file.read(static_cast<qint64>(kBmpHeadBytes));
    const auto bytes = [](const QByteArray& a) {
        return std::span(reinterpret_cast<const unsigned char*>(a.constData()),
                         static_cast<std::size_t>(a.size()));
    };
    const auto geometry = ReadBmpGeometry(bytes(head));
    if (!geometry || static_cast<std::uint64_t>(file.size()) < geometry->bytesNeeded)
        return std::nullopt;
    if (!file.seek(0)) return std::nullopt;
    const QByteArray whole = file.read(static_cast<qint64>(geometry->bytesNeeded));
    return DecodeWholeBmp(bytes(whole));
}

std::string SaveFailureText(const std::string& name, const std::string& reason) {
    return "The sample \"" + name + "\" was not saved: " + reason +
           ".\n\nA sample saved before under this name is kept as it was.";
}

bool IsLeftoverSaveName(const std::string& name) {
    return name.size() > kSavePrefix.size() && name.starts_with(kSavePrefix);
}

int RemoveLeftoverSaves(const SampleFolders& folders) {
    int removed = 0;
    for (const fs::path& folder : {folders.pictures, folders.data}) {
        std::error_code ec;
        std::vector<fs::path> leftovers;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (IsLeftoverSaveName(platform::Utf8FromPath(it->path().filename())) &&
                IsRegularEntry(it->path()))
                leftovers.push_back(it->path());
        for (const fs::path& p : leftovers) removed += fs::remove(p, ec) ? 1 : 0;
    }
    return removed;
}

} // namespace analyser
