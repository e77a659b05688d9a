// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/sample_library.h"

#include "analyser/bmp_picture.h"
#include "platform/system/file_paths.h"
#include "platform/ui/controls.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

using namespace analyser;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

// A picture whose every pixel differs from its neighbours, so a swapped row, column or
// channel cannot go unnoticed.
QImage Pattern(int w, int h, int seed) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(
                x, y,
                qRgb((x * 7 + seed) & 0xFF, (y * 13 + seed * 3) & 0xFF, (x * y + seed * 5) & 0xFF));
    return img;
}

bool SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF)) return false;
    return true;
}

// Every path under root with its content ("<dir>" for folders).
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = platform::Utf8FromPath(fs::relative(e.path(), root));
        files[rel] = e.is_directory() ? "<dir>" : ReadAll(e.path());
    }
    return files;
}

// What the window's list shows of a data folder: the file list box with the window's filter.
std::vector<std::string> Listed(const fs::path& data) {
    platform::FileListBox box(nullptr);
    box.setFilter([&](const std::string& name) { return IsListedSample(data, name); });
    box.setPath(platform::ToQString(data));
    std::vector<std::string> names;
    for (int i = 0; i < box.ListCount(); ++i) names.push_back(box.List(i).toStdString());
    return names;
}

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        base_ = platform::FromQString(tmp_.path());
        folders_ = SampleFoldersFor(base_);
        fs::create_directories(folders_.data);
    }
    QTemporaryDir tmp_;
    fs::path base_;
    SampleFolders folders_;
};

const std::string kMarker("null\r\n", 6);

} // namespace

TEST_F(Library, SaveWritesA24BitPictureAndTheMarker) {
    const QImage waterfall = Pattern(780, 228, 1);
    ASSERT_TRUE(SaveSample(folders_, "Kupfer 5ct", waterfall));
    EXPECT_EQ(folders_.pictures, base_ / "metals" / "");
    EXPECT_EQ(ReadAll(folders_.data / "Kupfer 5ct"), kMarker);

    const std::string bmp = ReadAll(folders_.pictures / "Kupfer 5ct");
    ASSERT_EQ(bmp.size(), 54u + 780u * 3u * 228u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<unsigned char>(bmp[28]), 24u); // bits per pixel

    const auto loaded = LoadSamplePicture(folders_, "Kupfer 5ct");
    ASSERT_TRUE(loaded.has_value());
    EXPECT_TRUE(SamePixels(*loaded, waterfall));
    EXPECT_EQ(Listed(folders_.data), std::vector<std::string>{"Kupfer 5ct"});
}

TEST_F(Library, NamesBeyondAsciiNameTheirFilesAndRoundTrip) {
    const std::string names[] = {"Gold €", "gold-ä-ж"};
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(SaveSample(folders_, names[i], Pattern(5, 3, i))) << i;
    EXPECT_EQ(Listed(folders_.data), (std::vector<std::string>{"Gold €", "gold-ä-ж"}));
    // The names as the system's own listing spells them (UTF-16 on Windows, where a name taken
    // in the ANSI code page would come out as other characters or not at all).
    const QStringList onDisk{QString::fromUtf8("Gold €"), QString::fromUtf8("gold-ä-ж")};
    EXPECT_EQ(QDir(platform::ToQString(folders_.pictures)).entryList(QDir::Files, QDir::Name),
              onDisk);
    EXPECT_EQ(QDir(platform::ToQString(folders_.data)).entryList(QDir::Files, QDir::Name), onDisk);
    for (int i = 0; i < 2; ++i) {
        const auto loaded = LoadSamplePicture(folders_, names[i]);
        ASSERT_TRUE(loaded.has_value()) << i;
        EXPECT_TRUE(SamePixels(*loaded, Pattern(5, 3, i))) << i;
        const fs::path marker = folders_.data / platform::PathFromUtf8(names[i]);
        EXPECT_EQ(fs::file_size(marker), 6u) << "\"null\" CR LF, never a text-mode CR CR LF";
        EXPECT_EQ(ReadAll(marker), kMarker) << i;
    }
    EXPECT_TRUE(DeleteSample(folders_, "gold-ä-ж"));
    EXPECT_EQ(Listed(folders_.data), std::vector<std::string>{"Gold €"});
    EXPECT_FALSE(fs::exists(folders_.pictures / platform::PathFromUtf8("gold-ä-ж")));
    EXPECT_TRUE(fs::exists(folders_.pictures / platform::PathFromUtf8("Gold €")));
}

TEST_F(Library, OddWidthsRoundTripWithRowPadding) {
    for (int w : {1, 2, 3, 5}) {
        const QImage img = Pattern(w, 3, w);
        ASSERT_TRUE(SaveSample(folders_, "w" + std::to_string(w), img));
        const auto loaded = LoadSamplePicture(folders_, "w" + std::to_string(w));
        ASSERT_TRUE(loaded.has_value()) << w;
        EXPECT_TRUE(SamePixels(*loaded, img)) << w;
    }
}

TEST_F(Library, ReplaceDeleteAndSaveAgain) {
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(10, 4, 1)));
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(10, 4, 2)));
    EXPECT_EQ(Listed(folders_.data), std::vector<std::string>{"coin"});
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "coin"), Pattern(10, 4, 2)));

    EXPECT_TRUE(DeleteSample(folders_, "coin"));
    EXPECT_TRUE(Listed(folders_.data).empty());
    EXPECT_FALSE(fs::exists(folders_.pictures / "coin")) << "the picture goes with its marker";
    EXPECT_FALSE(DeleteSample(folders_, "coin")); // already gone: nothing happens

    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(10, 4, 3)));
    EXPECT_EQ(Listed(folders_.data), std::vector<std::string>{"coin"});
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "coin"), Pattern(10, 4, 3)));
}

TEST_F(Library, DeleteRemovesWhateverRegularFileHoldsThePictureAndNothingElse) {
    const std::vector<char> bmp = EncodeBmp24(Pattern(20, 20, 4));
    const std::map<std::string, std::string> pictures = {
        {"empty", ""},
        {"cut", std::string(bmp.data(), 100)},
        {"text", "not a picture"},
        {"whole", std::string(bmp.data(), bmp.size())},
    };
    for (const auto& [name, bytes] : pictures) {
        WriteAll(folders_.pictures / name, bytes);
        WriteAll(folders_.data / name, kMarker);
    }
    WriteAll(folders_.data / "no picture", kMarker);
    // A folder under the picture's name is not the sample's file, nor is anything inside it.
    fs::create_directories(folders_.pictures / "folder");
    WriteAll(folders_.pictures / "folder" / "inside", "keep");
    WriteAll(folders_.data / "folder", kMarker);
    // A picture without its marker is not a listed sample: not the library's to remove.
    WriteAll(folders_.pictures / "unlisted", "keep");

    for (const auto& [name, bytes] : pictures) {
        EXPECT_TRUE(DeleteSample(folders_, name)) << name;
        EXPECT_FALSE(fs::exists(fs::symlink_status(folders_.pictures / name))) << name;
        EXPECT_FALSE(fs::exists(folders_.data / name)) << name;
    }
    EXPECT_TRUE(DeleteSample(folders_, "no picture"));
    EXPECT_TRUE(DeleteSample(folders_, "folder"));
    EXPECT_FALSE(DeleteSample(folders_, "unlisted"));
    EXPECT_TRUE(Listed(folders_.data).empty());
    EXPECT_EQ(Snapshot(folders_.pictures),
              (std::map<std::string, std::string>{
                  {"data", "<dir>"},
                  {"folder", "<dir>"},
                  {platform::Utf8FromPath(fs::path("folder") / "inside"), "keep"},
                  {"unlisted", "keep"}}));
}

TEST_F(Library, ProtectedSampleCanBeReplacedButNotDeleted) {
    if (NamesIgnoreCase(folders_))
        GTEST_SKIP() << "this folder cannot hold \"Default Noise\" beside \"default noise\" "
                        "(Windows, macOS); AnotherSpellingReplacesTheProtectedSample... covers it";
    ASSERT_TRUE(SaveSample(folders_, "default noise", Pattern(8, 8, 1)));
    ASSERT_TRUE(SaveSample(folders_, "default noise", Pattern(8, 8, 9)));
    EXPECT_FALSE(DeleteSample(folders_, "default noise"));
    EXPECT_EQ(ReadAll(folders_.data / "default noise"), kMarker);
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "default noise"), Pattern(8, 8, 9)));

    ASSERT_TRUE(SaveSample(folders_, "Default Noise", Pattern(8, 8, 2)));
    EXPECT_TRUE(DeleteSample(folders_, "Default Noise"));
    EXPECT_EQ(Listed(folders_.data), std::vector<std::string>{"default noise"});
    EXPECT_FALSE(fs::exists(folders_.pictures / "Default Noise"));
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "default noise"), Pattern(8, 8, 9)));
}

TEST_F(Library, NoSpellingDeletesTheProtectedSampleWhereNamesIgnoreCase) {
    SampleFolders folders = folders_;
    folders.namesIgnoreCase = true; // as on Windows and macOS, whatever this folder does
    ASSERT_TRUE(SaveSample(folders, "default noise", Pattern(8, 8, 1)));
    // Here a second file where the file system tells them apart, the same file where it does not:
    // either way it must stay.
    ASSERT_TRUE(SaveSample(folders, "Default Noise", Pattern(8, 8, 2)));
    for (const char* spelling :
         {"default noise", "Default Noise", "DEFAULT NOISE", "dEfAuLt nOiSe"}) {
        EXPECT_TRUE(IsProtectedSample(folders, spelling)) << spelling;
        EXPECT_FALSE(DeleteSample(folders, spelling)) << spelling;
    }
    EXPECT_EQ(ReadAll(folders_.data / "default noise"), kMarker);
    EXPECT_EQ(ReadAll(folders_.data / "Default Noise"), kMarker);
    EXPECT_FALSE(IsProtectedSample(folders, "default noise 2"));
    EXPECT_FALSE(IsProtectedSample(folders, "defaultnoise"));
    // Any other sample goes, whatever its case.
    ASSERT_TRUE(SaveSample(folders, "Coin", Pattern(8, 8, 3)));
    EXPECT_TRUE(DeleteSample(folders, "Coin"));

    // Where names are told apart by case, only the exact name is protected.
    folders.namesIgnoreCase = false;
    EXPECT_TRUE(IsProtectedSample(folders, "default noise"));
    EXPECT_FALSE(IsProtectedSample(folders, "Default Noise"));
    EXPECT_FALSE(IsProtectedSample(folders, "DEFAULT NOISE"));
}

TEST_F(Library, ASaveUnderAnotherSpellingOfAnEntryWritesItUnderTheFoldersSpelling) {
    if (NamesIgnoreCase(folders_))
        GTEST_SKIP()
            << "here the two spellings are one entry of the folder itself; "
               "AnotherSpellingReplacesTheProtectedSampleWhereTheFolderIgnoresCase covers it";
    // Hard links stand in for the one entry that both spellings reach in a case-insensitive folder.
    SampleFolders folders = folders_;
    folders.namesIgnoreCase = true;
    ASSERT_TRUE(SaveSample(folders, "default noise", Pattern(8, 8, 1)));
    for (const fs::path& folder : {folders_.pictures, folders_.data})
        fs::create_hard_link(folder / "default noise", folder / "Default Noise");
    ASSERT_TRUE(SaveSample(folders, "Default Noise", Pattern(8, 8, 2)));
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders, "default noise"), Pattern(8, 8, 2)));
    EXPECT_EQ(ReadAll(folders_.data / "default noise"), kMarker);
    EXPECT_FALSE(DeleteSample(folders, "Default Noise"));
}

TEST_F(Library, AnotherSpellingReplacesTheProtectedSampleWhereTheFolderIgnoresCase) {
    if (!NamesIgnoreCase(folders_))
        GTEST_SKIP() << "this folder tells names apart by letter case, as Linux does; "
                        "ProtectedSampleCanBeReplacedButNotDeleted covers it";
    ASSERT_TRUE(SaveSample(folders_, "default noise", Pattern(8, 8, 1)));
    ASSERT_TRUE(SaveSample(folders_, "Default Noise", Pattern(8, 8, 2)));
    // The installed spelling stays, so the library still protects it on a system that compares
    // names exactly.
    EXPECT_EQ(Listed(folders_.data), std::vector<std::string>{"default noise"});
    EXPECT_EQ(QDir(platform::ToQString(folders_.pictures)).entryList(QDir::Files),
              QStringList{"default noise"});
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "default noise"), Pattern(8, 8, 2)));
    EXPECT_FALSE(DeleteSample(folders_, "Default Noise"));
    EXPECT_FALSE(DeleteSample(folders_, "DEFAULT NOISE"));
    EXPECT_EQ(ReadAll(folders_.data / "default noise"), kMarker);

    // Any other sample keeps its first spelling too, and is deleted under any.
    ASSERT_TRUE(SaveSample(folders_, "Brass", Pattern(8, 8, 3)));
    ASSERT_TRUE(SaveSample(folders_, "BRASS", Pattern(8, 8, 4)));
    EXPECT_EQ(Listed(folders_.data), (std::vector<std::string>{"Brass", "default noise"}));
    EXPECT_TRUE(DeleteSample(folders_, "brass"));
    EXPECT_EQ(Listed(folders_.data), std::vector<std::string>{"default noise"});
}

TEST_F(Library, ListingIsSortedVisibleFilesOnly) {
    // "zinc" and "Zinc" are two files only where the file system tells names apart by case.
    const bool caseApart = !platform::FolderIgnoresCase(folders_.data, ".probe");
    for (const char* n : {"zinc", "alu", "gold 2", "gold 10"}) WriteAll(folders_.data / n, "");
    if (caseApart) WriteAll(folders_.data / "Zinc", "");
    WriteAll(folders_.data / "odd", "anything at all"); // content does not matter
    WriteAll(folders_.data / ".hidden", "null\r\n");
    fs::create_directory(folders_.data / "folder");
    // By name whatever the letter case; names equal but for case keep a fixed order.
    std::vector<std::string> want{"alu", "gold 10", "gold 2", "odd", "Zinc", "zinc"};
    if (!caseApart) want.erase(want.begin() + 4);
    EXPECT_EQ(Listed(folders_.data), want);
    EXPECT_TRUE(Listed(base_ / "missing").empty());
}

TEST_F(Library, UnsafeNamesTouchNothing) {
    // Decoys where a path-like name would land if it were used as a path.
    WriteAll(base_ / "x", "outside");
    WriteAll(folders_.pictures / "x", "picture-folder decoy");
    fs::create_directories(folders_.pictures / "a");
    fs::create_directories(folders_.data / "a");
    WriteAll(folders_.pictures / "a" / "b", "nested picture");
    WriteAll(folders_.data / "a" / "b", "nested marker");
    WriteAll(folders_.data / "keep", kMarker);
    const auto before = Snapshot(base_);

    const std::string unsafe[] = {
        "../x", "a/b", "..\\x", "*", "", ".", "..", ".x", ".hidden", "?", "a:b", "<", ">", "\"",
        "|", std::string("a\nb"), std::string(1, '\0'), "/", "\x7f", "../metals/data/keep",
        "/tmp/x",
        // Windows opens a device, or drops the last character.
        "CON", "prn", "Aux", "nul", "nul.txt", "Com1.bmp", "COM9", "lpt1", "LPT9.tar.gz",
        "nul .txt", "com\u00B9", "x.", "x ", "default noise.", "default noise "};
    for (const std::string& name : unsafe) {
        EXPECT_FALSE(IsSafeSampleName(name)) << name;
        EXPECT_EQ(SaveSample(folders_, name, Pattern(4, 4, 1)).status, SaveStatus::Refused) << name;
        EXPECT_FALSE(DeleteSample(folders_, name)) << name;
        EXPECT_FALSE(LoadSamplePicture(folders_, name).has_value()) << name;
    }
    EXPECT_EQ(Snapshot(base_), before);
    for (const char* fine : {"default noise", "Münze 1€", "a.b", "x y", " x", "x.y", "console",
                             "com10", "COM", "lpt", "nul2", "a.nul", "auxiliary", "connect.txt"})
        EXPECT_TRUE(IsSafeSampleName(fine)) << fine;
}

TEST_F(Library, MissingFoldersSaveNothing) {
    const SampleFolders nowhere = SampleFoldersFor(base_ / "not installed");
    EXPECT_EQ(SaveSample(nowhere, "coin", Pattern(4, 4, 1)).status, SaveStatus::Failed);
    EXPECT_FALSE(fs::exists(base_ / "not installed"));
    fs::remove_all(folders_.data);
    EXPECT_FALSE(SaveSample(folders_, "coin", Pattern(4, 4, 1)));
    EXPECT_FALSE(fs::exists(folders_.pictures / "coin"));
    EXPECT_FALSE(DeleteSample(folders_, "coin"));
}

TEST_F(Library, FailedSaveKeepsTheOldSample) {
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(6, 6, 1)));
    const auto before = Snapshot(base_);

    // Fail the first write (the picture), then the second (the marker).
    for (int failAt = 1; failAt <= 2; ++failAt) {
        int calls = 0;
        const FileWriter flaky = [&](const fs::path& p, std::span<const char> bytes) {
            if (++calls == failAt) {
                WriteAll(p, "partial"); // a half-written file must not survive either
                return std::string("No space left on device");
            }
            return platform::WriteNewFileDurably(p, bytes);
        };
        const SaveResult result = SaveSample(folders_, "coin", Pattern(6, 6, 2), flaky);
        EXPECT_EQ(result.status, SaveStatus::Failed) << failAt;
        // The reason names what the system said and where.
        // With the system's own separators throughout.
        const fs::path folder = failAt == 2 ? base_ / "metals" / "data" : base_ / "metals";
        EXPECT_EQ(result.reason,
                  "No space left on device (in " + platform::PathForUser(folder) + ")")
            << failAt;
        EXPECT_EQ(Snapshot(base_), before) << failAt;
    }

    // A new sample whose marker cannot be written leaves no picture behind.
    int calls = 0;
    const FileWriter markerFails = [&](const fs::path& p, std::span<const char> bytes) {
        return ++calls == 1 ? platform::WriteNewFileDurably(p, bytes)
                            : std::string("No space left on device");
    };
    EXPECT_FALSE(SaveSample(folders_, "new", Pattern(6, 6, 3), markerFails));
    EXPECT_EQ(Snapshot(base_), before);
}

TEST_F(Library, FailedRenamesKeepTheOldSample) {
    // The picture cannot replace a folder of that name: no marker may appear.
    fs::create_directories(folders_.pictures / "blocked" / "inner");
    EXPECT_FALSE(SaveSample(folders_, "blocked", Pattern(4, 4, 1)));
    EXPECT_FALSE(fs::exists(folders_.data / "blocked"));

    // The marker cannot replace a folder: the old picture comes back.
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(4, 4, 1)));
    fs::remove(folders_.data / "coin");
    fs::create_directories(folders_.data / "coin" / "inner");
    const auto before = Snapshot(base_);
    EXPECT_FALSE(SaveSample(folders_, "coin", Pattern(4, 4, 2)));
    EXPECT_EQ(Snapshot(base_), before);
    EXPECT_FALSE(DeleteSample(folders_, "coin")); // a folder is never removed as a marker
    EXPECT_TRUE(fs::is_directory(folders_.data / "coin"));

    // A new sample whose marker cannot be put in place leaves no picture behind.
    fs::create_directories(folders_.data / "fresh" / "inner");
    EXPECT_FALSE(SaveSample(folders_, "fresh", Pattern(4, 4, 3)));
    EXPECT_FALSE(fs::exists(folders_.pictures / "fresh"));
}

TEST_F(Library, LoadingKeepsOutWhatIsNotAPicture) {
    EXPECT_FALSE(LoadSamplePicture(folders_, "absent").has_value());
    WriteAll(folders_.pictures / "text", "null\r\n");
    EXPECT_FALSE(LoadSamplePicture(folders_, "text").has_value());
    WriteAll(folders_.pictures / "cut", std::string(EncodeBmp24(Pattern(20, 20, 1)).data(), 60));
    EXPECT_FALSE(LoadSamplePicture(folders_, "cut").has_value());
    EXPECT_FALSE(LoadSamplePicture(folders_, "data").has_value()); // the data folder itself
}

// ---- whole pictures only ------------------------------------------------------------------

namespace {

std::vector<unsigned char> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

std::string EncodeAs(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes.toStdString();
}

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A 24-bit header that claims width x height, with bfSize as given; no pixels.
std::string Header24(std::int32_t width, std::int32_t height, std::uint32_t bfSize) {
    std::string h(54, '\0');
    h[0] = 'B';
    h[1] = 'M';
    Put32(h, 2, bfSize);
    Put32(h, 10, 54);
    Put32(h, 14, 40);
    Put32(h, 18, static_cast<std::uint32_t>(width));
    Put32(h, 22, static_cast<std::uint32_t>(height));
    h[26] = 1;
    h[28] = 24;
    return h;
}

} // namespace

TEST(WholeBmp, EveryDepthQtWritesDecodesAndRefusesToBeCutByOneByte) {
    const QImage rgb = Pattern(13, 7, 4);
    QImage argb = rgb.convertToFormat(QImage::Format_ARGB32);
    argb.setPixel(0, 0, qRgba(1, 2, 3, 0x80));
    const QImage kinds[] = {rgb, argb, rgb.convertToFormat(QImage::Format_Indexed8),
                            rgb.convertToFormat(QImage::Format_Mono)};
    for (const QImage& kind : kinds) {
        const std::string file = EncodeAs(kind);
        const auto geometry = ReadBmpGeometry(Bytes(file));
        ASSERT_TRUE(geometry.has_value()) << kind.format();
        EXPECT_EQ(geometry->bytesNeeded, file.size()) << kind.format();
        const auto image = DecodeWholeBmp(Bytes(file));
        ASSERT_TRUE(image.has_value()) << kind.format();
        EXPECT_TRUE(SamePixels(*image, kind)) << kind.format();
        EXPECT_FALSE(DecodeWholeBmp(Bytes(file.substr(0, file.size() - 1)))) << kind.format();
        EXPECT_TRUE(DecodeWholeBmp(Bytes(file + "trailing bytes"))) << kind.format();
    }
}

TEST(WholeBmp, CutOffFilesAreRefusedWhateverTheirDeclaredSize) {
    const std::string whole(EncodeBmp24(Pattern(40, 30, 2)).data(), 54 + 120 * 30);
    const std::string cut = whole.substr(0, 54 + 120 * 12);
    std::string zeroSize = cut; // many writers leave bfSize 0
    Put32(zeroSize, 2, 0);
    std::string honest = cut; // bfSize agrees with the short file
    Put32(honest, 2, static_cast<std::uint32_t>(cut.size()));
    for (const std::string& f : {zeroSize, honest}) {
        EXPECT_EQ(ReadBmpGeometry(Bytes(f))->bytesNeeded, whole.size());
        EXPECT_FALSE(DecodeWholeBmp(Bytes(f)));
    }
    // A top-down file needs the same bytes.
    std::string topDown = whole;
    Put32(topDown, 22, static_cast<std::uint32_t>(-30));
    EXPECT_EQ(DecodeWholeBmp(Bytes(topDown))->mirrored(), *DecodeWholeBmp(Bytes(whole)));
    EXPECT_FALSE(DecodeWholeBmp(Bytes(topDown.substr(0, topDown.size() - 1))));
}

TEST(WholeBmp, HeadersOfKindsNotReadHereAreRefused) {
    const std::string good = Header24(4, 4, 0) + std::string(48, '\x40');
    ASSERT_TRUE(DecodeWholeBmp(Bytes(good)));
    const auto refused = [&](auto change) {
        std::string f = good;
        change(f);
        return !ReadBmpGeometry(Bytes(f)).has_value() && !DecodeWholeBmp(Bytes(f)).has_value();
    };
    EXPECT_TRUE(refused([](std::string& f) { f[0] = 'X'; }));
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 14, 64); }));   // OS/2 2.x header
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 30, 1); }));    // run-length 8
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 30, 4); }));    // JPEG inside
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 30, 3); }));    // masks for 24 bits
    EXPECT_TRUE(refused([](std::string& f) { f[28] = 2; }));          // 2 bits per pixel
    EXPECT_TRUE(refused([](std::string& f) { f[26] = 2; }));          // two planes
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 18, 0); }));    // no width
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 22, 0); }));    // no height
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 10, 53); }));   // pixels inside the header
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 18, 8193); })); // too wide
    EXPECT_TRUE(refused([](std::string& f) { Put32(f, 22, 0x80000000u); })); // INT_MIN rows
    EXPECT_TRUE(refused([](std::string& f) { f.resize(20); })); // no room for the header
    // A colour table larger than the depth allows, or running into the pixels.
    std::string indexed = EncodeAs(Pattern(8, 8, 1).convertToFormat(QImage::Format_Indexed8));
    ASSERT_TRUE(DecodeWholeBmp(Bytes(indexed)));
    std::string tooManyColours = indexed;
    Put32(tooManyColours, 46, 257);
    EXPECT_FALSE(ReadBmpGeometry(Bytes(tooManyColours)));
    std::string tableOverPixels = indexed;
    Put32(tableOverPixels, 10, 54 + 4 * 100);
    Put32(tableOverPixels, 46, 200);
    EXPECT_FALSE(ReadBmpGeometry(Bytes(tableOverPixels)));
}

TEST_F(Library, AHugeClaimInASmallFileIsRefusedBeforeAnythingIsReserved) {
    // 20 KB that claim 5000 x 5000 pixels (75 MB), with an honest bfSize.
    std::string f = Header24(5000, 5000, 20000);
    f.resize(20000, '\x7f');
    WriteAll(folders_.pictures / "huge", f);
    EXPECT_EQ(ReadBmpGeometry(Bytes(f))->bytesNeeded, 54u + 15000u * 5000u);
    // Qt's reader would reserve the 75 MB and return them mostly unwritten; the header check
    // refuses before anything is read beyond the header.
    EXPECT_FALSE(LoadSamplePicture(folders_, "huge").has_value());

    // Honest files beyond the side limit are refused by their header alone.
    EXPECT_FALSE(ReadBmpGeometry(Bytes(Header24(8193, 1, 0))));
    EXPECT_FALSE(ReadBmpGeometry(Bytes(Header24(1, -8193, 0))));
    EXPECT_TRUE(ReadBmpGeometry(Bytes(Header24(8192, 8192, 0))));
}

// ---- only regular files inside the two folders ------------------------------------------------

TEST_F(Library, LinksAndSpecialFilesAreNeitherListedShownFollowedNorRemoved) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows (and wine makes none), and there "
                    "are no FIFOs or /dev; folders and device names are covered elsewhere";
#endif
    QTemporaryDir elsewhere;
    const fs::path outside = fs::path(elsewhere.path().toStdString());
    const std::vector<char> bmp = EncodeBmp24(Pattern(6, 6, 8));
    WriteAll(outside / "picture.bmp", std::string(bmp.data(), bmp.size()));
    WriteAll(outside / "marker", kMarker);
    ASSERT_TRUE(SaveSample(folders_, "real", Pattern(6, 6, 1)));

    fs::create_symlink(outside / "picture.bmp", folders_.pictures / "linked");
    WriteAll(folders_.data / "linked", kMarker);
    fs::create_symlink(outside / "marker", folders_.data / "marker link");
    fs::create_symlink("/dev/zero", folders_.data / "zero");
    fs::create_symlink(folders_.data / "nowhere", folders_.data / "dangling");
    const bool fifo =
        QProcess::execute("mkfifo", {QString::fromStdString((folders_.data / "pipe").string())}) ==
        0;

    EXPECT_EQ(Listed(folders_.data), (std::vector<std::string>{"linked", "real"}));
    EXPECT_FALSE(LoadSamplePicture(folders_, "linked").has_value()); // not followed out
    for (const char* name : {"marker link", "zero", "dangling", "pipe"})
        EXPECT_FALSE(DeleteSample(folders_, name)) << name;
    EXPECT_TRUE(fs::is_symlink(folders_.data / "marker link"));
    EXPECT_TRUE(fs::is_symlink(folders_.data / "zero"));

    // Saving over a link replaces nothing and writes nothing through it.
    const auto before = Snapshot(outside);
    const SaveResult overLink = SaveSample(folders_, "linked", Pattern(6, 6, 2));
    EXPECT_EQ(overLink.status, SaveStatus::Failed);
    EXPECT_NE(overLink.reason.find("is not a regular file"), std::string::npos) << overLink.reason;
    EXPECT_EQ(SaveSample(folders_, "marker link", Pattern(6, 6, 2)).status, SaveStatus::Failed);
    if (fifo) {
        EXPECT_EQ(SaveSample(folders_, "pipe", Pattern(6, 6, 2)).status, SaveStatus::Failed);
    }
    EXPECT_EQ(Snapshot(outside), before);
    EXPECT_TRUE(fs::is_symlink(folders_.pictures / "linked"));
    EXPECT_TRUE(fs::is_symlink(folders_.data / "marker link"));

    // Deleting a sample whose picture is a link or a pipe removes its marker only: the link is
    // not removed, what it leads to is not touched, and the pipe is never opened.
    EXPECT_TRUE(DeleteSample(folders_, "linked"));
    EXPECT_FALSE(fs::exists(folders_.data / "linked"));
    EXPECT_TRUE(fs::is_symlink(folders_.pictures / "linked"));
    if (fifo) {
        const fs::path pipe = folders_.pictures / "piped";
        ASSERT_EQ(QProcess::execute("mkfifo", {QString::fromStdString(pipe.string())}), 0);
        WriteAll(folders_.data / "piped", kMarker);
        EXPECT_TRUE(DeleteSample(folders_, "piped"));
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(pipe)));
    }
    EXPECT_EQ(Snapshot(outside), before);
}

// ---- permissions and leftovers ---------------------------------------------------------------

TEST_F(Library, ReplacingASampleKeepsTheModeOfItsFiles) {
    using fs::perms;
#ifdef _WIN32
    // Windows keeps only read-only of a file's mode, and does not let it be replaced: the save is
    // refused, the old sample stays and nothing of the attempt is left.
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(6, 6, 1)));
    fs::permissions(folders_.data / "coin",
                    perms::owner_write | perms::group_write | perms::others_write,
                    fs::perm_options::remove);
    const auto before = Snapshot(base_);
    const SaveResult result = SaveSample(folders_, "coin", Pattern(6, 6, 2));
    fs::permissions(folders_.data / "coin", perms::owner_write, fs::perm_options::add);
    if (result) {
        EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "coin"), Pattern(6, 6, 2)));
        EXPECT_EQ(ReadAll(folders_.data / "coin"), kMarker);
    } else {
        EXPECT_EQ(result.status, SaveStatus::Failed);
        EXPECT_EQ(Snapshot(base_), before);
    }
    for (const fs::path& folder : {folders_.pictures, folders_.data})
        for (const auto& e : fs::directory_iterator(folder))
            EXPECT_FALSE(IsLeftoverSaveName(platform::Utf8FromPath(e.path().filename())))
                << e.path();
    GTEST_SKIP() << "POSIX modes do not exist on Windows; a read-only marker was "
                 << (result ? "replaced" : "kept");
#endif
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(6, 6, 1)));
    const perms pictureMode = perms::owner_read | perms::owner_write | perms::group_read |
                              perms::group_write | perms::others_read; // 664
    const perms markerMode = perms::owner_read | perms::owner_write;   // 600
    fs::permissions(folders_.pictures / "coin", pictureMode);
    fs::permissions(folders_.data / "coin", markerMode);
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(6, 6, 2)));
    EXPECT_EQ(fs::status(folders_.pictures / "coin").permissions(), pictureMode);
    EXPECT_EQ(fs::status(folders_.data / "coin").permissions(), markerMode);
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "coin"), Pattern(6, 6, 2)));
}

TEST_F(Library, SavesLeaveNoTemporaryFilesAndLeftoversAreRemovedByPatternOnly) {
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(6, 6, 1)));
    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(6, 6, 2)));
    int calls = 0;
    const FileWriter markerFails = [&](const fs::path& p, std::span<const char> bytes) {
        return ++calls == 1 ? platform::WriteNewFileDurably(p, bytes) : std::string("disk full");
    };
    EXPECT_FALSE(SaveSample(folders_, "coin", Pattern(6, 6, 3), markerFails));
    for (const fs::path& folder : {folders_.pictures, folders_.data})
        for (const auto& e : fs::directory_iterator(folder))
            EXPECT_FALSE(IsLeftoverSaveName(platform::Utf8FromPath(e.path().filename())))
                << e.path();

    // What interrupted saves of this and earlier versions leave, and what is not ours.
    const std::string ours[] = {".tonvault-save-4711-0.tmp", ".tonvault-save-0123456789abcdef.tmp",
                                ".tonvault-save-0123456789abcdef.tmp.Ab12Cd"};
    for (const fs::path& folder : {folders_.pictures, folders_.data})
        for (const std::string& n : ours) WriteAll(folder / n, std::string(1000, 'x'));
    WriteAll(folders_.pictures / ".tonvault-settings", "not ours to remove");
    WriteAll(folders_.pictures / "tonvault-save-visible", "a sample's picture");
    fs::create_directory(folders_.pictures / ".tonvault-save-folder.tmp");
    WriteAll(base_ / ".tonvault-save-outside.tmp", "outside the two folders");
    QTemporaryDir elsewhere;
    const fs::path target = fs::path(elsewhere.path().toStdString()) / "target";
    WriteAll(target, "kept");
#ifndef _WIN32
    // Windows gives no link without a privilege (wine none at all).
    fs::create_symlink(target, folders_.data / ".tonvault-save-link.tmp");
#endif
    for (const std::string& n : ours) EXPECT_TRUE(IsLeftoverSaveName(n)) << n;
    EXPECT_FALSE(IsListedSample(folders_.data, ours[0]));

    EXPECT_EQ(RemoveLeftoverSaves(folders_), 6);
    for (const fs::path& folder : {folders_.pictures, folders_.data})
        for (const std::string& n : ours) EXPECT_FALSE(fs::exists(folder / n)) << n;
    EXPECT_TRUE(fs::exists(folders_.pictures / ".tonvault-settings"));
    EXPECT_TRUE(fs::exists(folders_.pictures / "tonvault-save-visible"));
    EXPECT_TRUE(fs::is_directory(folders_.pictures / ".tonvault-save-folder.tmp"));
    EXPECT_TRUE(fs::exists(base_ / ".tonvault-save-outside.tmp"));
#ifndef _WIN32
    EXPECT_TRUE(fs::is_symlink(folders_.data / ".tonvault-save-link.tmp"));
#endif
    EXPECT_EQ(ReadAll(target), "kept");
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "coin"), Pattern(6, 6, 2)));
    EXPECT_EQ(RemoveLeftoverSaves(SampleFoldersFor(base_ / "missing")), 0);
}

TEST(SaveFailureText, SaysTheSampleWasNotSavedAndWhy) {
    EXPECT_EQ(SaveFailureText("coin", "Permission denied (in /x/metals)"),
              "The sample \"coin\" was not saved: Permission denied (in /x/metals).\n\n"
              "A sample saved before under this name is kept as it was.");
}

// Inputs the picture fuzz target stopped on (tests/fuzz/regressions/): each decodes to the same
// RGB32 picture every time, with every pixel defined, or not at all.
TEST(WholeBmp, FuzzFindingsDecodeTheSameEveryTime) {
    const fs::path folder = fs::path(__FILE__).parent_path().parent_path() / "fuzz" / "regressions";
    int seen = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        ++seen;
        const std::vector<unsigned char> file = Bytes(ReadAll(e.path()));
        const auto first = DecodeWholeBmp(file);
        const auto second = DecodeWholeBmp(file);
        ASSERT_EQ(first.has_value(), second.has_value()) << e.path();
        if (!first) continue;
        EXPECT_EQ(first->format(), QImage::Format_RGB32) << e.path();
        EXPECT_EQ(*first, *second) << e.path();
    }
    EXPECT_GT(seen, 0);
    // The first finding: a 4-bit picture of 2 colours whose pixels use indexes up to 15, which
    // show black rather than what the memory behind the table held.
    const auto indexed = DecodeWholeBmp(Bytes(ReadAll(folder / "indexed4-past-colour-table.bmp")));
    ASSERT_TRUE(indexed.has_value());
    EXPECT_EQ(indexed->pixel(0, 0), qRgb(255, 255, 255)); // index 0
    EXPECT_EQ(indexed->pixel(7, 0), qRgb(0, 0, 0));       // index 11
}
