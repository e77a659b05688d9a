// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/library_location.h"

#include "analyser/sample_library.h"
#include "platform/system/file_paths.h"

#include <QFileInfo>

#include <system_error>

namespace fs = std::filesystem;

namespace analyser {

namespace {

bool IsWritableFolder(const fs::path& p) {
    const QFileInfo info(platform::ToQString(p));
    return info.isDir() && info.isWritable();
}

bool IsRegularEntry(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(p, ec));
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

bool CopyForUser(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (!fs::copy_file(from, to, fs::copy_options::none, ec) || ec) return false;
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
    return true;
}

} // namespace

fs::path ChooseLibraryBase(const fs::path& programDir, const fs::path& userDataDir) {
    const SampleFolders beside = SampleFoldersFor(programDir);
    if (userDataDir.empty() || (IsWritableFolder(beside.pictures) && IsWritableFolder(beside.data)))
        return programDir;
    return userDataDir;
}

fs::path ShippedLibraryBase(const fs::path& programDir) {
    return (programDir / ".." / "share" / "tonvault").lexically_normal();
}

bool PrepareLibrary(const fs::path& base, const fs::path& shippedBase) {
    const SampleFolders mine = SampleFoldersFor(base);
    std::error_code ec;
    fs::create_directories(mine.data, ec);
    const SampleFolders theirs = SampleFoldersFor(shippedBase);
    // A sample is listed by its marker, so the picture goes first.
    for (fs::directory_iterator it(theirs.data, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path name = it->path().filename();
        if (!IsSafeSampleName(platform::Utf8FromPath(name)) || !IsRegularEntry(it->path()) ||
            !IsRegularEntry(theirs.pictures / name))
            continue;
        if (Exists(mine.pictures / name) || Exists(mine.data / name)) continue;
        if (CopyForUser(theirs.pictures / name, mine.pictures / name) &&
            !CopyForUser(it->path(), mine.data / name)) {
            std::error_code ignored;
            fs::remove(mine.pictures / name, ignored);
        }
    }
    return fs::is_directory(mine.pictures, ec) && fs::is_directory(mine.data, ec);
}

} // namespace analyser
