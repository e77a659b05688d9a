// SPDX-License-Identifier: GPL-3.0-or-later
// A picture box: a widget that shows a Canvas (its persistent picture) and keeps the screen up to
// date with it; drawing in pixels, or with a user scale for the vertical axis.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <span>

#include "platform/ui/canvas.h"
#include "platform/ui/controls.h"
#include "platform/ui/screen_scroll.h"

namespace platform {

class PictureBox : public QWidget {
public:
    PictureBox(QWidget* parent, std::int32_t backColour);

    // Places the box and resizes its picture at once (also while hidden, when Qt would only
    // resize on showing). What was drawn stays in the top-left corner; new area gets the back
    // colour.
    void Move(int left, int top, int width, int height);

    // Drawable size in pixels.
    int ScaleWidth() const { return canvas_.width(); }
    int PixelHeight() const { return canvas_.height(); }
    // Vertical scale: y runs from 0 at the top to ScaleHeight at the bottom. Setting it makes
    // the vertical axis use those units; ScalePixels() goes back to pixels. x is always pixels.
    double ScaleHeight() const { return scaleHeight_; }
    void setScaleHeight(double height) { scaleHeight_ = height; }
    void ScalePixels() { scaleHeight_ = 0; }

    std::int32_t ForeColor() const { return fore_; }
    void setForeColor(std::int32_t packed) { fore_ = packed; }
    std::int32_t BackColor() const { return back_; }
    // Like Cls, repaints the picture in the new colour.
    void setBackColor(std::int32_t packed);

    double CurrentX = 0;
    double CurrentY = 0;

    // Clears the picture to the back colour and puts the current point at the origin.
    void Cls();
    // Line from the current point to (x, y) in the fore colour; (x, y) becomes the current point.
    // As with the system's line drawing the end point itself is not set, so a connected trace
    // sets each joint once.
    void LineTo(double x, double y);
    // Line between two points; the second becomes the current point.
    void Line(double x1, double y1, double x2, double y2);
    // Sets one pixel (in scale units); the point becomes the current point.
    void PSet(double x, double y, std::int32_t packed);
    // Sets one pixel given in pixels; out of range is ignored. It reaches the screen with the next
    // CopyDownOnePixel, or else before the program next waits for events.
    void SetPixel(int x, int y, std::int32_t packed);
    // SetPixel(x, y, packed[x]) for every x of the span, at once.
    void SetPixelRow(int y, std::span<const std::int32_t> packed);
    // Writes text in the fore colour with its top-left corner at the current point, then moves
    // the current point to the start of the next line.
    void Print(const QString& text);

    // Copies the block (0, 0, width, height) one pixel down onto itself, clipped to the picture:
    // row y goes to y + 1, row 0 keeps what it holds.
    void CopyDownOnePixel(int width, int height);
    void CopyDownOnePixel() { CopyDownOnePixel(canvas_.width(), canvas_.height()); }

    // Writes the picture as a BMP file to exactly this path (no extension is added).
    bool SaveBmp(const QString& path) const;
    // Shows the picture in the file (format read from the content) from the top-left corner,
    // unscaled, on the back colour. On failure nothing changes and false is returned.
    bool LoadPicture(const QString& path);
    // The same for a picture already in memory; a null image changes nothing.
    bool SetPicture(const QImage& picture);

    // The picture in visible order.
    QImage Image() const { return canvas_.image(); }

    MouseMoveHandler onMouseMove;
    std::function<void()> onClick;
    std::function<void()> onGotFocus;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void resizeCanvas(int width, int height);
    // Asks Qt to repaint rows top..bottom (once per row until it has painted them).
    void changed(int top, int bottom);
    void changedAll() { changed(0, canvas_.height() - 1); }
    // Notes rows written by SetPixel: a scroll takes them to the screen, or else Qt is told
    // before the program sleeps.
    void notePixelRows(int top, int bottom);
    void tellPixels();

    Canvas canvas_;
    std::int32_t back_;
    std::int32_t fore_ = 0;
    double scaleHeight_ = 0; // 0: pixels
    // Rows already handed to Qt for repainting since the last paint.
    Canvas::Rows told_;
    // Rows SetPixel wrote that neither Qt nor the screen has been given yet.
    Canvas::Rows unshown_;
    ScreenScroll screen_;
};

} // namespace platform
