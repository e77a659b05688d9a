// SPDX-License-Identifier: GPL-3.0-or-later
// The magnifier's view of the desktop: the pointer, the primary screen's size and a grab handle
// held while the window is open. The real source sits over QCursor/QScreen; tests inject their own.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <memory>

namespace magnifier {

// A grab handle on the screen, taken when the magnifier opens and dropped (destroyed) when it
// closes. Destroying it is the release.
class ScreenGrabber {
public:
    virtual ~ScreenGrabber() = default;
    // The screen pixels of rect (coordinates of the primary screen), rect-sized, 32-bit RGB.
    // Pixels beyond the screen are whatever the platform gives (black from the real source).
    // A null image when the platform refuses to grab (offscreen, some Wayland sessions).
    virtual QImage grab(const QRect& rect) = 0;
};

class ScreenSource {
public:
    virtual ~ScreenSource() = default;
    // The pointer, relative to the primary screen's top-left corner.
    virtual QPoint pointer() const = 0;
    virtual QSize screenSize() const = 0;
    // Where the primary screen's (0, 0) lies on the desktop; pointer and grab coordinates are
    // relative to it, window positions are not.
    virtual QPoint screenOrigin() const { return {}; }
    // Null when there is no screen to grab from; the magnifier then shows its background.
    virtual std::unique_ptr<ScreenGrabber> acquire() = 0;
};

// The desktop as Qt sees it: QCursor::pos() and the primary QScreen.
class QtScreenSource final : public ScreenSource {
public:
    QPoint pointer() const override;
    QSize screenSize() const override;
    QPoint screenOrigin() const override;
    std::unique_ptr<ScreenGrabber> acquire() override;
};

} // namespace magnifier
