#include "platform/ui_picture_box.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {
std::uint32_t ToRgb32(std::int32_t packed) {
    return 0xFF000000u | (static_cast<std::uint32_t>(packed & 0xFF) << 16) |
           (static_cast<std::uint32_t>(packed & 0xFF00)) |
           (static_cast<std::uint32_t>((packed >> 16) & 0xFF));
}

// Scale coordinates become pixels by rounding halves to even, far-away values are pinned so the
// integer arithmetic of the line drawing cannot overflow.
int ToPixel(double v) {
    if (!std::isfinite(v)) return v > 0 ? 1 << 20 : -(1 << 20);
    return static_cast<int>(std::clamp(std::nearbyint(v), -1048576.0, 1048576.0));
}
} // namespace

PictureBox::PictureBox(QWidget* parent, std::int32_t backColour)
    : QWidget(parent), back_(backColour) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resizeImage(0, 0);
}

void PictureBox::Move(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
    resizeImage(width, height);
}

void PictureBox::resizeImage(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (image_.width() == width && image_.height() == height) return;
    if (width == 0 || height == 0) {
        image_ = QImage();
        changed();
        return;
    }
    QImage next(width, height, QImage::Format_RGB32);
    next.fill(ToRgb32(back_));
    const int w = std::min(width, image_.width());
    const int h = std::min(height, image_.height());
    for (int y = 0; y < h; ++y)
        std::memcpy(next.scanLine(y), image_.constScanLine(y), static_cast<size_t>(w) * 4);
    image_ = std::move(next);
    changed();
}

void PictureBox::setScaleHeight(double height) {
    scaleHeight_ = height;
}

void PictureBox::ScalePixels() {
    scaleHeight_ = 0;
}

int PictureBox::toPixelX(double x) const {
    return ToPixel(x);
}

int PictureBox::toPixelY(double y) const {
    if (scaleHeight_ == 0) return ToPixel(y);
    return ToPixel(y * image_.height() / scaleHeight_);
}

double PictureBox::fromPixelY(int py) const {
    if (scaleHeight_ == 0 || image_.height() == 0) return py;
    return static_cast<double>(py) * scaleHeight_ / image_.height();
}

void PictureBox::setBackColor(std::int32_t packed) {
    back_ = packed;
    if (!image_.isNull()) image_.fill(ToRgb32(back_));
    changed();
}

void PictureBox::Cls() {
    if (!image_.isNull()) image_.fill(ToRgb32(back_));
    CurrentX = 0;
    CurrentY = 0;
    changed();
}

void PictureBox::SetPixel(int x, int y, std::int32_t packed) {
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
    reinterpret_cast<std::uint32_t*>(image_.scanLine(y))[x] = ToRgb32(packed);
    changed();
}

void PictureBox::PSet(double x, double y, std::int32_t packed) {
    SetPixel(toPixelX(x), toPixelY(y), packed);
    CurrentX = x;
    CurrentY = y;
}

void PictureBox::drawLine(int x0, int y0, int x1, int y1, std::uint32_t rgb) {
    // Bresenham, end point excluded; pixels outside the picture are skipped.
    const int w = image_.width();
    const int h = image_.height();
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    while (x0 != x1 || y0 != y1) {
        if (x0 >= 0 && y0 >= 0 && x0 < w && y0 < h)
            reinterpret_cast<std::uint32_t*>(image_.scanLine(y0))[x0] = rgb;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    changed();
}

void PictureBox::LineTo(double x, double y) {
    drawLine(toPixelX(CurrentX), toPixelY(CurrentY), toPixelX(x), toPixelY(y), ToRgb32(fore_));
    CurrentX = x;
    CurrentY = y;
}

void PictureBox::Line(double x1, double y1, double x2, double y2) {
    CurrentX = x1;
    CurrentY = y1;
    LineTo(x2, y2);
}

void PictureBox::Print(const QString& text) {
    if (image_.isNull()) return;
    const QFontMetrics metrics(font());
    {
        QPainter painter(&image_);
        painter.setFont(font());
        painter.setPen(ToQColor(fore_));
        painter.drawText(toPixelX(CurrentX), toPixelY(CurrentY) + metrics.ascent(), text);
    }
    CurrentX = 0;
    CurrentY += fromPixelY(metrics.height());
    changed();
}

void PictureBox::CopyDownOnePixel(int width, int height) {
    const int w = std::min(width, image_.width());
    const int rows = std::min(height, image_.height() - 1); // source rows that land inside
    if (w <= 0 || rows <= 0) return;
    const qsizetype stride = image_.bytesPerLine();
    uchar* bits = image_.bits();
    if (w == image_.width()) {
        std::memmove(bits + stride, bits, static_cast<size_t>(stride) * static_cast<size_t>(rows));
    } else {
        for (int y = rows - 1; y >= 0; --y)
            std::memmove(bits + stride * (y + 1), bits + stride * y, static_cast<size_t>(w) * 4);
    }
    changed();
}

bool PictureBox::SaveBmp(const QString& path) const {
    return image_.save(path, "BMP");
}

bool PictureBox::LoadPicture(const QString& path) {
    QImage picture;
    if (!picture.load(path)) return false;
    return SetPicture(picture);
}

bool PictureBox::SetPicture(const QImage& source) {
    if (source.isNull()) return false;
    const QImage picture = source.convertToFormat(QImage::Format_RGB32);
    image_.fill(ToRgb32(back_));
    const int w = std::min(picture.width(), image_.width());
    const int h = std::min(picture.height(), image_.height());
    for (int y = 0; y < h; ++y)
        std::memcpy(image_.scanLine(y), picture.constScanLine(y), static_cast<size_t>(w) * 4);
    changed();
    return true;
}

void PictureBox::changed() {
    // Many pixel writes per pass: ask for one repaint until it has happened.
    if (repaintPending_) return;
    repaintPending_ = true;
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    repaintPending_ = false;
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    resizeImage(width(), height());
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    if (onMouseMove)
        onMouseMove(event->buttons(), event->modifiers(), event->position().x(),
                    scaleHeight_ == 0
                        ? event->position().y()
                        : event->position().y() * scaleHeight_ / std::max(1, image_.height()));
    QWidget::mouseMoveEvent(event);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onClick)
        onClick();
}

void PictureBox::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (onGotFocus) onGotFocus();
}

} // namespace platform
