// SPDX-License-Identifier: GPL-3.0-or-later
// The picture box's persistent image: pixel writes, the vertical user scale, lines, the one-pixel
// scroll and BMP save/load; the ring of rows and the drawing that waits until someone looks,
// both checked against plainly drawn pictures and against what reaches the screen.
#include "platform/ui/picture_box.h"

#include "plain_picture.h"
#include "platform/system/colour.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace platform;

namespace {

constexpr std::int32_t kRed = PackColour(255, 0, 0);
constexpr std::int32_t kBlue = PackColour(0, 0, 255);
constexpr std::int32_t kGreenish = PackColour(4, 60, 50);

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

    // A whole row at once: from column 0, the part beyond the picture dropped, a row outside
    // ignored, and on a turned ring the row the reader sees.
    const std::vector<std::int32_t> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    box.CopyDownOnePixel();
    box.SetPixelRow(4, ten);
    box.SetPixelRow(-1, ten);
    box.SetPixelRow(6, ten);
    box.SetPixelRow(1, std::span(ten).first(3));
    for (int x = 0; x < 8; ++x) EXPECT_EQ(At(box, x, 4), static_cast<std::uint32_t>(x + 1) << 16);
    EXPECT_EQ(At(box, 2, 1), 3u << 16);
    EXPECT_EQ(At(box, 3, 1), 0u);
    EXPECT_EQ(At(box, 3, 4), 4u << 16) << "the red pixel moved from row 3 to 4 and was replaced";
    EXPECT_EQ(At(box, 2, 5), 0u);
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

// A line starts where the current point lies now, in the scale of now: not where the last line
// ended, when the scale, the size or the point itself changed in between.
TEST(PictureBoxTest, ALineStartsAtTheCurrentPointInTheCurrentScale) {
    PictureBox box(nullptr, 0);
    box.Move(0, 0, 30, 100);
    box.setForeColor(kRed);
    box.LineTo(10, 50);
    box.setScaleHeight(200); // y = 50 is now row 25
    box.LineTo(20, 50);
    for (int x = 10; x < 20; ++x) EXPECT_EQ(At(box, x, 25), 0xFF0000u) << x;
    box.Move(0, 0, 30, 50); // and now row 12.5, rounded to 12
    box.LineTo(25, 50);
    for (int x = 20; x < 25; ++x) EXPECT_EQ(At(box, x, 12), 0xFF0000u) << x;
    box.CurrentY = 100; // row 25 again
    box.LineTo(29, 100);
    for (int x = 25; x < 29; ++x) EXPECT_EQ(At(box, x, 25), 0xFF0000u) << x;
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

// ---- on the screen ---------------------------------------------------------------------

// One waterfall pass on both: a new row 1, the scroll, and now and then a tick line at row 2.
void Pass(PictureBox& box, PlainPicture& plain, int pass) {
    for (int x = 0; x < box.ScaleWidth(); ++x) {
        box.SetPixel(x, 1, PassColour(pass, x));
        plain.set(x, 1, PassColour(pass, x));
    }
    box.CopyDownOnePixel(box.ScaleWidth(), box.PixelHeight());
    plain.copyDown();
    if (pass % 7 == 3) {
        box.setForeColor(kGreenish);
        box.Line(box.ScaleWidth(), 2, 0, 2);
        for (int x = 1; x < box.ScaleWidth(); ++x) plain.set(x, 2, kGreenish);
    }
}

// What the window system was given for the box: its part of the window's backing store.
QImage OnScreen(QWidget& window, const PictureBox& box) {
    QScreen* screen = window.screen();
    if (!screen) return {};
    const QPoint at = box.mapTo(&window, QPoint(0, 0));
    return screen->grabWindow(window.winId(), at.x(), at.y(), box.width(), box.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Shows the window and waits until the window system has it on the screen (at once offscreen; on
// a real display once the window manager has mapped it).
void Show(QWidget& window) {
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    QApplication::processEvents();
}

// A 40 x 30 box in a shown window, with the window's first paint done.
struct ShownBox {
    QWidget window;
    PictureBox box{&window, 0};
    ShownBox() {
        window.resize(60, 40);
        box.Move(5, 3, 40, 30);
        Show(window);
    }
    QImage screen() { return OnScreen(window, box); }
};

TEST(PictureBoxRingTest, TheScreenShowsThePictureAfterScrollsTextAndClears) {
    ShownBox shown;
    QWidget& window = shown.window;
    PictureBox& box = shown.box;
    if (shown.screen().isNull()) GTEST_SKIP() << "this platform cannot grab windows";
    PlainPicture plain(40, 30);
    for (int pass = 0; pass < 200; ++pass) {
        Pass(box, plain, pass);
        // Like the loop: events run between passes, sometimes only after several passes.
        if (pass % 3 != 1) QApplication::processEvents();
        if (pass == 77) {
            box.setForeColor(0xFFFFFF);
            box.CurrentX = 0;
            box.CurrentY = 3;
            box.Print("1");
        }
    }
    QApplication::processEvents();
    EXPECT_EQ(OnScreen(window, box), box.Image());

    // A sibling above the last rows (as the sample picture lies over the waterfall's): the rows
    // left uncovered follow the passes, the covered ones are right once uncovered.
    QWidget cover(&window);
    cover.setAutoFillBackground(true);
    cover.setGeometry(5, 3 + 26, 40, 10);
    cover.show();
    for (int pass = 200; pass < 260; ++pass) {
        Pass(box, plain, pass);
        QApplication::processEvents();
    }
    EXPECT_EQ(OnScreen(window, box).copy(0, 0, 40, 26), box.Image().copy(0, 0, 40, 26));
    cover.hide();
    QApplication::processEvents();
    EXPECT_EQ(OnScreen(window, box), box.Image());
    EXPECT_EQ(box.Image(), plain.image);
    box.Cls();
    box.SetPixel(3, 4, kRed);
    QApplication::processEvents();
    EXPECT_EQ(OnScreen(window, box), box.Image());
}

// A pass of pixels and a scroll shows itself at once: the loop need not wait for an event round
// trip to see its row. Pixels written without a scroll reach the screen before the program sleeps.
TEST(PictureBoxRingTest, APassReachesTheScreenWithoutAnEventRoundTrip) {
    ShownBox shown;
    QWidget& window = shown.window;
    PictureBox& box = shown.box;
    if (shown.screen().isNull()) GTEST_SKIP() << "this platform cannot grab windows";
    for (int pass = 0; pass < 40; ++pass) {
        for (int x = 0; x < box.ScaleWidth(); ++x) box.SetPixel(x, 1, PassColour(pass, x));
        box.CopyDownOnePixel(box.ScaleWidth(), box.PixelHeight());
        ASSERT_EQ(OnScreen(window, box), box.Image()) << "pass " << pass;
    }
    // Only changed rows are drawn: row 0 when it was written before the scroll, any row written.
    for (int pass = 40; pass < 50; ++pass) {
        box.SetPixel(pass % 40, 0, PassColour(pass, 0));
        box.SetPixel(3, pass % 30, PassColour(pass, 1));
        box.CopyDownOnePixel(box.ScaleWidth(), box.PixelHeight());
        ASSERT_EQ(OnScreen(window, box), box.Image()) << "pass " << pass;
    }
    // With the first rows covered, the first uncovered row keeps a stale copy after a scroll.
    QWidget cover(&window);
    cover.setAutoFillBackground(true);
    cover.setGeometry(5, 3, 40, 4);
    cover.show();
    QApplication::processEvents();
    for (int pass = 50; pass < 60; ++pass) {
        for (int x = 0; x < box.ScaleWidth(); ++x) box.SetPixel(x, 1, PassColour(pass, x));
        box.CopyDownOnePixel(box.ScaleWidth(), box.PixelHeight());
        ASSERT_EQ(OnScreen(window, box).copy(0, 4, 40, 26), box.Image().copy(0, 4, 40, 26))
            << "pass " << pass;
    }
    cover.hide();
    QApplication::processEvents();
    box.SetPixel(7, 9, kRed);
    QEventLoop loop; // a loop that sleeps, as the program's does between passes
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(OnScreen(window, box), box.Image());
    EXPECT_EQ(At(box, 7, 9), 0xFF0000u);
}

// What covers the box may be a sibling of one of its ancestors: the rows under it are neither
// scrolled on the screen nor lost.
TEST(PictureBoxRingTest, ACoverOverAnAncestorIsLeftAlone) {
    QWidget window;
    window.resize(70, 50);
    QWidget panel(&window);
    panel.setGeometry(4, 2, 60, 44);
    PictureBox box(&panel, 0);
    box.Move(3, 5, 40, 30);
    QWidget cover(&window);
    cover.setAutoFillBackground(true);
    cover.setGeometry(0, 0, 70, 2 + 5 + 6); // the box's first six rows
    Show(window);
    if (OnScreen(window, box).isNull()) GTEST_SKIP() << "this platform cannot grab windows";
    for (int pass = 0; pass < 30; ++pass) {
        for (int x = 0; x < box.ScaleWidth(); ++x) box.SetPixel(x, 1, PassColour(pass, x));
        box.CopyDownOnePixel(box.ScaleWidth(), box.PixelHeight());
        ASSERT_EQ(OnScreen(window, box).copy(0, 6, 40, 24), box.Image().copy(0, 6, 40, 24))
            << "pass " << pass;
    }
    // A cover that moves, or that stops hiding what lies under it, changes what is open (with
    // events between passes: a move makes Qt repaint, and the scroll waits for that).
    cover.setGeometry(0, 0, 70, 2 + 5 + 3);
    QApplication::processEvents();
    for (int pass = 30; pass < 40; ++pass) {
        for (int x = 0; x < box.ScaleWidth(); ++x) box.SetPixel(x, 1, PassColour(pass, x));
        box.CopyDownOnePixel(box.ScaleWidth(), box.PixelHeight());
        QApplication::processEvents();
        ASSERT_EQ(OnScreen(window, box).copy(0, 3, 40, 27), box.Image().copy(0, 3, 40, 27))
            << "pass " << pass;
    }
    cover.setAutoFillBackground(false);
    QApplication::processEvents();
    for (int pass = 40; pass < 50; ++pass) {
        for (int x = 0; x < box.ScaleWidth(); ++x) box.SetPixel(x, 1, PassColour(pass, x));
        box.CopyDownOnePixel(box.ScaleWidth(), box.PixelHeight());
        QApplication::processEvents();
        ASSERT_EQ(OnScreen(window, box), box.Image()) << "pass " << pass;
    }
    cover.setAutoFillBackground(true);
    cover.hide();
    QApplication::processEvents();
    EXPECT_EQ(OnScreen(window, box), box.Image());
}

// ---- drawing that waits ---------------------------------------------------------------------

// One spectrum pass: a new scale, a clear and a connected trace from (-1, baseline).
void TracePass(PictureBox& box, std::mt19937& random, int pass, bool readAfterEachStep) {
    const auto look = [&] {
        if (readAfterEachStep) (void)box.Image();
    };
    const double peak = 0.1 + (random() % 1000) / 100.0;
    box.setScaleHeight(static_cast<float>(peak * 1.05));
    box.setForeColor(PassColour(pass, 0));
    box.Cls();
    look();
    const float baseline = static_cast<float>(peak * 1.025);
    box.CurrentX = -1;
    box.CurrentY = baseline;
    for (int column = 0; column < box.ScaleWidth() + 2; ++column) {
        const double level = (random() % 1200) / 100.0; // sometimes above the top
        box.LineTo(static_cast<float>(column), static_cast<float>(baseline - level));
        look();
    }
    if (pass % 5 == 2) {
        box.SetPixel(pass % box.ScaleWidth(), 3, kRed);
        look();
    }
}

TEST(PictureBoxLazyTest, AShownTraceReachesTheScreen) {
    QWidget window;
    window.resize(200, 100);
    PictureBox box(&window, 0);
    box.Move(0, 0, 149, 63);
    Show(window);
    if (OnScreen(window, box).isNull()) GTEST_SKIP() << "this platform cannot grab windows";
    std::mt19937 random(3);
    for (int pass = 0; pass < 5; ++pass) {
        TracePass(box, random, pass, false);
        QApplication::processEvents();
    }
    EXPECT_EQ(OnScreen(window, box), box.Image());
}

} // namespace
