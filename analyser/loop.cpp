// SPDX-License-Identifier: GPL-3.0-or-later
// The Start, Stop and Pause commands and the acquisition loop of the analyser window: the Start
// command and RunLoop are coroutines that park at each wait and go on from the event loop (see
// fFFT.h).
#include "analyser/fFFT.h"

#include "analyser/pass.h"
#include "capture/mSound.h"
#include "magnifier/fMagnifier.h"
#include "platform/system/perf_counter.h"
#include "platform/ui/events.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <cmath>

// ---- what the parked loop waits on -------------------------------------------------------------

namespace {
// How long a pass without a block and without a shown magnifier waits for a buffer before it
// looks at the device again; a lost device is then reported at most this much later.
constexpr double kIdlePollMs = 250.0;
} // namespace

void fFFT::SetUpLoop() {
    eventsTimer_ = new QTimer(this);
    eventsTimer_->setSingleShot(true);
    eventsTimer_->setInterval(0);
    connect(eventsTimer_, &QTimer::timeout, this, [this] { OnEventsDue(); });
    waitTimer_ = new QTimer(this);
    waitTimer_->setSingleShot(true);
    waitTimer_->setTimerType(Qt::PreciseTimer);
    connect(waitTimer_, &QTimer::timeout, this, [this] { OnWaitOver(); });
    mSound::SetBufferListener(&fFFT::OnCompletion, this);
    // The magnifier belongs to the run; it must not keep the program alive once we have closed.
    magn->setAttribute(Qt::WA_QuitOnClose, false);
}

void fFFT::TearDownLoop() {
    mSound::SetBufferListener(nullptr, nullptr);
    delete eventsTimer_;
    delete waitTimer_;
    eventsTimer_ = waitTimer_ = nullptr;
}

void fFFT::OnCompletion(void* self) {
    auto* w = static_cast<fFFT*>(self);
    if (w->blockPosted_.exchange(true)) return;
    QMetaObject::invokeMethod(
        w, [w] { w->OnBlockDone(); }, Qt::QueuedConnection);
}

void fFFT::WireLoop() {
    btStart->onClick = [this] { btStart_Click(); };
    btStop->onClick = [this] { btStop_Click(); };
    Command3->onClick = [this] { Command3_Click(); };
    ckFreeze->onClick = [this] { ckFreeze_Click(); };
    btMagn->onClick = [this] { btMagn_Click(); };
    tmrWait->onTimer = [this] { tmrWait_Timer(); };
}

void fFFT::ArmTimer(double ms) {
    if (!waitTimer_) return;
    // Qt's timers count whole milliseconds; a frame wait that ends early is simply armed again.
    waitTimer_->start(static_cast<int>(std::ceil(std::max(ms, 0.0))));
    timerArmed_ = true;
}

void fFFT::Park(std::coroutine_handle<> loop, LoopPoint at, LoopWait wait, double ms) {
    parked_ = loop;
    loopAt_ = at;
    loopWait_ = wait;
    switch (wait) {
    case LoopWait::Events:
        if (eventsTimer_) eventsTimer_->start();
        break;
    case LoopWait::Block:
        if (ms > 0) ArmTimer(ms); // otherwise only a buffer or a wake-up ends the wait
        break;
    case LoopWait::Frame:
    case LoopWait::Sleep:
        ArmTimer(ms);
        break;
    case LoopWait::None:
        break;
    }
}

void fFFT::OnEventsDue() {
    if (loopWait_ == LoopWait::Events) ResumeLoop();
}

void fFFT::OnWaitOver() {
    timerArmed_ = false;
    switch (loopWait_) {
    case LoopWait::Frame: {
        // The frame is measured with the performance counter, like the pass itself.
        const double elapsedMs =
            nuCountFreq > 0
                ? static_cast<double>(platform::QueryPerformanceCounter() - nuCountStart) * 1000.0 /
                      static_cast<double>(nuCountFreq)
                : framePeriodMs;
        if (framePeriodMs - elapsedMs > 0) {
            ArmTimer(framePeriodMs - elapsedMs);
            return;
        }
        ResumeLoop();
        return;
    }
    case LoopWait::Block:
        ++stats_.waitsTimedOut;
        ResumeLoop();
        return;
    case LoopWait::Sleep:
        ResumeLoop();
        return;
    default:
        return;
    }
}

void fFFT::OnBlockDone() {
    blockPosted_.store(false);
    if (loopWait_ == LoopWait::Block) ResumeLoop();
}

void fFFT::WakeLoop() {
    if (loopWait_ != LoopWait::Block) return;
    if (timerArmed_) {
        waitTimer_->stop();
        timerArmed_ = false;
    }
    loopWait_ = LoopWait::Events;
    if (eventsTimer_) eventsTimer_->start();
}

void fFFT::ResumeLoop() {
    // Only a parked loop goes on: while it runs (a message box it shows runs events too) every
    // wake-up finds no wait.
    if (loopWait_ == LoopWait::None || !parked_) return;
    if (timerArmed_) {
        waitTimer_->stop();
        timerArmed_ = false;
    }
    loopWait_ = LoopWait::None;
    std::exchange(parked_, {}).resume();
    if (!run_.active()) run_ = {};
}

void fFFT::FinishRunNow() {
    if (!run_.active()) return;
    isIdle = true;
    isStopRequested = true;
    // Every wait ends at once; the pass runs to its end, the loop returns and the run ends.
    while (run_.active() && loopWait_ != LoopWait::None) ResumeLoop();
}

// ---- commands ---------------------------------------------------------------------------------

void fFFT::mnuStart_Click() {
    if (closed_) return;
    FocusWaterfall();
    ckFreeze->setValue(0);
    isFrozen = false;
    nuBufferCount = 2 * nuResolution;
    lbBuffering->show();
    tmrWait_Timer();
    tmrWait->setEnabled(true);
    isBuffering = true;
    isIdle = false;
    isStopRequested = false;
    stats_ = LoopStats{};
    withoutBlockSince_ = -1;
    stats_.startCount = platform::QueryPerformanceCounter();
    if (run_.active()) {
        // A Start during a run restarts it once the current pass is over.
        restartPending_ = true;
        WakeLoop();
        return;
    }
    run_ = StartCommand();
    run_.start();
}

void fFFT::mnuStop_Click() {
    FocusWaterfall();
    lbBuffering->hide();
    tmrWait->setEnabled(false);
    isIdle = true;
    isStopRequested = true;
    btMagn->setEnabled(false);
    WakeLoop();
}

void fFFT::PostShortcut(const QString& tag) {
    // The command runs from the event loop once the click handler has returned.
    for (QAction* action : mnuRun->actions())
        if (action->data().toString() == tag)
            platform::PostCommand(action, [action] { action->trigger(); });
}

void fFFT::btStart_Click() {
    PostShortcut(mnuStart->data().toString());
    FocusWaterfall();
    Command3->setFocus();
}

void fFFT::btStop_Click() {
    PostShortcut(mnuStop->data().toString());
    FocusWaterfall();
}

void fFFT::Command3_Click() {
    ckFreeze->setValue(1);
}

void fFFT::ckFreeze_Click() {
    isFrozen = ckFreeze->Value() == 1;
    FocusWaterfall();
    WakeLoop();
}

void fFFT::tmrWait_Timer() {
    lbBuffering->setCaption(QString::fromStdString(analyser::BufferingCaption(nuBufferCount)));
    nuBufferCount = nuBufferCount - 1;
    if (nuBufferCount <= 0) tmrWait->setEnabled(false);
}

void fFFT::btMagn_Click() {
    ToggleMagnifier(isMagnifier, *magn);
    FocusWaterfall();
    WakeLoop();
}

// ---- the Start command and RunLoop ----------------------------------------------------------

analyser::LoopTask fFFT::StartCommand() {
    co_await ParkAt(LoopPoint::Starting);
    // Tested before each repetition too: a Stop or a close that came while the Start command let
    // events run must not open the capture again.
    while (!isIdle) {
        oFourier->NumberOfSamples(nuFftSize);
        isStopRequested = false;
        if (!mSound::StartCapture(nuFftSize, nuSampleRate)) {
            lbBuffering->hide();
            isIdle = true;
            break;
        }
        loopSamples_ = nuFftSize;
        frame_.resize(static_cast<std::size_t>(nuFftSize));
        nuTimeScale = nuSampleRate * 1.05;
        lbFreq->show();
        ShowInputInUse();
        co_await RunLoop();
    }
    EndRun();
}

analyser::LoopTask fFFT::RunLoop() {
    nuPeak = 1.0;
    columnCounter_ = 0;
    listedCounter_ = 0;
    restartPending_ = false;
    do {
        nuCountStart = platform::QueryPerformanceCounter();
        columnCounter_ = 0;
        const bool processed = ReadBlock();
        if (processed) {
            co_await ParkAt(LoopPoint::AfterRead);
            DrawBlock();
        }
        const auto [wait, ms] = WaitAfterDraw(processed);
        co_await ParkAt(LoopPoint::AfterDraw, wait, ms);
        if (nuSleepMs != 0) {
            co_await ParkAt(LoopPoint::Sleeping, LoopWait::Sleep, nuSleepMs);
            co_await ParkAt(LoopPoint::AfterSleep);
        }
        if (isMagnifier) {
            magn->Repaint();
            co_await ParkAt(LoopPoint::AfterMagnifier);
        }
        AdvanceReadPosition();
    } while (!isStopRequested && !restartPending_);
    // Ended for a restart (a new rate or resolution): a fresh countdown. A Start during the run
    // has set its own.
    if (isStopRequested && !isIdle) {
        nuBufferCount = 2 * nuResolution;
        tmrWait->setEnabled(true);
        tmrWait_Timer();
        lbBuffering->show();
        isBuffering = true;
    }
}

void fFFT::EndRun() {
    lbInput->hide();
    loopAt_ = LoopPoint::Idle;
    loopWait_ = LoopWait::None;
    restartPending_ = false;
    if (eventsTimer_) eventsTimer_->stop();
    if (timerArmed_) {
        waitTimer_->stop();
        timerArmed_ = false;
    }
    CloseMagnifierAtRunEnd(isMagnifier, *magn);
}

// ---- the parts of a pass ----------------------------------------------------------------------

bool fFFT::ReadBlock() {
    ++passesBegun_;
    const std::uint64_t clampsBefore = mSound::Clamps();
    const bool ready = mSound::BufferReady();
    if (withoutBlockSince_ >= 0) stats_.countWithoutBlock += nuCountStart - withoutBlockSince_;
    withoutBlockSince_ = !ready && !isFrozen && !isBuffering ? nuCountStart : -1;
    if (!isFrozen) {
        ++stats_.passes;
        if (!ready) ++stats_.passesWithoutBlock;
        if (!ready && isBuffering) ++stats_.passesWithoutBlockBuffering;
    }
    stats_.clamps += mSound::Clamps() - clampsBefore;
    if (!ready || isFrozen) return false;
    if (stats_.firstRowCount < 0) stats_.firstRowCount = platform::QueryPerformanceCounter();
    // The whole frame in order: the same values and engine input as SampleAt and RealIn sample
    // by sample, without a call per sample.
    mSound::SamplesAt(mSound::nuStartIndex, loopSamples_, frame_);
    oFourier->RealInFrame(frame_);
    List1->Clear();
    if (isBuffering) {
        lbBuffering->hide();
        isBuffering = false;
        btMagn->setEnabled(true);
        ShowInputInUse(); // a sound server names the source it chose once the sound flows
    }
    return true;
}

void fFFT::DrawBlock() {
    const analyser::SpectrumFrame frame = analyser::SpectrumFrameFor(nuPeak, nuShift);
    picSpectrum->setScaleHeight(frame.scaleHeight);
    const float baseline = frame.baseline;
    nuPeak = 0.1;
    picSpectrum->Cls();
    picSpectrum->CurrentX = -1;
    picSpectrum->CurrentY = baseline;

    // A range change that arrived before the restart may name bins beyond the transform held
    // now, or more columns than the filter history has; both are clipped.
    const std::int32_t firstBin = std::max(nuFirstBin, 0);
    const std::int32_t lastBin = std::min({nuLastBin, loopSamples_ - 1, firstBin + nuWaterWidth});
    columnCounter_ = 0;
    listedCounter_ = 0;
    const std::int32_t threshold = VScroll1->Value(); // no handler runs inside the pass
    // The row's lightness levels are gathered, turned into colours and set in one go; the
    // spectrum trace is another picture, so the order between the two does not matter. Both
    // grow once, then are reused.
    const auto columns = static_cast<std::size_t>(std::max(lastBin - firstBin + 1, 0));
    rowLevels_.resize(columns);
    rowColours_.resize(columns);
    for (std::int32_t j = firstBin; j <= lastBin; ++j) {
        const double v = oFourier->ComplexOut(j + 1);
        nuLevel = ConditionBin(v, columnCounter_);
        if (nuLevel > nuPeak) nuPeak = nuLevel;
        picSpectrum->LineTo(static_cast<float>(columnCounter_),
                            static_cast<float>(baseline - nuGain * nuLevel));
        if (analyser::InHumBand(j, {nuHumFirst, nuHumLast})) nuLevel = nuLevel / nuHumDivisor;
        rowLevels_[static_cast<std::size_t>(columnCounter_)] = nuContrast * nuLevel + nuBright;
        if (analyser::AboveThreshold(threshold, nuLevel, nuContrast, nuBright))
            List1->AddNumber(listedCounter_);
        ++columnCounter_;
        ++listedCounter_;
    }

    analyser::HueColourMap(nuHue).Row(rowLevels_, rowColours_);
    picWaterfall->SetPixelRow(1, rowColours_);
    picWaterfall->CopyDownOnePixel(nuWaterWidth, nuWaterHeight);

    analyser::FormatTimeText(TimeOfDay(), timeText_);
    nuPassCount = nuPassCount + 1;
    const char last = timeText_[7];
    isTickDue = analyser::TickDueAfter(nuPassCount, isTickDue, last);
    if (isTicks && isTickDue && last == '0') {
        picWaterfall->Line(picWaterfall->ScaleWidth(), 2, 0, 2);
        picWaterfall->CurrentY = picWaterfall->CurrentY + 1;
        picWaterfall->Print(QString::fromLatin1(timeText_, 8));
        isTickDue = false;
        nuPassCount = 0;
    }
}

std::pair<fFFT::LoopWait, double> fFFT::WaitAfterDraw(bool processed) {
    if (processed) {
        // Paced: a processed pass lasts at least one display frame, measured from its start.
        const double elapsedMs =
            nuCountFreq > 0
                ? static_cast<double>(platform::QueryPerformanceCounter() - nuCountStart) * 1000.0 /
                      static_cast<double>(nuCountFreq)
                : 0.0;
        if (framePeriodMs - elapsedMs > 0) return {LoopWait::Frame, framePeriodMs - elapsedMs};
        return {LoopWait::Events, 0};
    }
    // A device that has stopped delivering ends the run as a failed capture start does; the
    // capture module has shown why. A frozen display keeps its run whatever the device does.
    if (!isFrozen && !isStopRequested && !mSound::CaptureRunning()) {
        lbBuffering->hide();
        isIdle = true;
        isStopRequested = true;
        return {LoopWait::Events, 0};
    }
    // Without a block there is nothing to do until a buffer completes or a handler changes a
    // flag; a buffer that is already done is taken by the next pass at once. Only a shown
    // magnifier has work in every pass (its repaint); otherwise a pass that wakes up with nothing
    // to do is a wasted wake-up, so the wait ends early only to look at the device again.
    if (isStopRequested || restartPending_ || mSound::BufferWaiting()) return {LoopWait::Events, 0};
    if (framePeriodMs <= 0 || isMagnifier) return {LoopWait::Block, framePeriodMs};
    return {LoopWait::Block, std::max(framePeriodMs, kIdlePollMs)};
}

void fFFT::AdvanceReadPosition() {
    if (columnCounter_ != 0) {
        nuCountEnd = platform::QueryPerformanceCounter();
        mSound::nuStartIndex = analyser::AdvancedStartIndex(mSound::nuStartIndex, nuCountStart,
                                                            nuCountEnd, nuCountFreq, nuTimeScale);
    }
    if (listedCounter_ != text4Shown_) {
        Text4->setText(QString::number(listedCounter_));
        text4Shown_ = listedCounter_;
    }
}
