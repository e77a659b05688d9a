// SPDX-License-Identifier: GPL-3.0-or-later
// fFFT: the analyser's main window. Owns the analysis state, the FFT engine, the filter history
// and every control; its handlers only wire controls to the arithmetic in conditioning/scaling.
#pragma once

#include "analyser/conditioning.h"
#include "analyser/input_menu.h"
#include "analyser/loop_task.h"
#include "analyser/pass.h"
#include "analyser/sample_library.h"
#include "analyser/scaling.h"
#include "fft/clsFourier.h"
#include "platform/system/time_of_day.h"
#include "platform/ui/controls.h"
#include "platform/ui/picture_box.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QPointer>
#include <QTime>
#include <QWindow>

#include <array>
#include <atomic>
#include <coroutine>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QAction;
class QFileSystemWatcher;
class QMenu;
class QTimer;
class fMagnifier;

namespace analyser {

// Whether getting the focus back from another of the program's windows of this type makes the
// window "activated": only from ordinary windows, not from menus, tooltips or dialogs.
bool ReturnFromCountsAsActivation(Qt::WindowType previousType);

} // namespace analyser

class fFFT : public QMainWindow {
    Q_OBJECT

public:
    // The sample library lives in baseFolder/metals/ (the program's folder or the user's data
    // folder, chosen by the program's main).
    explicit fFFT(const QString& baseFolder = QCoreApplication::applicationDirPath(),
                  QWidget* parent = nullptr);
    ~fFFT() override;

    // ---- analysis state: zero, false or empty until Form_Load --------------------------------
    std::int64_t nuCountStart = 0; // counter at the top of each loop pass
    std::int64_t nuCountEnd = 0;   // counter after a pass that processed a block
    std::int64_t nuCountFreq = 0;  // counts per second
    std::unique_ptr<clsFourier> oFourier;
    std::int32_t nuSampleRate = 0;
    std::int32_t nuResolution = 0; // bins per hertz, 1..32
    std::int32_t nuFftSize = 0;    // nuResolution * nuSampleRate
    std::int32_t nuFirstBin = 0;
    std::int32_t nuLastBin = 0;
    std::int32_t nuWaterHeight = 0;
    std::int32_t nuWaterWidth = 0;
    std::int32_t nuWaterLast = 0;
    std::int32_t nuSleepMs = 0;
    std::int32_t nuPassCount = 0;
    std::int32_t nuBufferCount = 0;
    std::int32_t nuHumFirst = 0; // -1 with hum suppression off
    std::int32_t nuHumLast = 0;
    std::int32_t nuHue = 0;
    bool isStopRequested = false;
    bool isIdle = false;
    bool isFrozen = false;
    bool isTicks = false;
    bool isTickDue = false;
    bool isMagnifier = false;
    bool isBuffering = false;
    double nuTimeScale = 0;
    double nuHumDivisor = 0;
    double nuLevel = 0;
    double nuPeak = 0;
    double nuBright = 0;
    // The colour map keeps its intermediates inside LevelToColour; kept for the record only.
    double nuColourS = 0;
    double nuColourM2 = 0;
    double nuColourM1 = 0;
    double nuGain = 0;
    double nuShift = 0;
    double nuContrast = 0;
    double nuRangeLow = 0;
    double nuRangeHigh = 0;
    // Room for the largest kernel is reserved once, so choosing a filter never allocates.
    std::vector<double> aFilterKernel;
    // Indices 0..nuWaterWidth, created once at load and never resized.
    std::vector<analyser::tColumnHistory> aColumnHistory;

    // ---- controls ------------------------------------------------------------------------------
    QMenu* mnuRun = nullptr;
    QAction* mnuStart = nullptr; // F5, tag "{F5}"
    QAction* mnuStop = nullptr;  // F8, tag "{F8}"
    // The inputs to record from, listed afresh each time it opens.
    QMenu* mnuInput = nullptr;
    QAction* mnuExit = nullptr; // F4

    platform::Panel* Form = nullptr; // the client area
    // Frames by index: 0 Samples, 1 Waterfall settings, 2 Spectrum settings, 3 spectrum panel,
    // 4 settings panel, 5 decorative frame beneath the waterfall, 6 Filter, 8 range bar's frame.
    std::array<platform::Frame*, 9> fr{};
    platform::Frame* Frame1 = nullptr; // top bar
    // Captions of the scroll bars: 4 "Color", 5 "Speed", 0 "Gain", 1 "Shift", 2 "Resolution",
    // 3 "Bright", 6 "Contr".
    std::array<platform::Label*, 7> lb{};

    platform::FileListBox* File1 = nullptr;
    platform::TextBox* Text1 = nullptr;
    platform::CommandButton* Command1 = nullptr; // "Save sample"
    platform::CommandButton* Command2 = nullptr; // "Delete"
    platform::ScrollBar* scrSpeed = nullptr;
    platform::ScrollBar* scrHue = nullptr;
    platform::CommandButton* btStart = nullptr;
    platform::CommandButton* Command3 = nullptr; // "Pause"
    platform::CheckBox* ckFreeze = nullptr;
    platform::CommandButton* btStop = nullptr;
    platform::CommandButton* btMagn = nullptr;
    platform::TextBox* Text4 = nullptr;
    platform::TextBox* Text2 = nullptr;
    // Which input a run draws, beneath the sample list; hidden while idle.
    platform::Label* lbInput = nullptr;
    platform::ListBox* List2 = nullptr;          // unused
    platform::TextBox* Text3 = nullptr;          // unused
    platform::CommandButton* Command4 = nullptr; // unused

    platform::PictureBox* picWaterfall = nullptr;
    platform::PictureBox* Picture1 = nullptr;
    platform::Label* Label1 = nullptr;
    platform::ListBox* List1 = nullptr;
    platform::ScrollBar* VScroll1 = nullptr;
    platform::Timer* tmrWait = nullptr;

    platform::ScrollBar* scrGain = nullptr;
    platform::ScrollBar* scrShift = nullptr;
    platform::OptionArray optSamples;
    platform::ScrollBar* scrReso = nullptr;
    platform::Label* lbReso = nullptr;
    platform::Label* lbFFT = nullptr;
    platform::OptionButton* optFilterNone = nullptr;
    platform::OptionButton* optSavGol = nullptr;
    platform::OptionButton* optWeighted = nullptr;
    platform::CheckBox* ckTimeWindow = nullptr;
    platform::ScrollBar* scrBright = nullptr;
    platform::ScrollBar* scrContrast = nullptr;
    platform::CheckBox* ckHum = nullptr;
    platform::CheckBox* ckTicks = nullptr;

    platform::PictureBox* picSpectrum = nullptr;
    platform::Label* lbBuffering = nullptr;
    platform::ScrollBar* scrRange = nullptr;
    platform::Label* lbrange = nullptr;
    platform::Label* lbFreq = nullptr;

    // ---- window events (fFFT.cpp) ---------------------------------------------------------------

    // Builds the start-up state; shows the window. Closes it again when there is no input device.
    void Form_Load();
    void Form_Activate();
    void Form_QueryUnload();
    void mnuExit_Click();
    // True once the window has been closed (by the user, Exit, or a failed device check).
    bool IsClosed() const { return closed_; }

    // ---- the sample library (fFFT_library.cpp) -------------------------------------------------
    // Save sample: the whole waterfall under Text1's name; the list is re-read whatever happened.
    void Command1_Click();
    // Show sample: the selected entry's name in Text1 and Label1, its picture in Picture1. A
    // picture that cannot be shown (missing, cut off, not a BMP read here) leaves Picture1 empty
    // with kNoPictureNote; an entry whose marker has gone meanwhile is shown so and dropped.
    void File1_Click();
    // Delete: the selected entry's marker and picture, never the protected sample's; the list is
    // re-read. An entry whose marker has gone meanwhile only re-reads the list.
    void Command2_Click();
    // Written into the empty sample picture, in the caption's colour.
    static constexpr const char* kNoPictureNote = "picture missing or damaged";
    // Changes in the library's folders reach the list after at most this long, and the list is
    // re-read at most once in this long however many changes come.
    static constexpr int kLibraryRefreshMs = 250;

    // ---- pointer readout and picture clicks (fFFT_readouts.cpp) ---------------------------------
    // x, y in the picture's own pixels; x may lie outside it while a button is held.
    void picSpectrum_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x,
                               double y);
    void picWaterfall_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x,
                                double y);
    // Off the pictures: the readout is emptied.
    void Form_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x, double y);
    void fr_MouseMove(int index, Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x,
                      double y);
    void Frame1_MouseMove(Qt::MouseButtons button, Qt::KeyboardModifiers shift, double x, double y);
    void picSpectrum_GotFocus();
    void picWaterfall_Click();
    void Picture1_Click();

    // ---- the Start and Stop commands and the acquisition loop (loop.cpp) ----------------------
    //
    // The Start command and RunLoop are coroutines on Qt's event loop, never a nested one. At
    // each point where a pass lets pending events run (and before the first pass) the loop parks
    // and returns to the event loop; it goes on where it stopped when its zero timer or its
    // precise single-shot timer fires, or the capture says a buffer has completed. Stop, Freeze,
    // the settings and the close are handlers that run while it is parked; they reach it only
    // through the state flags (and WakeLoop, so that a pass waiting for a block notices them at
    // once).
    //
    // Tests drive it by spinning the event loop (processEvents) while they complete simulated
    // buffers and move the ManualClock; LoopParkedAt() tells where it waits. They set
    // framePeriodMs to 0 so that drawn passes do not wait for the display, and may replace
    // TimeOfDay.
    void mnuStart_Click();
    void mnuStop_Click();
    void btStart_Click();
    void btStop_Click();
    void Command3_Click();
    void ckFreeze_Click();
    void tmrWait_Timer();
    void btMagn_Click();
    // An entry of the Input menu: records from that input ("" the desktop's default) from now on,
    // restarting a run as a new rate does.
    void mnuInput_Click(const std::string& key);

    // A processed pass lasts at least this long (one display frame); a pass without a block
    // waits this long at most for a completed buffer. 0: drawn passes do not wait, and passes
    // without a block wait for a buffer or a wake-up only.
    double framePeriodMs = 1000.0 / 60.0;
    // The time of day for the time ticks.
    std::function<QTime()> TimeOfDay = [] { return platform::LocalTimeOfDay(); };

    // Where a parked run waits for the event loop. Idle: no run. Starting: the Start command,
    // before its first capture start. The event points of a pass: AfterRead (a block was read),
    // AfterDraw (every pass; also while waiting for a block or for the end of the display frame),
    // Sleeping (the Speed slider's pause) and AfterSleep, AfterMagnifier (the magnifier was
    // repainted). A running (not parked) loop reports where it last parked.
    enum class LoopPoint : std::uint8_t {
        Idle,
        Starting,
        AfterRead,
        AfterDraw,
        Sleeping,
        AfterSleep,
        AfterMagnifier
    };
    // What the parked loop waits for.
    enum class LoopWait { None, Events, Block, Frame, Sleep };
    LoopPoint LoopParkedAt() const { return loopAt_; }
    LoopWait LoopWaitingFor() const { return loopWait_; }
    // Passes begun since the window was created.
    std::uint64_t PassesBegun() const { return passesBegun_; }
    // How steadily the capture feeds the loop, since the last Start: passes (not frozen), those
    // that found no block, buffers that arrived when the read position was already at most N (it
    // is then clamped to 1 and frames skip sound), and the performance count at Start and at the
    // first processed pass (-1 until then). Counting costs a few additions per pass.
    struct LoopStats {
        std::uint64_t passes = 0;
        std::uint64_t passesWithoutBlock = 0;
        std::uint64_t passesWithoutBlockBuffering = 0; // of those, before the first processed pass
        std::uint64_t waitsTimedOut = 0;               // block waits ended by their timeout
        // Performance counts spent in passes without a block after the first processed pass:
        // its share of the running time is what the read position's 5 % lead is meant to cost.
        std::int64_t countWithoutBlock = 0;
        std::uint64_t clamps = 0;
        std::int64_t startCount = 0;
        std::int64_t firstRowCount = -1;
    };
    const LoopStats& Stats() const { return stats_; }

    std::unique_ptr<fMagnifier> magn; // the one magnifier window

    // ---- settings ------------------------------------------------------------------------------
    void optFilterNone_Click();
    void optSavGol_Click();
    void optWeighted_Click();
    void ckHum_Click();
    void ckTimeWindow_Click();
    void scrGain_Change();
    void scrShift_Change();
    void scrReso_Change();
    void scrContrast_Change();
    void scrBright_Change();
    void scrHue_Change();
    void scrSpeed_Change();
    void scrRange_Change();
    void VScroll1_Change();
    void optSamples_Click(int index);
    void ckTicks_Click();
    void UpdateBins();

    // The smoothed level of one bin for display column `column` (0..nuWaterWidth).
    double ConditionBin(double value, std::int32_t column);
    // The waterfall colour of a level at the current hue.
    std::int32_t LevelToColour(double level);

    const QString& BaseFolder() const { return baseFolder_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void WireHandlers();
    void FocusWaterfall();
    // The library's two folders under the base folder.
    analyser::SampleFolders Folders() const;
    // Watches metals/ and metals/data/ (and, but on Windows, the base folder), those that exist,
    // so that the list follows changes made by other programs, also after a folder is replaced.
    void WatchLibrary();
    // Re-reads File1 (and renews the watch), keeping its selection and scroll position where the
    // entries allow. With showGone, a selected sample no longer listed is shown as gone.
    void ReReadLibrary(bool showGone);
    // The watcher's debounced refresh: a selected sample that has gone is shown as gone.
    void LibraryChanged();
    // Picture1 emptied to its back colour, with kNoPictureNote below the caption.
    void ShowNoPicture();
    void OnFocusWindowChanged(QWindow* window);

    // ---- loop internals (loop.cpp) -----------------------------------------------------------
    // ----------------------------------------------------------------
    void SetUpLoop();
    void TearDownLoop();
    void WireLoop();
    // The Start command from its first event point on: capture starts and runs of RunLoop until
    // the run is over.
    analyser::LoopTask StartCommand();
    analyser::LoopTask RunLoop();
    // The parts of a pass between its waits, in their order.
    bool ReadBlock(); // polls the capture; on a block, feeds the engine
    void DrawBlock(); // spectrum, waterfall row, scroll and time tick
    // What the pass waits for at its events after drawing, and for how long at most.
    std::pair<LoopWait, double> WaitAfterDraw(bool processed);
    void AdvanceReadPosition(); // by the time the pass took, and the listed count
    void EndRun();              // the run is over: timers stopped, magnifier closed

    // What a parked loop awaits: the point it parks at and what ends the wait.
    struct Parked {
        fFFT* window;
        LoopPoint at;
        LoopWait wait;
        double ms;
        bool await_ready() const noexcept { return wait == LoopWait::None; }
        void await_suspend(std::coroutine_handle<> loop) const { window->Park(loop, at, wait, ms); }
        void await_resume() const noexcept {}
    };
    Parked ParkAt(LoopPoint at, LoopWait wait = LoopWait::Events, double ms = 0) {
        return {this, at, wait, ms};
    }
    void Park(std::coroutine_handle<> loop, LoopPoint at, LoopWait wait, double ms);
    // Goes on with the parked loop, its wait cancelled.
    void ResumeLoop();
    void ArmTimer(double ms);
    void OnEventsDue();
    void OnWaitOver();
    void OnBlockDone();
    // The capture module's buffer listener: runs on the recording thread and only posts
    // OnBlockDone to the window's thread (once until it has run).
    static void OnCompletion(void* self);
    // A pass waiting for a block continues at once (a flag it reads may have changed).
    void WakeLoop();
    // Drives a run that is still active to its end without waiting (the window is going away).
    void FinishRunNow();
    void PostShortcut(const QString& tag);
    void ShowInputMenu();
    // The caption naming the input the open capture records from.
    void ShowInputInUse();

    analyser::LoopTask run_;         // the Start command's coroutine while a run is active
    std::coroutine_handle<> parked_; // where the loop goes on, while it is parked
    LoopPoint loopAt_ = LoopPoint::Idle;
    LoopWait loopWait_ = LoopWait::None;
    bool restartPending_ = false; // a Start during a run: restart once the pass is over
    std::int32_t columnCounter_ = 0;
    std::int32_t listedCounter_ = 0;
    std::int32_t loopSamples_ = 0;  // the transform length the running capture was started with
    std::vector<double> frame_;     // one frame's engine input, sized when a capture starts
    std::vector<double> rowLevels_; // the pass's waterfall row: levels,
    std::vector<std::int32_t> rowColours_; // and their colours, written at once
    std::int32_t text4Shown_ = -1; // what Text4 was last set to, so an unchanged count is free
    bool timerArmed_ = false;
    std::uint64_t passesBegun_ = 0;
    LoopStats stats_;
    std::int64_t withoutBlockSince_ = -1; // start of the running pass without a block, if any
    char timeText_[9] = {};
    QTimer* eventsTimer_ = nullptr; // zero interval: "let pending events run, then go on"
    QTimer* waitTimer_ = nullptr;   // precise single shot: frame waits, Sleep, block timeouts
    std::atomic<bool> blockPosted_{false};

    analyser::InputMenu inputMenu_;
    QString baseFolder_;
    QFileSystemWatcher* libraryWatcher_ = nullptr;
    QTimer* libraryRefresh_ = nullptr; // single shot: a change pending for the list
    analyser::BinPlan binPlan_;        // the last UpdateBins' plan, read by scrRange_Change
    bool loading_ = false;
    bool activatePending_ = false;
    bool closed_ = false;
    bool everFocused_ = false;
    QPointer<QWindow> lastFocusWindow_;
};
