// SPDX-License-Identifier: GPL-3.0-or-later
// A real analyser window on one simulated input device, in a temporary program folder, with
// message boxes recorded instead of shown.
#pragma once

#include "analyser/fFFT.h"
#include "platform/sound/wave_in_simulated.h"
#include "platform/system/message_box.h"
#include "tools/loop_driver.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

class LoadedWindowTest : public ::testing::Test {
protected:
    // Creates and loads the window over whatever the program folder holds by then.
    fFFT& load() {
        w_ = std::make_unique<fFFT>(base_.path());
        w_->Form_Load();
        return *w_;
    }
    fFFT& w() { return *w_; }
    // Until the loop waits for a buffer.
    bool ToBlockWait() {
        return loop_driver::SpinUntil(
            [this] { return w().LoopWaitingFor() == fFFT::LoopWait::Block; });
    }
    // Start and run up to the first block read (two completed buffers).
    void StartToFirstBlock() {
        w().mnuStart_Click();
        ASSERT_TRUE(ToBlockWait());
        ASSERT_TRUE(input_.completeBuffer());
        ASSERT_TRUE(ToBlockWait());
        ASSERT_TRUE(input_.completeBuffer());
        ASSERT_TRUE(loop_driver::ToNextPassParkedAt(w(), fFFT::LoopPoint::AfterRead));
    }
    // The window goes first: its teardown may still read what a suite added (a clock, a time).
    void TearDown() override { w_.reset(); }

    QTemporaryDir base_;
    platform::MessageBoxRecorder messages_;
    platform::SimulatedWaveIn input_; // one suitable device
    std::unique_ptr<fFFT> w_;
};
