// SPDX-License-Identifier: GPL-3.0-or-later
#include "magnifier/fMagnifier.h"

#include "magnifier/placement.h"

#include <QCloseEvent>
#include <QPainter>
#include <QRegion>

#include <algorithm>

namespace {

constexpr int kFactor = 5;
constexpr QPoint kPictureAt{1, 1};
constexpr QRgb kCrossPen = 0xFFFF0000u;
constexpr QRgb kRingColour = 0xFF008080u;
constexpr QPoint kRingCentre{99, 99};
constexpr int kRingRadius = 98;

} // namespace

fMagnifier::fMagnifier(magnifier::ScreenSource* source, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      source_(source), picture_(kSide, kSide, QImage::Format_RGB32) {
    if (!source_) {
        ownSource_ = std::make_unique<magnifier::QtScreenSource>();
        source_ = ownSource_.get();
    }
    // It must never take the keyboard from the window the user is working in.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    // The picture covers every pixel; no need for Qt to clear behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    picture_.fill(palette().color(QPalette::Window));
}

fMagnifier::~fMagnifier() {
    ReleaseHandle();
}

void fMagnifier::Load() {
    if (loaded_) return;
    loaded_ = true;
    grabber_ = source_->acquire();
    setFixedSize(kSide, kSide);
    show();
    // Until Repaint has drawn once the window is square; the circle comes after.
    Repaint();
    const int f = width();
    setMask(QRegion(2, 2, f - 2, f - 2, QRegion::Ellipse));
}

void fMagnifier::Unload() {
    if (!loaded_) return;
    ReleaseHandle();
    hide();
    clearMask();
}

void fMagnifier::ReleaseHandle() {
    grabber_.reset();
    loaded_ = false;
}

void fMagnifier::closeEvent(QCloseEvent* event) {
    // Closed from outside (window manager, close()): the same as an unload.
    ReleaseHandle();
    clearMask();
    event->accept();
}

void fMagnifier::Repaint() {
    if (!loaded_) {
        Load(); // draws once itself
        return;
    }
    const QPoint pointer = source_->pointer();
    const QPoint topLeft =
        magnifier::MagnifierTopLeft(pointer, source_->screenSize(), QSize(kSide, kSide));
    move(topLeft + source_->screenOrigin());

    picture_.fill(palette().color(QPalette::Window));
    if (grabber_) {
        const QImage square = grabber_->grab(magnifier::MagnifiedSource(pointer));
        if (!square.isNull()) DrawEnlarged(square);
    }
    DrawCross();
    DrawRing();
    update();
}

void fMagnifier::DrawEnlarged(const QImage& square) {
    // Only the two 32-bit layouts are read directly; anything else is converted (rare: the
    // real source already hands out RGB32).
    const bool direct = square.format() == QImage::Format_RGB32 ||
                        square.format() == QImage::Format_ARGB32 ||
                        square.format() == QImage::Format_ARGB32_Premultiplied;
    const QImage source = direct ? square : square.convertToFormat(QImage::Format_RGB32);
    const int side = magnifier::kSourceSide;
    const int rows = std::min(source.height(), side);
    const int cols = std::min(source.width(), side);
    for (int sy = 0; sy < rows; ++sy) {
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(sy));
        for (int dy = 0; dy < kFactor; ++dy) {
            auto* out =
                reinterpret_cast<QRgb*>(picture_.scanLine(kPictureAt.y() + sy * kFactor + dy));
            QRgb* px = out + kPictureAt.x();
            for (int sx = 0; sx < cols; ++sx) {
                const QRgb colour = in[sx] | 0xFF000000u;
                for (int dx = 0; dx < kFactor; ++dx) *px++ = colour;
            }
        }
    }
}

void fMagnifier::DrawCross() {
    // Pen OR NOT destination keeps the mark visible on any background. Each line leaves out its
    // last pixel, so both arms reach 7 pixels either side of (103, 103), the middle of the
    // pointer's own enlarged pixel; that middle pixel is drawn by both lines and so is
    // inverted twice.
    auto mark = [this](int x, int y) {
        auto* row = reinterpret_cast<QRgb*>(picture_.scanLine(y));
        row[x] = magnifier::MergePenNot(kCrossPen, row[x]);
    };
    for (int y = 96; y < 111; ++y) mark(103, y);
    for (int x = 96; x < 111; ++x) mark(x, 103);
}

void fMagnifier::DrawRing() {
    // A pen two pixels wide centred on the circle: every pixel whose distance from the centre
    // lies in [r - 1, r + 1).
    const int inner = (kRingRadius - 1) * (kRingRadius - 1);
    const int outer = (kRingRadius + 1) * (kRingRadius + 1);
    const int cx = kRingCentre.x();
    const int cy = kRingCentre.y();
    for (int dy = -kRingRadius; dy <= kRingRadius; ++dy) {
        auto* row = reinterpret_cast<QRgb*>(picture_.scanLine(cy + dy));
        for (int dx = -kRingRadius; dx <= kRingRadius; ++dx) {
            const int d2 = dx * dx + dy * dy;
            if (d2 >= inner && d2 < outer) row[cx + dx] = kRingColour;
        }
    }
}

void fMagnifier::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void ToggleMagnifier(bool& isMagnifier, fMagnifier& magnifier) {
    isMagnifier = !isMagnifier;
    if (isMagnifier) {
        magnifier.Load();
    } else {
        magnifier.Unload();
    }
}

void CloseMagnifierAtRunEnd(bool& isMagnifier, fMagnifier& magnifier) {
    if (!isMagnifier) return;
    isMagnifier = false;
    magnifier.Unload();
}
