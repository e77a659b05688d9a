// SPDX-License-Identifier: GPL-3.0-or-later
// The frequency readout under the pointer and the picture clicks, driven by mouse events
// delivered as the application delivers them (so a move a picture leaves unhandled would travel
// on to the window's background).
#include "analyser/fFFT.h"
#include "analyser/readouts.h"
#include "platform/system/message_box.h"
#include "platform/system/rounding.h"
#include "platform/ui/events.h"
#include "platform/sound/wave_in_simulated.h"
#include "window_fixture.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ReadoutWindowTest : public LoadedWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(base_.isValid());
        ASSERT_FALSE(load().IsClosed());
        // The worked example's range over the designed 780 columns.
        w_->nuRangeLow = 1;
        w_->nuRangeHigh = 781;
        ASSERT_EQ(w_->nuWaterLast, 779);
    }
    static void Send(QWidget* target, QEvent::Type type, QPointF at, Qt::MouseButton button,
                     Qt::MouseButtons held) {
        QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    static void MoveOver(QWidget* target, QPointF at, Qt::MouseButtons held = Qt::NoButton) {
        Send(target, QEvent::MouseMove, at, Qt::NoButton, held);
    }
    static void ClickOn(QWidget* target, QPointF at) {
        Send(target, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        Send(target, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    }
    QString readout() const { return w_->lbFreq->Caption(); }
    // Where the label must sit for pointer column x: centred on x from picSpectrum's left edge.
    int centredLeft(double x) const {
        return platform::rnd(x + w_->picSpectrum->x() - w_->lbFreq->width() / 2.0);
    }
};

TEST_F(ReadoutWindowTest, BothPicturesShowTheFrequencyUnderThePointerAndCentreTheLabel) {
    const int top = w().lbFreq->y();

    MoveOver(w().picWaterfall, {390, 100});
    EXPECT_EQ(readout(), "392") << "1 + 780 * 390 / 779 = 391.5006";
    EXPECT_EQ(w().lbFreq->x(), centredLeft(390));
    EXPECT_EQ(w().lbFreq->y(), top);

    MoveOver(w().picSpectrum, {0, 5});
    EXPECT_EQ(readout(), "1");
    EXPECT_EQ(w().lbFreq->x(), centredLeft(0));
    MoveOver(w().picSpectrum, {779, 200});
    EXPECT_EQ(readout(), "781");
    EXPECT_EQ(w().lbFreq->x(), centredLeft(779));
    EXPECT_EQ(w().lbFreq->y(), top) << "the label only ever moves sideways";

    // Ties go to the even neighbour: 2 + 1 * 1 / 2 = 2.5.
    w().nuRangeLow = 2;
    w().nuRangeHigh = 3;
    w().nuWaterLast = 2;
    MoveOver(w().picWaterfall, {1, 0});
    EXPECT_EQ(readout(), "2");

    // Each move reads the current range.
    w().nuWaterLast = 779;
    w().scrRange_Change();
    MoveOver(w().picWaterfall, {779, 0});
    EXPECT_EQ(readout().toStdString(), analyser::ReadoutText(w().nuRangeHigh));
}

TEST_F(ReadoutWindowTest, ButtonHeldBeyondThePictureExtrapolates) {
    // Pressed inside, dragged outside: the picture keeps getting the moves.
    MoveOver(w().picWaterfall, {-10, 50}, Qt::LeftButton);
    EXPECT_EQ(readout(), "-9") << "1 - 7800 / 779 = -9.013";
    EXPECT_EQ(w().lbFreq->x(), centredLeft(-10));

    MoveOver(w().picWaterfall, {800, 300}, Qt::LeftButton);
    EXPECT_EQ(readout(), "802") << "1 + 624000 / 779 = 802.03";
    EXPECT_EQ(w().lbFreq->x(), centredLeft(800));
}

TEST_F(ReadoutWindowTest, EmptyWhileBuffering) {
    // lbBuffering lies in a hidden panel: only its own flag tells that a run is buffering.
    w().lbBuffering->show();
    MoveOver(w().picWaterfall, {390, 10});
    EXPECT_EQ(readout(), "");
    MoveOver(w().picSpectrum, {390, 10});
    EXPECT_EQ(readout(), "");

    w().lbBuffering->hide();
    MoveOver(w().picSpectrum, {390, 10});
    EXPECT_EQ(readout(), "392");

    // A real run buffers until its first block arrives.
    w().mnuStart_Click();
    MoveOver(w().picWaterfall, {390, 10});
    EXPECT_EQ(readout(), "");
    w().mnuStop_Click();
    MoveOver(w().picWaterfall, {390, 10});
    EXPECT_EQ(readout(), "392");
}

TEST_F(ReadoutWindowTest, MovesOverTheBackgroundAndEveryFrameEmptyTheReadout) {
    auto set = [&] {
        MoveOver(w().picWaterfall, {390, 10});
        ASSERT_EQ(readout(), "392");
    };
    set();
    MoveOver(w().Form, {3, 300}); // left of the pictures
    EXPECT_EQ(readout(), "");

    set();
    MoveOver(w().Frame1, {320, 4});
    EXPECT_EQ(readout(), "");

    for (size_t i = 0; i < w().fr.size(); ++i) {
        if (!w().fr[i]) continue;
        set();
        MoveOver(w().fr[i], {2, 2});
        EXPECT_EQ(readout(), "") << "frame " << i;
    }
}

TEST_F(ReadoutWindowTest, SpectrumPassesTheFocusToTheWaterfall) {
    w().activateWindow();
    platform::DoEvents();
    w().Text1->setFocus();
    if (QApplication::focusWidget() != w().Text1)
        GTEST_SKIP() << "this display gives the window no keyboard focus";
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(w().picSpectrum, &in);
    EXPECT_EQ(QApplication::focusWidget(), w().picWaterfall);
}

TEST_F(ReadoutWindowTest, ClicksOnTheWaterfallOrTheSamplePictureFreeze) {
    ClickOn(w().picWaterfall, {100, 100});
    EXPECT_EQ(w().ckFreeze->Value(), 1);
    EXPECT_TRUE(w().isFrozen);
    ClickOn(w().picWaterfall, {100, 100}); // already frozen: stays so
    EXPECT_EQ(w().ckFreeze->Value(), 1);

    w().ckFreeze->setValue(0);
    ASSERT_FALSE(w().isFrozen);
    ClickOn(w().Picture1, {10, 10});
    EXPECT_TRUE(w().isFrozen);

    // Through the window, on the sample's name: the caption lets the click through.
    w().ckFreeze->setValue(0);
    const QPoint onLabel = w().Label1->mapTo(&w(), w().Label1->rect().center());
    ASSERT_EQ(w().childAt(onLabel), w().Picture1);
    ASSERT_NE(w().windowHandle(), nullptr);
    QTest::mouseClick(w().windowHandle(), Qt::LeftButton, Qt::NoModifier, onLabel);
    EXPECT_TRUE(w().isFrozen);

    // Elsewhere a click does not freeze.
    w().ckFreeze->setValue(0);
    ClickOn(w().Form, {3, 300});
    EXPECT_FALSE(w().isFrozen);
}

} // namespace
