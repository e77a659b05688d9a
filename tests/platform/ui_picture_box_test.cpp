// The picture box's persistent image: pixel writes, the vertical user scale, lines, the one-pixel
// scroll and BMP save/load.
#include "platform/ui_picture_box.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;

namespace {

constexpr std::int32_t kRed = 255; // packed red + 256 green + 65536 blue
constexpr std::int32_t kBlue = 255 * 65536;
constexpr std::int32_t kGreenish = 4 + 256 * 60 + 65536 * 50;

QRgb At(const PictureBox& box, int x, int y) {
    return box.Image().pixel(x, y) & 0xFFFFFFu;
}

// Each row gets a blue of its own (row y: blue y + 1) so moved rows can be recognised.
void StripeRows(PictureBox& box) {
    for (int y = 0; y < box.PixelHeight(); ++y)
        for (int x = 0; x < box.ScaleWidth(); ++x) box.SetPixel(x, y, (y + 1) * 65536);
}

TEST(PictureBoxTest, PixelsArePackedColoursAndOutsideWritesAreIgnored) {
    PictureBox box(nullptr, 0);
    box.Move(0, 0, 8, 6);
    EXPECT_EQ(box.ScaleWidth(), 8);
    EXPECT_EQ(At(box, 7, 5), 0u);
    box.PSet(2, 3, kRed);
    box.PSet(3, 3, kGreenish);
    box.SetPixel(-1, 0, kBlue);
    box.SetPixel(8, 0, kBlue);
    box.SetPixel(0, 6, kBlue);
    EXPECT_EQ(At(box, 2, 3), 0xFF0000u);
    EXPECT_EQ(At(box, 3, 3), 0x043C32u);
    EXPECT_EQ(box.CurrentX, 3);
    EXPECT_EQ(box.CurrentY, 3);
    int blue = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) blue += At(box, x, y) == 0x0000FFu;
    EXPECT_EQ(blue, 0);
}

TEST(PictureBoxTest, CopyDownKeepsRowZeroMovesTheRestAndClips) {
    PictureBox box(nullptr, 0);
    box.Move(0, 0, 5, 4);
    StripeRows(box);
    box.CopyDownOnePixel();
    EXPECT_EQ(At(box, 0, 0), 1u);
    EXPECT_EQ(At(box, 4, 1), 1u);
    EXPECT_EQ(At(box, 2, 2), 2u);
    EXPECT_EQ(At(box, 3, 3), 3u) << "the last row is dropped, nothing is written past the image";

    // A block narrower and shorter than the picture moves only itself.
    StripeRows(box);
    box.CopyDownOnePixel(3, 2);
    EXPECT_EQ(At(box, 2, 1), 1u);
    EXPECT_EQ(At(box, 2, 2), 2u);
    EXPECT_EQ(At(box, 3, 1), 2u) << "columns right of the block stay";
    EXPECT_EQ(At(box, 0, 3), 4u) << "rows below the block's new bottom stay";

    // Oversized blocks are clipped instead of overrunning the image.
    StripeRows(box);
    box.CopyDownOnePixel(1000, 1000);
    EXPECT_EQ(At(box, 4, 3), 3u);
}

TEST(PictureBoxTest, ScaleHeightMapsUserUnitsToRows) {
    PictureBox box(nullptr, 0);
    box.Move(0, 0, 10, 100);
    box.setScaleHeight(2.1f);
    box.PSet(4, 1.05, kRed); // half the height
    EXPECT_EQ(At(box, 4, 50), 0xFF0000u);
    box.setForeColor(kBlue);
    box.CurrentX = -1;
    box.CurrentY = 2.1; // bottom edge
    box.LineTo(0, 2.1);
    box.LineTo(9, 0.0);
    EXPECT_EQ(box.CurrentX, 9);
    EXPECT_DOUBLE_EQ(box.CurrentY, 0.0);
    EXPECT_EQ(At(box, 0, 99), 0x0000FFu);
    EXPECT_EQ(At(box, 9, 0), 0u) << "the end point of a line is not set";
    box.ScalePixels();
    box.PSet(1, 2, kRed);
    EXPECT_EQ(At(box, 1, 2), 0xFF0000u);
}

TEST(PictureBoxTest, LinesSetEveryPixelButTheLastAndClsResets) {
    PictureBox box(nullptr, 0);
    box.Move(0, 0, 6, 6);
    box.setForeColor(kRed);
    box.Line(5, 2, 0, 2);
    for (int x = 1; x <= 5; ++x) EXPECT_EQ(At(box, x, 2), 0xFF0000u) << x;
    EXPECT_EQ(At(box, 0, 2), 0u);
    box.Line(0, 0, 3, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(At(box, i, i), 0xFF0000u) << i;
    box.Line(-20, 4, 40, 4); // crosses the whole picture, clipped
    for (int x = 0; x < 6; ++x) EXPECT_EQ(At(box, x, 4), 0xFF0000u);

    box.setBackColor(kGreenish);
    box.CurrentX = 3;
    box.Cls();
    EXPECT_EQ(At(box, 1, 2), 0x043C32u);
    EXPECT_EQ(box.CurrentX, 0);
    EXPECT_EQ(box.CurrentY, 0);
}

TEST(PictureBoxTest, PrintWritesAtTheCurrentPointAndMovesToTheNextLine) {
    PictureBox box(nullptr, 0);
    box.Move(0, 0, 120, 60);
    box.setForeColor(0xFFFFFF);
    box.CurrentX = 0;
    box.CurrentY = 3;
    box.Print("12:00:00");
    int lit = 0, above = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x)
            if (At(box, x, y) != 0) (y < 3 ? above : lit)++;
    EXPECT_GT(lit, 20);
    EXPECT_EQ(above, 0);
    EXPECT_EQ(box.CurrentX, 0);
    EXPECT_GT(box.CurrentY, 3 + 5);
}

TEST(PictureBoxTest, MoveSizesTheImageAtOnceAndKeepsTheDrawing) {
    QWidget hiddenPanel;
    hiddenPanel.hide();
    PictureBox box(&hiddenPanel, 0);
    box.Move(-56, 16, 749, 233);
    EXPECT_EQ(box.ScaleWidth(), 749);
    EXPECT_EQ(box.PixelHeight(), 233);
    box.SetPixel(748, 232, kRed);
    box.Move(0, 0, 800, 240);
    EXPECT_EQ(At(box, 748, 232), 0xFF0000u);
    EXPECT_EQ(At(box, 799, 239), 0u);
}

TEST(PictureBoxTest, BmpRoundTripAndFailedLoadsKeepThePicture) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    PictureBox source(nullptr, 0);
    source.Move(0, 0, 780, 228);
    for (int y = 0; y < 228; ++y)
        for (int x = 0; x < 780; ++x) source.SetPixel(x, y, (x * 7 + y * 13) & 0xFFFFFF);
    const QString path = dir.path() + "/default noise";
    ASSERT_TRUE(source.SaveBmp(path));
    EXPECT_TRUE(QFile::exists(path)) << "no extension is added";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(2), QByteArray("BM"));

    PictureBox shown(nullptr, 0);
    shown.Move(0, 0, 780, 156);
    ASSERT_TRUE(shown.LoadPicture(path));
    for (int y : {0, 77, 155})
        for (int x : {0, 390, 779}) EXPECT_EQ(At(shown, x, y), static_cast<QRgb>(At(source, x, y)));

    const QString junk = dir.path() + "/junk";
    QFile j(junk);
    ASSERT_TRUE(j.open(QIODevice::WriteOnly));
    j.write("null\r\n");
    j.close();
    EXPECT_FALSE(shown.LoadPicture(junk));
    EXPECT_FALSE(shown.LoadPicture(dir.path() + "/missing"));
    EXPECT_EQ(At(shown, 390, 77), static_cast<QRgb>(At(source, 390, 77)));

    // A smaller picture shows from the top-left corner on the back colour.
    PictureBox small(nullptr, 0);
    small.Move(0, 0, 4, 4);
    small.Cls();
    small.SetPixel(0, 0, kRed);
    ASSERT_TRUE(small.SaveBmp(dir.path() + "/small"));
    ASSERT_TRUE(shown.LoadPicture(dir.path() + "/small"));
    EXPECT_EQ(At(shown, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(shown, 390, 77), 0u);
}

} // namespace
