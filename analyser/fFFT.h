// fFFT: the analyser's main window. Owns the analysis state, the FFT engine, the filter history
// and every control; its handlers only wire controls to the arithmetic in conditioning/scaling.
#pragma once

#include "analyser/conditioning.h"
#include "analyser/scaling.h"
#include "fft/clsFourier.h"
#include "platform/ui_controls.h"
#include "platform/ui_picture_box.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QPointer>
#include <QWindow>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QMenu;

class fFFT : public QMainWindow {
    Q_OBJECT

public:
    // baseFolder is the program's folder; the sample library lives in baseFolder/metals/.
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
    QAction* mnuExit = nullptr;  // F4

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

    // ---- window events
    // --------------------------------------------------------------------------- Builds the
    // start-up state; shows the window. Closes it again when there is no input device.
    void Form_Load();
    void Form_Activate();
    void Form_QueryUnload();
    void mnuExit_Click();
    // True once the window has been closed (by the user, Exit, or a failed device check).
    bool IsClosed() const { return closed_; }

    // The Start and Stop commands and the sample display are added with the acquisition loop and
    // the sample library; until then these do nothing.
    void mnuStart_Click();
    void mnuStop_Click();
    void File1_Click();

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
    void OnFocusWindowChanged(QWindow* window);

    QString baseFolder_;
    analyser::BinPlan binPlan_; // the last UpdateBins' plan, read by scrRange_Change
    bool loading_ = false;
    bool activatePending_ = false;
    bool closed_ = false;
    bool everFocused_ = false;
    QPointer<QWindow> lastFocusWindow_;
};
