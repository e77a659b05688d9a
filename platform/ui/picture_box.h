// SPDX-License-Identifier: GPL-3.0-or-later
// A picture box: a widget that keeps everything drawn into it in a persistent 32-bit image and
// paints itself from that image; drawing in pixels, or with a user scale for the vertical axis.
//
// Two things keep a live waterfall cheap without changing a single pixel anyone can see or read:
// - The image is a ring of rows. Copying the whole picture one pixel down turns the ring by one
//   row and copies one row, and the widget's backing store is scrolled the same way, so only the
//   rows that really changed are painted again.
// - Lines and clears are kept as a list and drawn into the image only when someone looks: when
//   the box is painted, its image or a pixel is read, or another kind of drawing comes. A hidden
//   picture that is cleared and traced on every pass therefore costs almost nothing.
// Readers (Image, Pixel, SaveBmp, the screen) always see the rows in their visible order.
#pragma once

#include <QImage>
#include <QRegion>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/ui/controls.h"

class QPainter;

namespace platform {

class PictureBox : public QWidget {
public:
    PictureBox(QWidget* parent, std::int32_t backColour);

    // Places the box and resizes its image at once (also while hidden, when Qt would only resize
    // on showing). What was drawn stays in the top-left corner; new area gets the back colour.
    void Move(int left, int top, int width, int height);

    // Drawable size in pixels.
    int ScaleWidth() const { return image_.width(); }
    int PixelHeight() const { return image_.height(); }
    // Vertical scale: y runs from 0 at the top to ScaleHeight at the bottom. Setting it makes
    // the vertical axis use those units; ScalePixels() goes back to pixels. x is always pixels.
    double ScaleHeight() const { return scaleHeight_; }
    void setScaleHeight(double height);
    void ScalePixels();

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
    // Sets one pixel given in pixels, straight into the image's scan line; out of range is ignored.
    // It reaches the screen with the next CopyDownOnePixel, or else before the program next waits
    // for events.
    void SetPixel(int x, int y, std::int32_t packed);
    // SetPixel(x, y, packed[x]) for every x of the span, at once.
    void SetPixelRow(int y, std::span<const std::int32_t> packed);
    // Writes text in the fore colour with its top-left corner at the current point, then moves
    // the current point to the start of the next line.
    void Print(const QString& text);

    // Copies the block (0, 0, width, height) one pixel down onto itself, clipped to the picture:
    // row y goes to y + 1, row 0 keeps what it holds. For the whole picture this turns the ring
    // and copies one row.
    void CopyDownOnePixel(int width, int height);
    void CopyDownOnePixel() { CopyDownOnePixel(image_.width(), image_.height()); }

    // Writes the image as a BMP file to exactly this path (no extension is added).
    bool SaveBmp(const QString& path) const;
    // Shows the picture in the file (format read from the content) from the top-left corner,
    // unscaled, on the back colour. On failure nothing changes and false is returned.
    bool LoadPicture(const QString& path);
    // The same for a picture already in memory; a null image changes nothing.
    bool SetPicture(const QImage& picture);

    // The picture in visible order (a shallow copy while the ring is not turned).
    QImage Image() const;

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
    // A line waiting to be drawn, as it was given: in scale units, with the vertical scale of the
    // moment. Turning it into pixels waits too, as nobody may ever look (the image's size cannot
    // change meanwhile: a resize draws what is pending first).
    struct PendingLine {
        double x0, y0, x1, y1;
        double scaleHeight;
        std::uint32_t rgb;
    };

    void resizeImage(int width, int height);
    // Paints the picture's rows in `rows` (box coordinates) at the same place.
    void drawRows(QPainter& painter, const QRect& rows) const;
    // The same straight into a backing store's image at `offset`; false where it is not one.
    bool copyRows(QPaintDevice* device, const QRect& rows, const QPoint& offset) const;
    int toPixelX(double x) const;
    int toPixelY(double y) const { return PixelY(y, scaleHeight_, rows_); }
    static int PixelY(double y, double scaleHeight, int rows);
    double fromPixelY(int py) const;
    std::uint32_t* row(int y) const;
    void drawLine(int x0, int y0, int x1, int y1, std::uint32_t rgb) const;
    // Draws what is pending into the image; every reader and every other writer calls it first.
    void settle() const;
    // Turns the ring back so that row 0 of the picture is the image's first scan line.
    void unturn() const;
    void changed(int top, int bottom);
    void changedAll() { changed(0, image_.height() - 1); }
    // Notes that SetPixel wrote row y.
    void notePixelRow(int y);
    // Hands the rows SetPixel wrote to Qt's repainting.
    void tellPixels();
    // Moves the uncovered part `open` of the box one row down in the window's backing store, draws
    // the rows that changed and shows them, all at once and without Qt's repaint request (an
    // event-loop round trip per pass). False, with nothing done, where the backing store cannot.
    bool scrollOnScreen(const QRect& open);
    // visibleRegion(), quickly where nothing covers the box or the covers have not changed.
    QRegion openRegion() const;
    // What the uncovered part of the box was last worked out from.
    struct OpenRegionKey {
        struct Cover {
            const QWidget* widget;
            QRect geometry;
            std::uint8_t looks;
            friend bool operator==(const Cover&, const Cover&) = default;
        };
        QPoint placeInWindow;
        QSize size;
        QRect clip;
        std::array<Cover, 8> cover{};
        std::size_t covers = 0;
        friend bool operator==(const OpenRegionKey&, const OpenRegionKey&) = default;
    };

    // Kept in order as the pixels of the image; mutable because readers settle the pending
    // drawing and may unturn the ring, neither of which changes what the picture shows.
    mutable QImage image_;
    mutable int top_ = 0; // scan line of the picture's row 0
    int rows_ = 0;        // image_.height(), which is not inline, for the per-point scaling
    mutable std::vector<PendingLine> pending_;
    mutable bool clearPending_ = false; // fill with clearColour_ before the pending lines
    mutable std::uint32_t clearColour_ = 0;
    std::int32_t back_;
    std::int32_t fore_ = 0;
    double scaleHeight_ = 0; // 0: pixels
    // Rows (of the picture) already handed to Qt for repainting since the last paint.
    int updateTop_ = 0;
    int updateBottom_ = -1;
    // Rows SetPixel wrote that neither Qt nor the screen has been given yet.
    int pixelTop_ = 0;
    int pixelBottom_ = -1;
    // Screen scrolls done behind Qt's back since the last paint: a repaint Qt had pending from
    // before them is for rows that have moved on by up to this many.
    int screenScrolls_ = 0;
    mutable OpenRegionKey openKey_;
    mutable QRegion openRegion_;
};

} // namespace platform
