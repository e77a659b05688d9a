// SPDX-License-Identifier: GPL-3.0-or-later
// The magnifier window: a round, always-on-top window beside the pointer that shows the 40 x 40
// screen square round the pointer enlarged five times, with a cross mark and a ring.
#pragma once

#include "magnifier/screen_grab.h"

#include <QImage>
#include <QWidget>

#include <memory>

// One instance lives as long as its owner (the analyser window); it is opened and closed many
// times. "Loaded" means open: the window is shown and holds a screen grab handle.
//
//   Load()      opens the window: topmost, takes the grab handle, 202 x 202, shows it, draws it
//               once, then clips it to a circle. Does nothing when already open.
//   Unload()    closes the window and releases the grab handle. Does nothing when closed.
//   Repaint()   moves the window beside the pointer and redraws it; call it once per loop pass
//               while the magnifier is wanted. If the window was closed behind our back (the
//               window manager, close()), it opens it again.
//   IsLoaded()  whether it is open.
//
// Closing the window by any means (including close() and the window manager) releases the
// handle; destroying an open instance does too.
class fMagnifier : public QWidget {
    Q_OBJECT

public:
    static constexpr int kSide = 202;

    // Without a source the magnifier watches the real desktop. The source must outlive it.
    explicit fMagnifier(magnifier::ScreenSource* source = nullptr, QWidget* parent = nullptr);
    ~fMagnifier() override;

    void Load();
    void Unload();
    void Repaint();
    bool IsLoaded() const { return loaded_; }

    // What the window shows, as last drawn (kSide x kSide, 32-bit RGB).
    const QImage& Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void DrawEnlarged(const QImage& square);
    void DrawCross();
    void DrawRing();
    void ReleaseHandle();

    std::unique_ptr<magnifier::ScreenSource> ownSource_;
    magnifier::ScreenSource* source_;
    std::unique_ptr<magnifier::ScreenGrabber> grabber_;
    QImage picture_;
    bool loaded_ = false;
};

// The analyser's magnifier button: flips the flag, then opens or closes the window to match.
void ToggleMagnifier(bool& isMagnifier, fMagnifier& magnifier);

// A run has ended for good: the magnifier closes and the next run starts without it.
void CloseMagnifierAtRunEnd(bool& isMagnifier, fMagnifier& magnifier);
