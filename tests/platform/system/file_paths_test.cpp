// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/file_paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace platform;

namespace {

const char* const kNames[] = {"Gold €", "gold-ä-ж", "plain", "日本"};

TEST(FilePaths, Utf8NamesRoundTripAndAreTheSystemsOwnCharacters) {
    for (const char* name : kNames) {
        const fs::path p = PathFromUtf8(name);
        EXPECT_EQ(Utf8FromPath(p), name);
        EXPECT_EQ(ToQString(p), QString::fromUtf8(name)) << name;
        EXPECT_EQ(FromQString(QString::fromUtf8(name)), p) << name;
    }
#ifdef _WIN32
    EXPECT_EQ(PathFromUtf8("Gold €").native(), std::wstring(L"Gold \u20AC"));
    EXPECT_EQ(PathFromUtf8("gold-ä-ж").native(), std::wstring(L"gold-\u00E4-\u0436"));
#else
    // Linux takes the bytes as they are, whether they are UTF-8 or not.
    EXPECT_EQ(PathFromUtf8("Gold €").native(), "Gold €");
    const std::string notUtf8 = "a\xff\xfe"
                                "b";
    EXPECT_EQ(PathFromUtf8(notUtf8).native(), notUtf8);
    EXPECT_EQ(Utf8FromPath(fs::path(notUtf8)), notUtf8);
    EXPECT_NO_THROW(ToQString(fs::path(notUtf8)));
#endif
}

TEST(FilePaths, QtSeesForwardSlashesAndUsersTheSystemsSeparators) {
    const fs::path p = PathFromUtf8("top") / PathFromUtf8("Gold €") / "data";
    EXPECT_EQ(ToQString(p), QString::fromUtf8("top/Gold €/data"));
    EXPECT_EQ(FromQString(QString::fromUtf8("top/Gold €/data")).lexically_normal(),
              p.lexically_normal());
#ifdef _WIN32
    EXPECT_EQ(PathForUser(PathFromUtf8("C:/x/Gold €") / "data"), "C:\\x\\Gold €\\data");
#else
    EXPECT_EQ(PathForUser(PathFromUtf8("/x/Gold €") / "data"), "/x/Gold €/data");
#endif
}

TEST(FilePaths, AFileQtMadeIsFoundByItsUtf8NameAndTheOtherWayRound) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const fs::path dir = FromQString(tmp.path());
    for (const char* name : kNames) {
        QFile made(tmp.path() + "/" + QString::fromUtf8(name));
        ASSERT_TRUE(made.open(QIODevice::WriteOnly)) << name;
        made.close();
        EXPECT_TRUE(fs::is_regular_file(dir / PathFromUtf8(name))) << name;
    }
    std::ofstream(dir / PathFromUtf8("Münze")) << "x";
    EXPECT_TRUE(QFile::exists(tmp.path() + QString::fromUtf8("/Münze")));
    int seen = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = Utf8FromPath(e.path().filename());
        EXPECT_TRUE(QFile::exists(tmp.path() + "/" + QString::fromStdString(name))) << name;
        ++seen;
    }
    EXPECT_EQ(seen, 5);
}

// Whether two spellings of a name reach one file, asked of Qt directly.
bool QtSeesOneFileForTwoSpellings(const QString& folder) {
    QFile probe(folder + "/case-check");
    if (!probe.open(QIODevice::WriteOnly)) return false;
    probe.close();
    const bool same = QFile::exists(folder + "/CASE-CHECK");
    probe.remove();
    return same;
}

TEST(FilePaths, AFoldersCaseSensitivityIsAskedOfTheFolderItself) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const bool expected = QtSeesOneFileForTwoSpellings(tmp.path());
    const fs::path dir = FromQString(tmp.path());
    const auto entries = [&](const fs::path& folder) {
        return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    };

    // An empty folder, then one without letters: the probe is made and removed again.
    EXPECT_EQ(FolderIgnoresCase(dir, ".probe-name"), expected);
    EXPECT_EQ(entries(dir), 0);
    std::ofstream(dir / "1234") << "";
    EXPECT_EQ(FolderIgnoresCase(dir, ".probe-name"), expected);
    EXPECT_EQ(entries(dir), 1);

    // A name with letters answers by its other spelling.
    std::ofstream(dir / PathFromUtf8("Gold €")) << "";
    EXPECT_EQ(FolderIgnoresCase(dir, ".probe-name"), expected);
    EXPECT_EQ(entries(dir), 2);
    if (!expected) {
        // Two files whose names differ only in case are two files, not one answered twice.
        std::ofstream(dir / PathFromUtf8("GOLD €")) << "";
        std::ofstream(dir / PathFromUtf8("gOLD €")) << "";
        EXPECT_FALSE(FolderIgnoresCase(dir, ".probe-name"));
    }
#ifdef _WIN32
    EXPECT_TRUE(expected) << "Windows folders take names without regard to case";
#endif
    // A folder that cannot be asked gets the system's usual answer.
#if defined(_WIN32) || defined(__APPLE__)
    EXPECT_TRUE(FolderIgnoresCase(dir / "missing", ".probe-name"));
#else
    EXPECT_FALSE(FolderIgnoresCase(dir / "missing", ".probe-name"));
#endif
}

} // namespace
