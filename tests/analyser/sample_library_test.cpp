#include "analyser/sample_library.h"

#include <QColor>
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
        const std::string rel = fs::relative(e.path(), root).string();
        files[rel] = e.is_directory() ? "<dir>" : ReadAll(e.path());
    }
    return files;
}

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        base_ = tmp_.path().toStdString();
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
    EXPECT_EQ(ListSamples(folders_.data), std::vector<std::string>{"Kupfer 5ct"});
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
    EXPECT_EQ(ListSamples(folders_.data), std::vector<std::string>{"coin"});
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "coin"), Pattern(10, 4, 2)));

    EXPECT_TRUE(DeleteSample(folders_, "coin"));
    EXPECT_TRUE(ListSamples(folders_.data).empty());
    EXPECT_TRUE(fs::exists(folders_.pictures / "coin")); // the picture stays
    EXPECT_FALSE(DeleteSample(folders_, "coin"));        // already gone: nothing happens

    ASSERT_TRUE(SaveSample(folders_, "coin", Pattern(10, 4, 3)));
    EXPECT_EQ(ListSamples(folders_.data), std::vector<std::string>{"coin"});
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "coin"), Pattern(10, 4, 3)));
}

TEST_F(Library, ProtectedSampleCanBeReplacedButNotDeleted) {
    ASSERT_TRUE(SaveSample(folders_, "default noise", Pattern(8, 8, 1)));
    ASSERT_TRUE(SaveSample(folders_, "default noise", Pattern(8, 8, 9)));
    EXPECT_FALSE(DeleteSample(folders_, "default noise"));
    EXPECT_EQ(ReadAll(folders_.data / "default noise"), kMarker);
    EXPECT_TRUE(SamePixels(*LoadSamplePicture(folders_, "default noise"), Pattern(8, 8, 9)));

    ASSERT_TRUE(SaveSample(folders_, "Default Noise", Pattern(8, 8, 2)));
    EXPECT_TRUE(DeleteSample(folders_, "Default Noise"));
    EXPECT_EQ(ListSamples(folders_.data), std::vector<std::string>{"default noise"});
}

TEST_F(Library, ListingIsSortedVisibleFilesOnly) {
    for (const char* n : {"zinc", "Zinc", "alu", "gold 2", "gold 10"})
        WriteAll(folders_.data / n, "");
    WriteAll(folders_.data / "odd", "anything at all"); // content does not matter
    WriteAll(folders_.data / ".hidden", "null\r\n");
    fs::create_directory(folders_.data / "folder");
    // By name whatever the letter case; names equal but for case keep a fixed order.
    const std::vector<std::string> want{"alu", "gold 10", "gold 2", "odd", "Zinc", "zinc"};
    EXPECT_EQ(ListSamples(folders_.data), want);
    EXPECT_TRUE(ListSamples(base_ / "missing").empty());
    EXPECT_TRUE(ListSamples(folders_.data / "zinc").empty()); // a file, not a folder
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

    const std::string unsafe[] = {"../x",
                                  "a/b",
                                  "..\\x",
                                  "*",
                                  "",
                                  ".",
                                  "..",
                                  ".x",
                                  ".hidden",
                                  "?",
                                  "a:b",
                                  "<",
                                  ">",
                                  "\"",
                                  "|",
                                  std::string("a\nb"),
                                  std::string(1, '\0'),
                                  "/",
                                  "\x7f",
                                  "../metals/data/keep",
                                  "/tmp/x"};
    for (const std::string& name : unsafe) {
        EXPECT_FALSE(IsSafeSampleName(name)) << name;
        EXPECT_FALSE(SaveSample(folders_, name, Pattern(4, 4, 1))) << name;
        EXPECT_FALSE(DeleteSample(folders_, name)) << name;
        EXPECT_FALSE(LoadSamplePicture(folders_, name).has_value()) << name;
    }
    EXPECT_EQ(Snapshot(base_), before);
    for (const char* fine : {"default noise", "Münze 1€", "a.b", "x y", "x."})
        EXPECT_TRUE(IsSafeSampleName(fine)) << fine;
}

TEST_F(Library, MissingFoldersSaveNothing) {
    const SampleFolders nowhere = SampleFoldersFor(base_ / "not installed");
    EXPECT_FALSE(SaveSample(nowhere, "coin", Pattern(4, 4, 1)));
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
                return false;
            }
            return WriteNewFile(p, bytes);
        };
        EXPECT_FALSE(SaveSample(folders_, "coin", Pattern(6, 6, 2), flaky)) << failAt;
        EXPECT_EQ(Snapshot(base_), before) << failAt;
    }

    // A new sample whose marker cannot be written leaves no picture behind.
    int calls = 0;
    const FileWriter markerFails = [&](const fs::path& p, std::span<const char> bytes) {
        return ++calls == 1 && WriteNewFile(p, bytes);
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
