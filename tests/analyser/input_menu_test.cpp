// SPDX-License-Identifier: GPL-3.0-or-later
// The Input menu: its entries as the inputs come and go, and what a choice does to a run, on
// simulated devices; then the window that shows it.
#include "analyser/input_menu.h"

#include "capture/mSound.h"
#include "platform/sound/wave_in_simulated.h"
#include "platform/system/message_box.h"
#include "platform/system/perf_counter.h"
#include "tools/loop_driver.h"
#include "window_fixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

#include <gtest/gtest.h>

namespace {

using analyser::InputMenu;
using analyser::InputMenuEntry;
using platform::SimulatedWaveIn;
using platform::VisibleFlag;
using loop_driver::SpinUntil;
using Point = fFFT::LoopPoint;

std::string Describe(const std::vector<InputMenuEntry>& entries) {
    std::string text;
    for (const auto& e : entries)
        text += (e.ticked ? "[x] " : "[ ] ") + e.text + (e.enabled ? "" : " (disabled)") + "; ";
    return text;
}

class InputMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_.setDevices({{"Line in"}, {"USB Detector"}});
        ASSERT_TRUE(mSound::CheckInputDevice()); // the highest: USB Detector
        mSound::ChooseInput("");
    }
    void TearDown() override {
        mSound::StopCapture();
        mSound::ChooseInput("");
    }
    platform::MessageBoxRecorder boxes_;
    SimulatedWaveIn sim_;
    InputMenu menu_;
};

TEST_F(InputMenuTest, TheDefaultComesFirstNamedAfterWhatItRecordsAndTheChoiceIsTicked) {
    auto entries = menu_.entries();
    EXPECT_EQ(Describe(entries), "[x] Default: USB Detector; [ ] Line in; [ ] USB Detector; ");
    EXPECT_EQ(entries[0].key, "");
    EXPECT_EQ(entries[1].key, "Line in");

    EXPECT_FALSE(menu_.choose("Line in", false)) << "idle: the next Start takes it";
    EXPECT_EQ(mSound::ChosenInput(), "Line in");
    EXPECT_EQ(Describe(menu_.entries()),
              "[ ] Default: USB Detector; [x] Line in; [ ] USB Detector; ");

    // Built afresh each time: a device plugged in since is there.
    sim_.setDevices({{"Line in"}, {"USB Detector"}, {"Headset"}});
    EXPECT_EQ(Describe(menu_.entries()),
              "[ ] Default: USB Detector; [x] Line in; [ ] USB Detector; [ ] Headset; ");
}

TEST_F(InputMenuTest, AChosenInputThatWentAwayStaysTickedButCannotBeChosen) {
    (void)menu_.entries(); // listed once, so its name is known
    ASSERT_FALSE(menu_.choose("Line in", false));
    sim_.setDevices({{"USB Detector"}});
    const auto entries = menu_.entries();
    EXPECT_EQ(Describe(entries),
              "[ ] Default; [ ] USB Detector; [x] Line in (not present) (disabled); ")
        << "the scan's device is no longer where it was: the default is not named";
    EXPECT_EQ(entries.back().key, "Line in");

    // Never listed here at all: named by its key.
    mSound::ChooseInput("hw:CARD=Gone");
    EXPECT_EQ(Describe(menu_.entries()).find("[x] hw:CARD=Gone (not present) (disabled)") !=
                  std::string::npos,
              true);
}

TEST_F(InputMenuTest, OnlyAChangeDuringARunRestartsIt) {
    EXPECT_FALSE(menu_.choose("", true)) << "already the default";
    EXPECT_TRUE(menu_.choose("Line in", true));
    EXPECT_FALSE(menu_.choose("Line in", true)) << "the same input again";
    EXPECT_TRUE(menu_.choose("", true));
    EXPECT_FALSE(menu_.choose("USB Detector", false));
    EXPECT_EQ(mSound::ChosenInput(), "USB Detector");
}

// ---- the window ---------------------------------------------------------------------------

class InputWindowTest : public LoadedWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(base_.isValid());
        input_.setDevices({{"Monitor of mic"}, {"Monitor of det"}});
        input_.setSource(platform::SampleSource::Sine(700, 400));
        ASSERT_FALSE(load().IsClosed());
        w_->framePeriodMs = 0;
    }
    void TearDown() override {
        LoadedWindowTest::TearDown();
        mSound::ChooseInput("");
    }
    // Opens the Input menu as a click would and returns its entries' texts.
    std::string MenuTexts() {
        emit w().mnuInput->aboutToShow();
        QStringList texts;
        for (QAction* a : w().mnuInput->actions())
            texts << (a->isChecked() ? "[x] " : "[ ] ") + a->text();
        return texts.join("; ").toStdString();
    }
    QAction* Entry(const QString& text) {
        for (QAction* a : w().mnuInput->actions())
            if (a->text() == text) return a;
        return nullptr;
    }
    platform::ManualClock clock_;
};

TEST_F(InputWindowTest, TheRunMenuListsTheInputsAndTheCaptionNamesTheOneDrawn) {
    const QStringList items = [&] {
        QStringList t;
        for (QAction* a : w().mnuRun->actions()) t << a->text();
        return t;
    }();
    EXPECT_EQ(items.join("; ").toStdString(), "Start; Stop; Input; Exit");
    EXPECT_EQ(MenuTexts(), "[x] Default: Monitor of det; [ ] Monitor of mic; [ ] Monitor of det");
    EXPECT_FALSE(VisibleFlag(w().lbInput)) << "idle: nothing is drawn";

    StartToFirstBlock();
    EXPECT_TRUE(VisibleFlag(w().lbInput));
    EXPECT_EQ(w().lbInput->Caption(), "Input: Monitor of det");
    const QRect free(8, 89, 300, 14);
    EXPECT_EQ(w().lbInput->geometry(), free);
    for (QWidget* c : {static_cast<QWidget*>(w().File1), static_cast<QWidget*>(w().Text1),
                       static_cast<QWidget*>(w().btStart), static_cast<QWidget*>(w().Command3),
                       static_cast<QWidget*>(w().scrSpeed), static_cast<QWidget*>(w().scrHue),
                       static_cast<QWidget*>(w().lb[4]), static_cast<QWidget*>(w().lb[5])})
        EXPECT_FALSE(c->geometry().intersects(free)) << "covers a designed control";

    w().mnuStop_Click();
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_FALSE(VisibleFlag(w().lbInput));
}

TEST_F(InputWindowTest, AChoiceDuringARunRestartsItOnTheNewInputAsANewRateDoes) {
    StartToFirstBlock();
    ASSERT_EQ(input_.openCount(), 1);
    ASSERT_EQ(input_.openedDevice(), 1u);
    MenuTexts();
    ASSERT_NE(Entry("Monitor of mic"), nullptr);
    Entry("Monitor of mic")->trigger();
    ASSERT_TRUE(ToBlockWait());
    EXPECT_EQ(input_.openCount(), 2);
    EXPECT_EQ(input_.openedDevice(), 0u);
    EXPECT_FALSE(w().isIdle);
    EXPECT_TRUE(w().isBuffering);
    EXPECT_EQ(w().lbBuffering->Caption(), "Buffering - Please wait 2 Secs");
    EXPECT_EQ(w().lbInput->Caption(), "Input: Monitor of mic");
    EXPECT_EQ(MenuTexts(), "[ ] Default: Monitor of det; [x] Monitor of mic; [ ] Monitor of det");

    // The same entry again changes nothing; idle, a choice waits for the next Start.
    Entry("Monitor of mic")->trigger();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(input_.openCount(), 2);
    w().mnuStop_Click();
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    MenuTexts();
    Entry("Default: Monitor of det")->trigger();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(input_.openCount(), 2);
    w().mnuStart_Click();
    ASSERT_TRUE(ToBlockWait());
    EXPECT_EQ(input_.openedDevice(), 1u);
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(InputWindowTest, ARemovedInputEndsTheRunWithOneBoxNamingItAndStartTakesTheChoiceThen) {
    StartToFirstBlock();
    clock_.advanceMs(1500); // the read position runs past the sound there is
    input_.disappear("The input \"Monitor of det\" was removed.");
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_TRUE(w().isIdle);
    EXPECT_FALSE(VisibleFlag(w().lbInput));
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(messages_.messages()[0].title, "Sound Input");
    EXPECT_EQ(messages_.messages()[0].text, "The input \"Monitor of det\" was removed.");
    const auto begun = w().PassesBegun();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(w().PassesBegun(), begun);

    // The default is gone with it; the user picks what is left, and Start records that.
    input_.setDevices({{"Monitor of mic"}});
    EXPECT_EQ(MenuTexts(), "[x] Default; [ ] Monitor of mic");
    Entry("Monitor of mic")->trigger();
    StartToFirstBlock();
    EXPECT_EQ(input_.openedDevice(), 0u);
    EXPECT_EQ(w().lbInput->Caption(), "Input: Monitor of mic");
    EXPECT_EQ(messages_.messages().size(), 1u);
}

TEST_F(InputWindowTest, AChosenInputThatIsNotThereAtStartIsReportedOnceAndNothingRuns) {
    MenuTexts();
    Entry("Monitor of mic")->trigger();
    input_.setDevices({{"Monitor of det"}});
    EXPECT_EQ(MenuTexts(), "[ ] Default; [ ] Monitor of det; [x] Monitor of mic (not present)");
    EXPECT_FALSE(Entry("Monitor of mic (not present)")->isEnabled());
    w().mnuStart_Click();
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(messages_.messages()[0].text,
              "The input \"Monitor of mic\" is not available; it may have been unplugged.");
    EXPECT_EQ(input_.openCount(), 0);
}

// A sound server that is slow to answer the open: the window goes on handling its events (the
// loop waits as for any buffer), the wait is not taken for a silent device, and the failure,
// when the server gives up, comes as one box.
TEST_F(InputWindowTest, AnOpenTheServerHasNotAnsweredLeavesTheWindowResponsive) {
    input_.holdOpening();
    w().mnuStart_Click();
    ASSERT_TRUE(ToBlockWait());
    EXPECT_TRUE(input_.isOpening());
    w().Text1->setFocus();
    bool handled = false;
    QMetaObject::invokeMethod(
        &w(), [&] { handled = true; }, Qt::QueuedConnection);
    clock_.advanceMs(10'000);
    ASSERT_TRUE(SpinUntil([&] { return handled; }));
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(w().isIdle) << "not taken for a device gone silent";
    EXPECT_TRUE(messages_.messages().empty());

    input_.finishOpening("the sound server did not answer");
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(messages_.messages()[0].text,
              "The sound input device is no longer available; it may have been unplugged: the "
              "sound server did not answer (input \"Monitor of det\").");
    EXPECT_FALSE(VisibleFlag(w().lbBuffering));

    // Once the server answers again, Start records.
    StartToFirstBlock();
    EXPECT_EQ(messages_.messages().size(), 1u);
}

} // namespace
