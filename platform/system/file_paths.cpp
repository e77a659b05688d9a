// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/file_paths.h"

#include <QFile>

#include <system_error>

namespace fs = std::filesystem;

namespace platform {

namespace {

// Each letter in the other case; other characters as they are.
QString SwapCase(const QString& name) {
    QString swapped = name;
    for (QChar& ch : swapped) ch = ch.isLower() ? ch.toUpper() : ch.toLower();
    return swapped;
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

// Only plain files and folders answer: two links may well point at one file on any system.
bool IsPlainEntry(const fs::directory_entry& e) {
    std::error_code ec;
    const fs::file_status s = e.symlink_status(ec);
    return !ec && (fs::is_regular_file(s) || fs::is_directory(s));
}

constexpr bool kSystemIgnoresCase =
#if defined(_WIN32) || defined(__APPLE__)
    true;
#else
    false;
#endif

} // namespace

fs::path PathFromUtf8(std::string_view utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8FromPath(const fs::path& path) {
    try {
        const std::u8string u8 = path.u8string();
        return std::string(reinterpret_cast<const char*>(u8.data()), u8.size());
    } catch (const std::exception&) {
        // A Windows name with a lone surrogate has no UTF-8 form; Qt shows it with a
        // replacement character, and so does this.
        return ToQString(path).toStdString();
    }
}

std::string PathForUser(const fs::path& path) {
    fs::path shown = path;
    return Utf8FromPath(shown.make_preferred());
}

QString ToQString(const fs::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.generic_wstring());
#else
    // Qt's own decoding of file names, which never fails on bytes that are not UTF-8.
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

fs::path FromQString(const QString& path) {
#ifdef _WIN32
    return fs::path(path.toStdWString());
#else
    return fs::path(QFile::encodeName(path).toStdString());
#endif
}

bool FolderIgnoresCase(const fs::path& folder, std::string_view probeName) {
    std::error_code ec;
    // A few entries are enough: the first whose name has letters answers.
    int asked = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && asked < 64;
         it.increment(ec), ++asked) {
        if (!IsPlainEntry(*it)) continue;
        const QString name = ToQString(it->path().filename());
        const QString swapped = SwapCase(name);
        if (swapped == name) continue;
        const fs::path other = folder / FromQString(swapped);
        if (!Exists(other)) return false;
        std::error_code same;
        return fs::equivalent(it->path(), other, same) && !same;
    }

    const fs::path probe = folder / PathFromUtf8(probeName);
    QFile made(ToQString(probe));
    if (!made.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return kSystemIgnoresCase;
    made.close();
    const fs::path other = folder / FromQString(SwapCase(ToQString(probe.filename())));
    const bool ignores = other.filename() != probe.filename() && Exists(other);
    std::error_code ignored;
    fs::remove(probe, ignored);
    return ignores;
}

} // namespace platform
