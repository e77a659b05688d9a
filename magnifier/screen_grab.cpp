// SPDX-License-Identifier: GPL-3.0-or-later
#include "magnifier/screen_grab.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>

namespace magnifier {

namespace {

class QtScreenGrabber final : public ScreenGrabber {
public:
    explicit QtScreenGrabber(QScreen* screen) : screen_(screen) {}

    QImage grab(const QRect& rect) override {
        // The screen may go away (unplugged) while the window is open.
        if (!screen_) return {};
        const QRect visible = rect.intersected(QRect(QPoint(0, 0), screen_->size()));
        if (visible.isEmpty()) {
            // Nothing of the screen lies under the square: all of it is beyond the edge.
            prepare(rect.size());
            return out_;
        }
        const QPixmap shot =
            screen_->grabWindow(0, visible.x(), visible.y(), visible.width(), visible.height());
        if (shot.isNull()) return {};
        QImage part = shot.toImage();
        // Scaled displays hand back device pixels; the magnifier works in logical ones.
        if (part.size() != visible.size()) part = part.scaled(visible.size());
        if (visible == rect && part.format() == QImage::Format_RGB32) return part;
        // Part of the square is beyond the screen: show black there, the screen where it is.
        prepare(rect.size());
        QPainter painter(&out_);
        painter.drawImage(visible.topLeft() - rect.topLeft(), part);
        return out_;
    }

private:
    void prepare(QSize size) {
        if (out_.size() != size) out_ = QImage(size, QImage::Format_RGB32);
        out_.fill(Qt::black);
    }

    QPointer<QScreen> screen_;
    QImage out_;
};

} // namespace

QPoint QtScreenSource::pointer() const {
    return QCursor::pos() - screenOrigin();
}

QPoint QtScreenSource::screenOrigin() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().topLeft() : QPoint();
}

QSize QtScreenSource::screenSize() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize();
}

std::unique_ptr<ScreenGrabber> QtScreenSource::acquire() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return nullptr;
    return std::make_unique<QtScreenGrabber>(screen);
}

} // namespace magnifier
