// SPDX-License-Identifier: GPL-3.0-or-later
// The pixels of a picture box, without the widget: a persistent 32-bit image kept as a ring of
// rows, and the lines and clears that wait until someone reads the picture.
//
// Two things keep a live waterfall cheap without changing a single pixel anyone can read:
// - Copying the whole picture one pixel down turns the ring by one row and copies one row.
// - Lines and clears are kept as a list and drawn into the image only when someone looks (a read,
//   a paint, or another kind of drawing), so a hidden picture that is cleared and traced on every
//   pass costs almost nothing.
// Every reader sees the rows in their visible order.
#pragma once

#include <QImage>

#include <cstdint>
#include <span>
#include <vector>

class QFont;
class QPainter;
class QPoint;
class QRect;
class QString;

namespace platform {

class Canvas {
public:
    // Rows y .. y + count - 1 of the picture, as readers see them.
    struct Rows {
        int top = 0;
        int bottom = -1;
        bool empty() const { return top > bottom; }
    };

    int width() const { return cols_; }
    int height() const { return rows_; }

    // A new size; what was drawn stays in the top-left corner, new area gets `fill`.
    void resize(int width, int height, std::uint32_t fill);
    // Every pixel `argb` at once; what was pending is dropped.
    void fill(std::uint32_t argb);
    // Every pixel `argb` once someone looks; lines added after it are drawn over it.
    void clearLater(std::uint32_t argb);
    // A line from (x0, y0) to (x1, y1), end point excluded, drawn once someone looks. x is in
    // pixels; y in units of which `scaleHeight` span the picture's height (0: pixels). The line
    // keeps the scale it was given, whatever scale later lines use.
    // Inline: a spectrum trace adds hundreds of lines in every pass.
    void lineLater(double x0, double y0, double x1, double y1, double scaleHeight,
                   std::uint32_t argb) {
        if (cols_ == 0) return;
        pending_.push_back({x0, y0, x1, y1, scaleHeight, argb});
        if (pending_.size() >= kMaxPendingLines) settle();
    }

    void setPixel(int x, int y, std::uint32_t argb);
    // setPixel(x, y, packed colour of row[x]) from x = 0, as far as the picture reaches.
    void setRow(int y, std::span<const std::int32_t> packed);
    // Text with its top-left corner at (x, y) in pixels; returns the rows it may have touched.
    Rows drawText(int x, int y, const QString& text, const QFont& font, std::uint32_t argb);

    // Copies the block (0, 0, width, height) one pixel down onto itself, clipped to the picture:
    // row y goes to y + 1, row 0 keeps what it holds. True when that was the whole picture, which
    // turns the ring and copies one row; otherwise it moved the rows of the block.
    bool copyDownOnePixel(int width, int height);

    // Shows `picture` from the top-left corner, unscaled, on `back`.
    void setPicture(const QImage& picture, std::uint32_t back);
    // The picture in visible order (a shallow copy while the ring is not turned).
    QImage image() const;

    // Paints the rows of `area` (picture coordinates) at the same place of the painter.
    void paint(QPainter& painter, const QRect& area) const;
    // Copies the rows of `area` straight into `target` at `offset`, which must hold them and be
    // a 32-bit RGB image; false, with nothing done, where it is not.
    bool copyInto(QImage& target, const QRect& area, const QPoint& offset) const;

    // Row of the picture for y in units of which scaleHeight span `rows` (0: pixels), rounded
    // half to even and pinned far outside the picture.
    static int PixelY(double y, double scaleHeight, int rows);
    // Column for x, rounded and pinned the same way.
    static int PixelX(double x);

private:
    struct PendingLine {
        double x0, y0, x1, y1;
        double scaleHeight;
        std::uint32_t argb;
    };

    // A hidden picture traced without ever being read still gets drawn now and then, so the list
    // of pending lines stays small.
    static constexpr std::size_t kMaxPendingLines = 4096;

    std::uint32_t* row(int y) const;
    void drawLine(int x0, int y0, int x1, int y1, std::uint32_t argb) const;
    // Draws what is pending into the image; every reader and every other writer calls it first.
    void settle() const;
    // Turns the ring back so that row 0 of the picture is the image's first scan line.
    void unturn() const;

    // Mutable because readers settle the pending drawing and may unturn the ring, neither of
    // which changes what the picture shows.
    mutable QImage image_;
    mutable int top_ = 0; // scan line of the picture's row 0
    // image_'s size, which QImage does not give inline, for the per-point work.
    int cols_ = 0;
    int rows_ = 0;
    mutable std::vector<PendingLine> pending_;
    mutable bool clearPending_ = false;
    mutable std::uint32_t clearColour_ = 0;
};

} // namespace platform
