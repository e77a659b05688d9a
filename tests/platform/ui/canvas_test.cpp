// SPDX-License-Identifier: GPL-3.0-or-later
// The picture's pixels without a widget: the ring of rows and the drawing that waits until
// someone reads, both checked against plainly drawn pictures.
#include "platform/ui/canvas.h"

#include "plain_picture.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <gtest/gtest.h>

#include <random>

using namespace platform;

namespace {

constexpr std::uint32_t kBlack = 0xFF000000u;
constexpr std::uint32_t kRed = 0xFFFF0000u;
constexpr std::uint32_t kGreenish = 0xFF043C32u;

void SetRow(Canvas& canvas, int y, int pass) {
    std::vector<std::int32_t> row(static_cast<std::size_t>(canvas.width()));
    for (int x = 0; x < canvas.width(); ++x) row[static_cast<std::size_t>(x)] = PassColour(pass, x);
    canvas.setRow(y, row);
}

// One waterfall pass on both: a new row 1, the scroll, and now and then a tick line at row 2.
void Pass(Canvas& canvas, PlainPicture& plain, int pass) {
    SetRow(canvas, 1, pass);
    for (int x = 0; x < canvas.width(); ++x) plain.set(x, 1, PassColour(pass, x));
    EXPECT_TRUE(canvas.copyDownOnePixel(canvas.width(), canvas.height()));
    plain.copyDown();
    if (pass % 7 == 3) {
        canvas.lineLater(canvas.width(), 2, 0, 2, 0, kGreenish);
        for (int x = 1; x < canvas.width(); ++x) plain.image.setPixel(x, 2, kGreenish);
    }
}

TEST(CanvasRingTest, ManyScrollsReadAsThePlainPicture) {
    Canvas canvas;
    canvas.resize(13, 9, kBlack);
    PlainPicture plain(13, 9);
    // Far more passes than rows, so the ring wraps many times before anyone reads it.
    for (int pass = 0; pass < 9 * 5 + 4; ++pass) Pass(canvas, plain, pass);
    EXPECT_EQ(canvas.image(), plain.image);
    EXPECT_EQ(canvas.image().pixel(0, 0), kBlack) << "row 0 keeps the background";

    // Reads in between (each puts the ring straight) change nothing either.
    for (int pass = 100; pass < 130; ++pass) {
        Pass(canvas, plain, pass);
        if (pass % 4 == 0) {
            ASSERT_EQ(canvas.image(), plain.image) << pass;
        }
    }

    // Text needs the rows in order; it lands where it would on the plain picture.
    for (int pass = 300; pass < 305; ++pass) Pass(canvas, plain, pass);
    const QFont font;
    const Canvas::Rows touched = canvas.drawText(0, 3, "12:34:50", font, 0xFFFFFFFFu);
    {
        QPainter painter(&plain.image);
        painter.setFont(font);
        painter.setPen(QColor(255, 255, 255));
        painter.drawText(0, 3 + QFontMetrics(font).ascent(), "12:34:50");
    }
    EXPECT_LE(touched.top, 3);
    EXPECT_EQ(touched.bottom, 8) << "clipped to the picture";
    for (int pass = 400; pass < 411; ++pass) Pass(canvas, plain, pass);
    EXPECT_EQ(canvas.image(), plain.image);

    // Painting a turned ring shows the rows in their visible order, also where it wraps.
    for (int pass = 500; pass < 504; ++pass) Pass(canvas, plain, pass);
    QImage painted(13, 9, QImage::Format_RGB32);
    painted.fill(0xFF123456u);
    {
        QPainter painter(&painted);
        canvas.paint(painter, QRect(0, 0, 13, 9));
    }
    EXPECT_EQ(painted, plain.image);
    QImage copied(20, 20, QImage::Format_ARGB32_Premultiplied);
    copied.fill(0u);
    for (int pass = 600; pass < 603; ++pass) Pass(canvas, plain, pass);
    ASSERT_TRUE(canvas.copyInto(copied, QRect(2, 1, 9, 8), QPoint(5, 6)));
    EXPECT_EQ(copied.copy(7, 7, 9, 8).convertToFormat(QImage::Format_RGB32),
              plain.image.copy(2, 1, 9, 8));
    EXPECT_EQ(copied.pixel(6, 7), 0u) << "nothing outside the rows asked for";
    QImage tooSmall(10, 10, QImage::Format_RGB32);
    EXPECT_FALSE(canvas.copyInto(tooSmall, QRect(0, 0, 13, 9), QPoint(0, 0)));
    QImage indexed(20, 20, QImage::Format_Indexed8);
    EXPECT_FALSE(canvas.copyInto(indexed, QRect(0, 0, 13, 9), QPoint(0, 0)));
}

TEST(CanvasRingTest, PartialScrollsClearsAndPicturesStartFromAStraightPicture) {
    Canvas canvas;
    canvas.resize(6, 5, kBlack);
    PlainPicture plain(6, 5);
    for (int pass = 0; pass < 12; ++pass) Pass(canvas, plain, pass);
    canvas.clearLater(0xFF000009u);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) ASSERT_EQ(canvas.image().pixel(x, y), 0xFF000009u);
    canvas.setPixel(2, 1, kRed);
    EXPECT_TRUE(canvas.copyDownOnePixel(6, 5));
    EXPECT_EQ(canvas.image().pixel(2, 2), kRed);
    EXPECT_EQ(canvas.image().pixel(2, 1), 0xFF000009u);

    // A picture shown over a turned ring sits at the top, and a partial scroll moves only its
    // block.
    for (int pass = 0; pass < 8; ++pass) Pass(canvas, plain, pass);
    QImage stripes(6, 5, QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) stripes.setPixel(x, y, 0xFF000001u + static_cast<uint>(y));
    canvas.setPicture(stripes, kBlack);
    EXPECT_FALSE(canvas.copyDownOnePixel(3, 2));
    EXPECT_EQ(canvas.image().pixel(0, 0), 0xFF000001u);
    EXPECT_EQ(canvas.image().pixel(0, 1), 0xFF000001u);
    EXPECT_EQ(canvas.image().pixel(0, 2), 0xFF000002u);
    EXPECT_EQ(canvas.image().pixel(4, 1), 0xFF000002u) << "columns right of the block stay";
    EXPECT_EQ(canvas.image().pixel(0, 3), 0xFF000004u) << "rows below the block's bottom stay";

    // A larger picture is cut at the edges, a smaller one shows on the back colour.
    QImage small(2, 2, QImage::Format_RGB32);
    small.fill(kRed);
    canvas.setPicture(small, 0xFF0000AAu);
    EXPECT_EQ(canvas.image().pixel(1, 1), kRed);
    EXPECT_EQ(canvas.image().pixel(2, 2), 0xFF0000AAu);

    // Resizing keeps the top-left corner of what is shown, even on a turned ring.
    for (int pass = 0; pass < 3; ++pass) Pass(canvas, plain, pass);
    const QImage before = canvas.image();
    canvas.resize(8, 3, 0xFF00FF00u);
    EXPECT_EQ(canvas.image().copy(0, 0, 6, 3), before.copy(0, 0, 6, 3));
    EXPECT_EQ(canvas.image().pixel(7, 2), 0xFF00FF00u);
}

// ---- drawing that waits ---------------------------------------------------------------------

// One spectrum pass: a new scale, a clear and a connected trace from (-1, baseline).
void TracePass(Canvas& canvas, std::mt19937& random, int pass, bool readAfterEachStep) {
    const auto look = [&] {
        if (readAfterEachStep) (void)canvas.image();
    };
    const double peak = 0.1 + (random() % 1000) / 100.0;
    const double scale = static_cast<float>(peak * 1.05);
    const std::uint32_t colour = ColourToArgb(PassColour(pass, 0));
    canvas.clearLater(kBlack);
    look();
    double x = -1, y = static_cast<float>(peak * 1.025);
    for (int column = 0; column < canvas.width() + 2; ++column) {
        const double level = (random() % 1200) / 100.0; // sometimes above the top
        const double nextY = static_cast<float>(y - level);
        canvas.lineLater(x, y, column, nextY, scale, colour);
        x = column;
        look();
    }
    if (pass % 5 == 2) {
        canvas.setPixel(pass % canvas.width(), 3, kRed);
        look();
    }
}

TEST(CanvasLazyTest, ATraceDrawnWhenReadEqualsOneDrawnAtOnce) {
    Canvas eager, lazy;
    eager.resize(149, 63, kBlack);
    lazy.resize(149, 63, kBlack);
    std::mt19937 a(7), b(7);
    for (int pass = 0; pass < 60; ++pass) {
        TracePass(eager, a, pass, true);
        TracePass(lazy, b, pass, false);
        if (pass % 13 == 0) {
            ASSERT_EQ(lazy.image(), eager.image()) << pass;
        }
    }
    EXPECT_EQ(lazy.image(), eager.image());

    // Many lines without a clear or a read are drawn in batches, still in order, each under the
    // scale it was drawn with.
    double scale = 1;
    for (int i = 0; i < 10000; ++i) {
        const double x = i % 149, y = (i * 7919) % 63 * scale / 63;
        if (i % 700 == 350) scale = 1 + i / 700;
        const std::uint32_t colour = ColourToArgb(PassColour(i, 1));
        eager.lineLater(x, y, x + 3, y / 2, scale, colour);
        (void)eager.image();
        lazy.lineLater(x, y, x + 3, y / 2, scale, colour);
    }
    EXPECT_EQ(lazy.image(), eager.image());

    // Text and pixels go on top of the pending trace, not under it; a resize draws it first.
    for (Canvas* canvas : {&eager, &lazy}) {
        canvas->clearLater(kBlack);
        canvas->lineLater(0, 10, 148, 10, 0, 0xFF0000FFu);
        if (canvas == &eager) (void)canvas->image();
        canvas->drawText(0, 4, "8", QFont(), 0xFFFFFFFFu);
        canvas->lineLater(0, 20, 148, 20, 0, 0xFF0000FFu);
        canvas->setPixel(5, 20, kRed);
        canvas->lineLater(0, 30, 148, 30, 0, 0xFF0000FFu);
        canvas->resize(150, 63, kBlack);
    }
    EXPECT_EQ(lazy.image(), eager.image());
    EXPECT_EQ(lazy.image().pixel(5, 20), kRed);
    EXPECT_EQ(lazy.image().pixel(5, 30), 0xFF0000FFu);
}

TEST(CanvasTest, RowsAndCoordinatesArePinnedAndClipped) {
    Canvas canvas;
    canvas.resize(8, 6, kBlack);
    // Scale units become rows rounding halves to even; far-away values cannot overflow.
    EXPECT_EQ(Canvas::PixelY(1.05, 2.1, 100), 50);
    EXPECT_EQ(Canvas::PixelY(2.5, 0, 6), 2);
    EXPECT_EQ(Canvas::PixelY(3.5, 0, 6), 4);
    EXPECT_EQ(Canvas::PixelX(1e300), 1 << 20);
    EXPECT_EQ(Canvas::PixelX(-std::numeric_limits<double>::infinity()), -(1 << 20));
    canvas.lineLater(-1e300, 2, 1e300, 2, 0, kRed);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(canvas.image().pixel(x, 2), kRed) << x;

    // Writes outside the picture are dropped; a row is cut at the picture's edge.
    canvas.setPixel(-1, 0, kRed);
    canvas.setPixel(8, 0, kRed);
    canvas.setPixel(0, 6, kRed);
    const std::vector<std::int32_t> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    canvas.setRow(-1, ten);
    canvas.setRow(6, ten);
    canvas.setRow(4, ten);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(canvas.image().pixel(x, 4), 0xFF000000u | (static_cast<uint>(x) + 1) << 16);
    int red = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) red += y != 2 && canvas.image().pixel(x, y) == kRed;
    EXPECT_EQ(red, 0);

    // An empty canvas takes every call without drawing anything.
    Canvas empty;
    empty.lineLater(0, 0, 5, 5, 0, kRed);
    empty.setRow(0, ten);
    EXPECT_FALSE(empty.copyDownOnePixel(5, 5));
    EXPECT_TRUE(empty.drawText(0, 0, "x", QFont(), kRed).empty());
    EXPECT_TRUE(empty.image().isNull());
}

} // namespace
