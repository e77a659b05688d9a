// SPDX-License-Identifier: GPL-3.0-or-later
// The magnifier against a real X server: what it grabs, where its outline cuts and that it
// stays above other windows. Run through scripts/harness/x11-display-test.
#include "magnifier/fMagnifier.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

constexpr QRgb kTopLeft = 0xFFE00000u;
constexpr QRgb kTopRight = 0xFF00C000u;
constexpr QRgb kBottomLeft = 0xFF0000D0u;
constexpr QRgb kBottomRight = 0xFFF0F000u;

// A plain window painted in four colours that meet at a chosen point of the screen.
class Quadrants : public QWidget {
public:
    QPoint meet; // in screen coordinates
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QPoint m = mapFromGlobal(meet);
        p.fillRect(QRect(QPoint(0, 0), QPoint(m.x() - 1, m.y() - 1)), QColor(kTopLeft));
        p.fillRect(QRect(QPoint(m.x(), 0), QPoint(width() - 1, m.y() - 1)), QColor(kTopRight));
        p.fillRect(QRect(QPoint(0, m.y()), QPoint(m.x() - 1, height() - 1)), QColor(kBottomLeft));
        p.fillRect(QRect(m, QPoint(width() - 1, height() - 1)), QColor(kBottomRight));
    }
};

QRgb ScreenPixel(QPoint at) {
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 1, 1).toImage();
    return shot.isNull() ? 0u : (shot.pixel(0, 0) | 0xFF000000u);
}

class MagnifierOnX11 : public ::testing::Test {
protected:
    void SetUp() override {
        backdrop.setWindowTitle("backdrop");
        backdrop.resize(900, 700);
        backdrop.move(40, 40);
        backdrop.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&backdrop));
        QTest::qWait(300);
        // The window manager may have put the frame elsewhere; aim at the middle of the inside.
        const QRect inside(backdrop.mapToGlobal(QPoint(0, 0)), backdrop.size());
        backdrop.meet = inside.topLeft() + QPoint(300, 250);
        backdrop.update();
        QCursor::setPos(backdrop.meet);
        QTest::qWait(300);
        ASSERT_EQ(ScreenPixel(backdrop.meet), kBottomRight);
        ASSERT_EQ(ScreenPixel(backdrop.meet - QPoint(1, 1)), kTopLeft);
    }

    Quadrants backdrop;
};

TEST_F(MagnifierOnX11, EnlargesTheRealScreenRoundThePointer) {
    fMagnifier magnifier;
    magnifier.Load();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&magnifier));
    QTest::qWait(200);
    magnifier.Repaint();

    const QPoint topLeft = magnifier.mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(topLeft, backdrop.meet + QPoint(20, 20));

    // The pointer's own pixel is the 21st of the square: its block starts at 101.
    const QImage& pic = magnifier.Picture();
    EXPECT_EQ(pic.pixel(50, 50), kTopLeft);
    EXPECT_EQ(pic.pixel(100, 60), kTopLeft);
    EXPECT_EQ(pic.pixel(101, 60), kTopRight);
    EXPECT_EQ(pic.pixel(150, 50), kTopRight);
    EXPECT_EQ(pic.pixel(60, 100), kTopLeft);
    EXPECT_EQ(pic.pixel(60, 101), kBottomLeft);
    EXPECT_EQ(pic.pixel(50, 150), kBottomLeft);
    EXPECT_EQ(pic.pixel(150, 150), kBottomRight);

    // A pointer moved before the next pass: the window follows and the picture changes.
    QCursor::setPos(backdrop.meet + QPoint(-40, -40));
    QTest::qWait(100);
    magnifier.Repaint();
    QTest::qWait(200);
    EXPECT_EQ(magnifier.mapToGlobal(QPoint(0, 0)), backdrop.meet + QPoint(-20, -20));
    EXPECT_EQ(magnifier.Picture().pixel(150, 150), kTopLeft);
    magnifier.Unload();
}

TEST_F(MagnifierOnX11, IsRoundOnTheScreenAndStaysOnTop) {
    fMagnifier magnifier;
    magnifier.Load();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&magnifier));
    QTest::qWait(300);
    const QPoint at = magnifier.mapToGlobal(QPoint(0, 0));

    // Inside the circle the screen shows the enlarged top-left quadrant; in the window's
    // corners the backdrop beneath (its bottom-right quadrant) shows through.
    EXPECT_EQ(ScreenPixel(at + QPoint(60, 60)), kTopLeft);
    EXPECT_EQ(ScreenPixel(at + QPoint(150, 60)), kTopRight);
    for (QPoint corner : {QPoint(1, 1), QPoint(200, 1), QPoint(1, 200), QPoint(200, 200)})
        EXPECT_EQ(ScreenPixel(at + corner), kBottomRight) << corner.x() << "," << corner.y();

    // Bring the backdrop forward: the magnifier must stay above it.
    backdrop.raise();
    backdrop.activateWindow();
    QTest::qWait(500);
    EXPECT_EQ(ScreenPixel(at + QPoint(60, 60)), kTopLeft);

    magnifier.Unload();
    QTest::qWait(300);
    EXPECT_EQ(ScreenPixel(at + QPoint(60, 60)), kBottomRight) << "closed means gone from view";
}

TEST(MagnifierAtTheScreenEdge, ShowsBlackBeyondTheScreen) {
    // A window placed by us, not the window manager, flat green in the screen's corner.
    QWidget corner(nullptr, Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
    QPalette green;
    green.setColor(QPalette::Window, QColor(kTopRight));
    corner.setPalette(green);
    corner.setAutoFillBackground(true);
    corner.setGeometry(0, 0, 300, 300);
    corner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&corner));
    QCursor::setPos(5, 5);
    QTest::qWait(300);
    ASSERT_EQ(ScreenPixel(QPoint(0, 0)), kTopRight);

    fMagnifier magnifier;
    magnifier.Load();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&magnifier));
    magnifier.Repaint();
    // The square runs from (-15, -15): its first 15 columns and rows lie off the screen.
    const QImage& pic = magnifier.Picture();
    const QRgb black = 0xFF000000u;
    EXPECT_EQ(pic.pixel(75, 150), black);
    EXPECT_EQ(pic.pixel(76, 150), kTopRight);
    EXPECT_EQ(pic.pixel(150, 75), black);
    EXPECT_EQ(pic.pixel(150, 76), kTopRight);
    EXPECT_EQ(pic.pixel(50, 50), black);
    EXPECT_EQ(pic.pixel(150, 150), kTopRight);
    magnifier.Unload();
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
