// SPDX-License-Identifier: GPL-3.0-or-later
#include "magnifier/fMagnifier.h"
#include "magnifier/placement.h"

#include <QRegion>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

constexpr QRgb kRed = 0xFFFF0000u;
constexpr QRgb kRing = 0xFF008080u;

// A desktop under the test's control: where the pointer is, what the screen shows, and how
// many grab handles are out.
struct FakeDesktop final : magnifier::ScreenSource {
    struct Handle final : magnifier::ScreenGrabber {
        explicit Handle(FakeDesktop& desk) : desk(desk) {}
        ~Handle() override { ++desk.released; }
        QImage grab(const QRect& rect) override {
            desk.grabs.push_back(rect);
            desk.maskSetAtGrab.push_back(!desk.window || !desk.window->mask().isEmpty());
            return desk.screen;
        }
        FakeDesktop& desk;
    };

    QPoint pointer() const override { return at; }
    QSize screenSize() const override { return size; }
    std::unique_ptr<magnifier::ScreenGrabber> acquire() override {
        ++acquired;
        if (!hasScreen) return nullptr;
        ++handed;
        return std::make_unique<Handle>(*this);
    }

    void Flat(QRgb colour) {
        screen = QImage(40, 40, QImage::Format_RGB32);
        screen.fill(colour);
    }

    QPoint at{500, 400};
    QSize size{1920, 1080};
    QImage screen;
    bool hasScreen = true;
    int acquired = 0;
    int handed = 0;
    int released = 0;
    std::vector<QRect> grabs;
    std::vector<bool> maskSetAtGrab;
    const QWidget* window = nullptr;
};

class MagnifierWindow : public ::testing::Test {
protected:
    void SetUp() override {
        desk.Flat(qRgb(0, 0, 0));
        window = std::make_unique<fMagnifier>(&desk);
        desk.window = window.get();
    }
    void TearDown() override {
        window.reset();
        EXPECT_EQ(desk.handed, desk.released) << "every grab handle taken must be given back";
    }
    QRgb At(int x, int y) const { return window->Picture().pixel(x, y); }
    QRgb Background() const { return window->palette().color(QPalette::Window).rgb(); }

    FakeDesktop desk;
    std::unique_ptr<fMagnifier> window;
};

TEST_F(MagnifierWindow, FollowsThePointerAndStaysOnTheScreen) {
    struct Case {
        QPoint pointer;
        QPoint topLeft;
    };
    const Case cases[] = {
        {{500, 400}, {520, 420}},    // middle: 20 px right of and below the pointer
        {{1800, 400}, {1718, 420}},  // right edge: touches it, still below the pointer
        {{500, 1000}, {520, 878}},   // bottom edge: touches it, still right of the pointer
        {{1850, 1000}, {1628, 778}}, // corner: flips above and left, 20 px clear of it
    };
    window->Load();
    for (const Case& c : cases) {
        desk.at = c.pointer;
        window->Repaint();
        EXPECT_EQ(window->geometry().topLeft(), c.topLeft) << c.pointer.x() << "," << c.pointer.y();
        EXPECT_EQ(window->size(), QSize(202, 202));
        EXPECT_EQ(desk.grabs.back(), QRect(c.pointer.x() - 20, c.pointer.y() - 20, 40, 40));
        // The enlarged square never covers the window itself.
        EXPECT_FALSE(window->geometry().intersects(desk.grabs.back()));
    }
}

TEST_F(MagnifierWindow, IsRoundOnlyAfterItsFirstDrawing) {
    window->Load();
    ASSERT_EQ(desk.maskSetAtGrab.size(), 1u);
    EXPECT_FALSE(desk.maskSetAtGrab[0]) << "the first drawing happens while still square";
    const QRegion mask = window->mask();
    EXPECT_TRUE(mask.contains(QPoint(101, 101)));
    EXPECT_TRUE(mask.contains(QPoint(101, 3)));
    EXPECT_TRUE(mask.contains(QPoint(3, 101)));
    EXPECT_TRUE(mask.contains(QPoint(200, 101)));
    for (QPoint corner : {QPoint(0, 0), QPoint(201, 0), QPoint(0, 201), QPoint(201, 201),
                          QPoint(20, 20), QPoint(185, 185)})
        EXPECT_FALSE(mask.contains(corner)) << corner.x() << "," << corner.y();
    EXPECT_FALSE(mask.contains(QPoint(1, 101))) << "the circle starts at (2, 2)";
    window->Repaint();
    EXPECT_TRUE(desk.maskSetAtGrab.back());
}

TEST_F(MagnifierWindow, CrossShowsOnAnyBackground) {
    struct Case {
        QRgb screen, arm, middle;
    };
    const Case cases[] = {
        {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 0, 0)},
        {qRgb(255, 255, 255), qRgb(255, 0, 0), qRgb(255, 255, 255)},
        {qRgb(128, 128, 128), qRgb(255, 127, 127), qRgb(255, 128, 128)},
        {qRgb(10, 200, 30), qRgb(255, 55, 225), qRgb(255, 200, 30)},
    };
    window->Load();
    for (const Case& c : cases) {
        desk.Flat(c.screen);
        window->Repaint();
        for (int i = 96; i <= 110; ++i) {
            if (i == 103) continue;
            EXPECT_EQ(At(103, i), c.arm) << "vertical arm at y " << i;
            EXPECT_EQ(At(i, 103), c.arm) << "horizontal arm at x " << i;
        }
        // Where the arms cross the pixel is marked twice, which undoes the inversion.
        EXPECT_EQ(At(103, 103), c.middle);
        for (QPoint off : {QPoint(103, 95), QPoint(103, 111), QPoint(95, 103), QPoint(111, 103),
                           QPoint(102, 97), QPoint(104, 109), QPoint(97, 102), QPoint(109, 104)})
            EXPECT_EQ(At(off.x(), off.y()), c.screen) << off.x() << "," << off.y();
    }
}

TEST_F(MagnifierWindow, RingIsTealAndTwoPixelsWide) {
    desk.Flat(qRgb(255, 255, 255));
    window->Load();
    // Straight out from the centre (99, 99) in the four directions: two ring pixels at 97 and
    // 98 px, the picture inside, nothing beyond.
    const int dirs[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const auto& d : dirs) {
        auto at = [&](int r) { return At(99 + d[0] * r, 99 + d[1] * r); };
        EXPECT_EQ(at(96), qRgb(255, 255, 255));
        EXPECT_EQ(at(97), kRing);
        EXPECT_EQ(at(98), kRing);
    }
    EXPECT_NE(At(198, 99), kRing);
    // On the diagonal, 98 px out: 69.3 px along each axis.
    EXPECT_EQ(At(99 + 69, 99 + 69), kRing);
    EXPECT_EQ(At(99 - 69, 99 - 69), kRing);
    EXPECT_EQ(At(99 + 66, 99 + 66), qRgb(255, 255, 255));
}

TEST_F(MagnifierWindow, EnlargesTheSquareFiveTimes) {
    QImage pattern(40, 40, QImage::Format_RGB32);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) pattern.setPixel(x, y, qRgb(x * 6, y * 6, (x * 7 + y) & 255));
    desk.screen = pattern;
    window->Load();

    int checked = 0;
    for (int y = 1; y <= 200; ++y) {
        for (int x = 1; x <= 200; ++x) {
            // Leave out the ring's band and the cross's box; the rest is the picture.
            const int dx = x - 99, dy = y - 99;
            if (dx * dx + dy * dy >= 96 * 96) continue;
            if (x >= 96 && x <= 110 && y >= 96 && y <= 110) continue;
            ASSERT_EQ(At(x, y), pattern.pixel((x - 1) / 5, (y - 1) / 5)) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GT(checked, 25000);
    // Outside the 200 x 200 picture only the background shows.
    for (int i = 0; i < 202; ++i) {
        EXPECT_EQ(At(i, 0), Background());
        EXPECT_EQ(At(0, i), Background());
        EXPECT_EQ(At(201, i), Background());
        EXPECT_EQ(At(i, 201), Background());
    }
}

TEST_F(MagnifierWindow, ShowsBackgroundCrossAndRingWithoutAScreen) {
    // A null grab (offscreen platform, a refusing Wayland session) ...
    desk.screen = QImage();
    window->Load();
    EXPECT_EQ(At(50, 50), Background());
    EXPECT_EQ(At(103, 97), magnifier::MergePenNot(kRed, Background()));
    EXPECT_EQ(At(99, 2), kRing);
    window->Unload();

    // ... and no grab handle at all.
    desk.hasScreen = false;
    desk.grabs.clear();
    window->Load();
    EXPECT_TRUE(window->IsLoaded());
    EXPECT_TRUE(desk.grabs.empty());
    EXPECT_EQ(At(150, 120), Background());
    EXPECT_EQ(At(97, 103), magnifier::MergePenNot(kRed, Background()));
    EXPECT_EQ(At(196, 99), kRing);
}

TEST_F(MagnifierWindow, EveryCloseGivesTheHandleBack) {
    bool isMagnifier = false;
    for (int round = 1; round <= 2; ++round) {
        ToggleMagnifier(isMagnifier, *window);
        EXPECT_TRUE(isMagnifier);
        EXPECT_TRUE(window->IsLoaded());
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(desk.acquired, round);
        EXPECT_EQ(desk.released, round - 1);
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));

        ToggleMagnifier(isMagnifier, *window);
        EXPECT_FALSE(isMagnifier);
        EXPECT_FALSE(window->IsLoaded());
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(desk.released, round);
    }
    // Closing twice or opening twice takes and gives nothing extra.
    window->Unload();
    window->Load();
    window->Load();
    EXPECT_EQ(desk.acquired, 3);
    window->Unload();
    window->Unload();
    EXPECT_EQ(desk.released, 3);
}

TEST_F(MagnifierWindow, RepaintReopensAWindowClosedFromOutside) {
    window->Load();
    ASSERT_TRUE(window->close());
    EXPECT_FALSE(window->IsLoaded());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(desk.released, 1);

    desk.at = QPoint(300, 200);
    window->Repaint();
    EXPECT_TRUE(window->IsLoaded());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(desk.acquired, 2);
    EXPECT_EQ(window->geometry().topLeft(), QPoint(320, 220));
    EXPECT_TRUE(window->mask().contains(QPoint(101, 101)));
    EXPECT_FALSE(window->mask().contains(QPoint(0, 0)));
}

TEST_F(MagnifierWindow, EndOfRunClosesItOnlyIfOpen) {
    bool isMagnifier = false;
    CloseMagnifierAtRunEnd(isMagnifier, *window);
    EXPECT_FALSE(isMagnifier);
    EXPECT_EQ(desk.acquired, 0);
    EXPECT_EQ(desk.released, 0);

    ToggleMagnifier(isMagnifier, *window);
    CloseMagnifierAtRunEnd(isMagnifier, *window);
    EXPECT_FALSE(isMagnifier);
    EXPECT_FALSE(window->IsLoaded());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(desk.released, 1);
    // The next run's first toggle opens it again.
    ToggleMagnifier(isMagnifier, *window);
    EXPECT_TRUE(isMagnifier);
    EXPECT_TRUE(window->IsLoaded());
}

TEST_F(MagnifierWindow, DestroyingAnOpenWindowReleasesTheHandle) {
    window->Load();
    EXPECT_EQ(desk.released, 0);
    window.reset();
    EXPECT_EQ(desk.released, 1);
}

} // namespace
