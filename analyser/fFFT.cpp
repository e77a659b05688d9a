// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/fFFT.h"

#include "analyser/sample_library.h"
#include "capture/mSound.h"
#include "magnifier/fMagnifier.h"
#include "platform/system/colour.h"
#include "platform/system/perf_counter.h"
#include "platform/system/rounding.h"
#include "platform/ui/events.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>

using platform::CheckBox;
using platform::CommandButton;
using platform::Frame;
using platform::Label;
using platform::ListBox;
using platform::OptionButton;
using platform::PictureBox;
using platform::ScrollBar;
using platform::TextBox;

namespace {

constexpr std::int32_t kBlack = 0;
constexpr std::int32_t Rgb(int red, int green, int blue) {
    return platform::PackColour(red, green, blue);
}

template <class W> W* Place(W* widget, int left, int top, int width, int height) {
    widget->setGeometry(left, top, width, height);
    return widget;
}

ScrollBar* VBar(QWidget* parent, int left, int top, int width, int height, std::int32_t min,
                std::int32_t max, std::int32_t small, std::int32_t large, std::int32_t value) {
    auto* bar = Place(new ScrollBar(Qt::Vertical, parent), left, top, width, height);
    bar->setRange(min, max);
    bar->setSmallChange(small);
    bar->setLargeChange(large);
    bar->setValue(value);
    return bar;
}

} // namespace

fFFT::fFFT(const QString& baseFolder, QWidget* parent)
    : QMainWindow(parent), baseFolder_(baseFolder) {
    aFilterKernel.reserve(analyser::KernelWeighted.size());
    BuildControls();
    WireHandlers();
    magn = std::make_unique<fMagnifier>();
    if (const QScreen* screen = QGuiApplication::primaryScreen();
        screen && screen->refreshRate() > 1)
        framePeriodMs = 1000.0 / screen->refreshRate();
    SetUpLoop();
    connect(qApp, &QGuiApplication::focusWindowChanged, this,
            [this](QWindow* window) { OnFocusWindowChanged(window); });
}

fFFT::~fFFT() {
    if (!closed_) Form_QueryUnload();
    // A run still active finishes its pass now, while every control still exists.
    FinishRunNow();
    TearDownLoop();
}

// ---- controls ---------------------------------------------------------------------------------
//
// Positions are the designed ones, in pixels inside each control's container; controls created
// later lie above earlier ones, which is how ckFreeze and btStop end up beneath the big buttons.
// Values are set before any handler is wired, so building the window runs no handler.

void fFFT::BuildControls() {
    setWindowTitle("Tonvault");
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    mnuRun = menuBar()->addMenu("Run");
    mnuStart = mnuRun->addAction("Start");
    mnuStart->setShortcut(Qt::Key_F5);
    mnuStart->setData(QStringLiteral("{F5}"));
    mnuStop = mnuRun->addAction("Stop");
    mnuStop->setShortcut(Qt::Key_F8);
    mnuStop->setData(QStringLiteral("{F8}"));
    mnuInput = mnuRun->addMenu("Input");
    mnuExit = mnuRun->addAction("Exit");
    mnuExit->setShortcut(Qt::Key_F4);

    Form = new platform::Panel(this);
    Form->setFixedSize(803, 491);
    setCentralWidget(Form);

    // Top bar.
    Frame1 = Place(new Frame("", Form), 0, 0, 801, 105);
    File1 = Place(new platform::FileListBox(Frame1), 8, 16, 97, 72);
    Text1 = Place(new TextBox("", Frame1), 104, 16, 137, 15);
    Command1 = Place(new CommandButton("Save sample", Frame1), 104, 32, 81, 18);
    Command2 = Place(new CommandButton("Delete", Frame1), 192, 32, 49, 18);
    Text4 = Place(new TextBox("Text4", Frame1), 144, 72, 57, 17);
    Text4->hide();
    List2 = Place(new ListBox(Frame1), 0, 0, 8, 8);
    List2->hide();
    Text3 = Place(new TextBox("", Frame1), 0, 0, 8, 8);
    Text3->hide();
    Command4 = Place(new CommandButton("", Frame1), 0, 0, 8, 8);
    Command4->hide();
    scrSpeed = VBar(Frame1, 248, 8, 16, 66, 0, 200, 5, 40, 0);
    lb[5] = Place(new Label("Speed", Frame1), 240, 76, 34, 13);
    scrHue = VBar(Frame1, 288, 8, 16, 66, 212, 0, 9, 45, 0);
    lb[4] = Place(new Label("Color", Frame1), 282, 76, 30, 13);
    ckFreeze = Place(new CheckBox("Freeze", Frame1), 360, 16, 53, 13);
    btStop = Place(new CommandButton("Stop", Frame1), 424, 56, 57, 26);
    btStop->setBackColor(Rgb(255, 192, 192));
    Text2 = Place(new TextBox("Text2", Frame1), 512, 24, 41, 17);
    Text2->hide();
    // In the strip left free beneath the list, the name box and the two small scroll bars.
    lbInput = Place(new Label("", Frame1), 8, 89, 300, 14);
    lbInput->hide();
    btMagn = Place(new CommandButton("Magnifier", Frame1), 600, 8, 57, 26);
    btMagn->setBackColor(Rgb(255, 255, 192));
    btMagn->setEnabled(false);
    btMagn->hide();
    QFont big = font();
    big.setPixelSize(24);
    big.setBold(true);
    btStart = Place(new CommandButton("Start", Frame1), 312, 8, 473, 41);
    btStart->setBackColor(Rgb(0, 192, 0));
    btStart->setFont(big);
    Command3 = Place(new CommandButton("Pause", Frame1), 312, 48, 473, 49);
    Command3->setBackColor(Rgb(255, 0, 0));
    Command3->setFont(big);

    // The decorative frame lies beneath the waterfall.
    fr[5] = Place(new Frame("Waterfall", Form), 24, 104, 278, 210);
    auto* line = Place(new QFrame(fr[5]), 8, 100, 262, 2);
    line->setFrameShape(QFrame::HLine);

    // The settings panel, hidden; its controls steer the analysis through their handlers.
    fr[4] = Place(new Frame("", Form), 40, 104, 781, 111);
    fr[4]->hide();
    fr[2] = Place(new Frame("Spectrum", fr[4]), 8, 8, 120, 97);
    scrGain = VBar(fr[2], 16, 14, 16, 66, 10, 1, 1, 2, 1);
    lb[0] = Place(new Label("Gain", fr[2]), 12, 80, 30, 13);
    scrShift = VBar(fr[2], 64, 14, 16, 66, 50, -50, 5, 20, 0);
    lb[1] = Place(new Label("Shift", fr[2]), 60, 80, 30, 13);

    fr[0] = Place(new Frame("Samples", fr[4]), 136, 8, 300, 97);
    for (int i = 0; i < 6; ++i)
        Place(optSamples.add("", fr[0]), 8 + (i / 3) * 66, 16 + (i % 3) * 20, 64, 17);
    scrReso = VBar(fr[0], 150, 14, 16, 66, 5, 0, 1, 2, 0);
    lb[2] = Place(new Label("Resolution", fr[0]), 134, 80, 60, 13);
    lbReso = Place(new Label("x 1", fr[0]), 176, 20, 60, 13);
    lbFFT = Place(new Label("FFT = 12345 bins", fr[0]), 176, 44, 118, 13);

    fr[6] = Place(new Frame("Filter", fr[4]), 444, 8, 150, 97);
    optFilterNone = Place(new OptionButton("None", fr[6]), 8, 16, 134, 17);
    optSavGol = Place(new OptionButton("Savitzki-Golay", fr[6]), 8, 34, 134, 17);
    optWeighted = Place(new OptionButton("Weighted Average", fr[6]), 8, 52, 134, 17);
    ckTimeWindow = Place(new CheckBox("Time Window", fr[6]), 8, 74, 134, 17);

    fr[1] = Place(new Frame("Waterfall", fr[4]), 602, 8, 170, 97);
    scrBright = VBar(fr[1], 10, 14, 16, 66, 200, 0, 12, 48, 0);
    lb[3] = Place(new Label("Bright", fr[1]), 4, 80, 34, 13);
    scrContrast = VBar(fr[1], 50, 14, 16, 66, 14, 1, 1, 1, 9);
    lb[6] = Place(new Label("Contr", fr[1]), 46, 80, 30, 13);
    ckHum = Place(new CheckBox("Hum Sup", fr[1]), 80, 20, 85, 17);
    ckTicks = Place(new CheckBox("Time Ticks", fr[1]), 80, 44, 85, 17);

    // The pictures.
    picWaterfall = new PictureBox(Form, kBlack);
    picWaterfall->Move(8, 104, 780, 228);
    Picture1 = new PictureBox(Form, kBlack);
    Picture1->Move(8, 328, 780, 156);
    Label1 = Place(new Label("Label1", Picture1), 0, 80, 633, 49);
    Label1->setForeColor(Rgb(255, 0, 255));
    QFont title("Adobe Gothic Std B");
    title.setPointSizeF(19.5);
    title.setBold(true);
    Label1->setFont(title);
    Label1->setAttribute(Qt::WA_TransparentForMouseEvents); // clicks reach the picture

    List1 = Place(new ListBox(Form), 408, 0, 65, 224);
    List1->hide();
    VScroll1 = Place(new ScrollBar(Qt::Vertical, Form), 480, 16, 17, 217);
    VScroll1->setRange(0, 1000);
    VScroll1->setValue(100);
    VScroll1->setChangeWhileDragging(false);
    VScroll1->hide();

    tmrWait = new platform::Timer(this);
    tmrWait->setInterval(890);

    // The spectrum panel, hidden; it reaches below the client area.
    fr[3] = Place(new Frame("Spectrum", Form), 32, 368, 782, 293);
    fr[3]->hide();
    picSpectrum = new PictureBox(fr[3], kBlack);
    picSpectrum->Move(-56, 16, 749, 233);
    lbBuffering = Place(new Label("", picSpectrum), 300, 100, 10, 13);
    lbBuffering->setForeColor(Rgb(255, 0, 0));
    lbBuffering->setAutoSize(true);
    lbBuffering->hide();
    fr[8] = Place(new Frame("", fr[3]), 8, 252, 620, 28);
    scrRange = Place(new ScrollBar(Qt::Horizontal, fr[8]), 4, 6, 612, 17);
    scrRange->setRange(0, 0);
    lbrange = Place(new Label("", fr[3]), 640, 258, 120, 13);
    lbFreq = Place(new Label("", fr[3]), 8, 276, 10, 13);
    lbFreq->setForeColor(Rgb(255, 255, 192));
    lbFreq->setBackColor(kBlack);
    lbFreq->setAutoSize(true);
    lbFreq->hide();

    adjustSize();
}

void fFFT::WireHandlers() {
    connect(mnuStart, &QAction::triggered, this, [this] { mnuStart_Click(); });
    connect(mnuStop, &QAction::triggered, this, [this] { mnuStop_Click(); });
    connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
    connect(mnuInput, &QMenu::aboutToShow, this, [this] { ShowInputMenu(); });

    // The list shows only markers the library can save and delete: safe names of regular files.
    File1->setFilter(
        [this](const std::string& name) { return analyser::IsListedSample(Folders().data, name); });
    File1->onClick = [this] { File1_Click(); };
    Command1->onClick = [this] { Command1_Click(); };
    Command2->onClick = [this] { Command2_Click(); };

    // A picture handles its own pointer moves; passed on, they would reach the background and
    // empty the readout they have just set.
    for (PictureBox* picture : {picSpectrum, picWaterfall, Picture1})
        picture->setAttribute(Qt::WA_NoMousePropagation);
    picSpectrum->onMouseMove = [this](Qt::MouseButtons b, Qt::KeyboardModifiers k, double x,
                                      double y) { picSpectrum_MouseMove(b, k, x, y); };
    picWaterfall->onMouseMove = [this](Qt::MouseButtons b, Qt::KeyboardModifiers k, double x,
                                       double y) { picWaterfall_MouseMove(b, k, x, y); };
    Form->onMouseMove = [this](Qt::MouseButtons b, Qt::KeyboardModifiers k, double x, double y) {
        Form_MouseMove(b, k, x, y);
    };
    for (int i = 0; i < static_cast<int>(fr.size()); ++i)
        if (fr[static_cast<size_t>(i)])
            fr[static_cast<size_t>(i)]->onMouseMove =
                [this, i](Qt::MouseButtons b, Qt::KeyboardModifiers k, double x, double y) {
                    fr_MouseMove(i, b, k, x, y);
                };
    Frame1->onMouseMove = [this](Qt::MouseButtons b, Qt::KeyboardModifiers k, double x, double y) {
        Frame1_MouseMove(b, k, x, y);
    };
    picSpectrum->onGotFocus = [this] { picSpectrum_GotFocus(); };
    picWaterfall->onClick = [this] { picWaterfall_Click(); };
    Picture1->onClick = [this] { Picture1_Click(); };

    optFilterNone->onClick = [this] { optFilterNone_Click(); };
    optSavGol->onClick = [this] { optSavGol_Click(); };
    optWeighted->onClick = [this] { optWeighted_Click(); };
    ckHum->onClick = [this] { ckHum_Click(); };
    ckTimeWindow->onClick = [this] { ckTimeWindow_Click(); };
    scrGain->onChange = [this] { scrGain_Change(); };
    scrShift->onChange = [this] { scrShift_Change(); };
    scrReso->onChange = [this] { scrReso_Change(); };
    scrContrast->onChange = [this] { scrContrast_Change(); };
    scrBright->onChange = [this] { scrBright_Change(); };
    scrHue->onChange = [this] { scrHue_Change(); };
    scrSpeed->onChange = [this] { scrSpeed_Change(); };
    scrRange->onChange = [this] { scrRange_Change(); };
    VScroll1->onChange = [this] { VScroll1_Change(); };
    optSamples.onClick = [this](int index) { optSamples_Click(index); };
    ckTicks->onClick = [this] { ckTicks_Click(); };
    WireLoop();
}

void fFFT::FocusWaterfall() {
    picWaterfall->setFocus();
}

// ---- load, activation, close ------------------------------------------------------------------

void fFFT::Form_Load() {
    loading_ = true;
    // What an interrupted save left behind is hidden, never listed, and only takes room.
    analyser::RemoveLeftoverSaves(Folders());
    File1->setPath(baseFolder_ + "/metals/data/");
    WatchLibrary();
    show();
    nuResolution = 1;
    platform::DoEvents();
    oFourier = std::make_unique<clsFourier>();
    nuCountFreq = platform::QueryPerformanceFrequency();
    for (int i = 0; i < optSamples.count(); ++i)
        optSamples(i).setText(QString::number(analyser::SampleRateFor(i)));

    nuWaterWidth = platform::rnd(picWaterfall->ScaleWidth());
    nuWaterLast = nuWaterWidth - 1;
    nuWaterHeight = platform::rnd(picWaterfall->PixelHeight());
    FocusWaterfall();

    aColumnHistory.assign(static_cast<size_t>(nuWaterWidth) + 1, analyser::tColumnHistory{});

    optSamples(1).setValue(true);
    optWeighted->setValue(true);
    ckTimeWindow->setValue(1);
    scrHue->setValue(120);

    scrGain_Change();
    scrShift_Change();
    scrContrast_Change();
    scrBright_Change();
    scrSpeed_Change();
    scrReso_Change();

    ckTicks->setValue(1);

    loading_ = false;
    if (!mSound::CheckInputDevice()) {
        close();
        return;
    }
    // An activation that arrived while loading is handled once the state is complete.
    if (activatePending_) {
        activatePending_ = false;
        Form_Activate();
    }
}

void fFFT::Form_Activate() {
    if (loading_ || closed_) {
        activatePending_ = !closed_;
        return;
    }
    File1->setListIndex(0);
    // With an empty sample folder there is nothing to name.
    if (File1->ListIndex() >= 0) Label1->setCaption(File1->FileName() + " sample");
}

// The window counts as activated when it gets the focus for the first time, or back from
// another of the program's own windows; coming back from another program, or from one of
// our message boxes, is not an activation.
void fFFT::OnFocusWindowChanged(QWindow* window) {
    if (!window) return;
    QWindow* previous = lastFocusWindow_.data();
    const bool firstTime = lastFocusWindow_.isNull() && !everFocused_;
    lastFocusWindow_ = window;
    everFocused_ = true;
    if (window != windowHandle()) return;
    if (firstTime) {
        Form_Activate();
        return;
    }
    if (!previous || previous == window) return;
    if (!analyser::ReturnFromCountsAsActivation(previous->type())) return;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->windowHandle() == previous && !qobject_cast<QDialog*>(top)) {
            Form_Activate();
            return;
        }
}

namespace analyser {

bool ReturnFromCountsAsActivation(Qt::WindowType previousType) {
    // Menus, tooltips and dialogs are part of using this window, not a switch between windows:
    // closing the "Run" menu must not reselect the first sample and replace a typed name.
    switch (previousType) {
    case Qt::Window:
    case Qt::Tool:
        return true;
    default:
        return false;
    }
}

} // namespace analyser

void fFFT::Form_QueryUnload() {
    mSound::StopCapture();
    tmrWait->setEnabled(false);
    isIdle = true;
    isStopRequested = true;
    WakeLoop();
}

void fFFT::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    closed_ = true;
    event->accept();
}

void fFFT::mnuExit_Click() {
    close();
}

// ---- the input ----------------------------------------------------------------------------------

void fFFT::ShowInputMenu() {
    mnuInput->clear();
    for (const analyser::InputMenuEntry& entry : inputMenu_.entries()) {
        // A name with "&" would otherwise lose it to a shortcut mark.
        QString text = QString::fromStdString(entry.text);
        text.replace('&', "&&");
        QAction* action = mnuInput->addAction(text);
        action->setCheckable(true);
        action->setChecked(entry.ticked);
        action->setEnabled(entry.enabled);
        connect(action, &QAction::triggered, this,
                [this, key = entry.key] { mnuInput_Click(key); });
    }
}

void fFFT::mnuInput_Click(const std::string& key) {
    const bool running = loopAt_ != LoopPoint::Idle && !isIdle;
    if (inputMenu_.choose(key, running)) {
        isStopRequested = true;
        WakeLoop();
    }
    FocusWaterfall();
}

void fFFT::ShowInputInUse() {
    const std::string name = mSound::InputInUse();
    if (name.empty()) {
        lbInput->hide();
        return;
    }
    lbInput->setCaption("Input: " + QString::fromStdString(name));
    lbInput->setToolTip(lbInput->Caption());
    lbInput->show();
}

// ---- filter, hum band, time window ------------------------------------------------------------

void fFFT::optFilterNone_Click() {
    aFilterKernel.assign(analyser::KernelNone.begin(), analyser::KernelNone.end());
    FocusWaterfall();
}

void fFFT::optSavGol_Click() {
    aFilterKernel.assign(analyser::KernelSavGol.begin(), analyser::KernelSavGol.end());
    FocusWaterfall();
}

void fFFT::optWeighted_Click() {
    aFilterKernel.assign(analyser::KernelWeighted.begin(), analyser::KernelWeighted.end());
    FocusWaterfall();
}

void fFFT::ckHum_Click() {
    const analyser::HumBand band = analyser::HumBandFor(ckHum->Value() == 1, nuResolution);
    nuHumFirst = band.first;
    nuHumLast = band.last;
    FocusWaterfall();
}

void fFFT::ckTimeWindow_Click() {
    if (oFourier) oFourier->WithTimeWindow(ckTimeWindow->Value() == 1 ? -1 : 0);
    FocusWaterfall();
}

double fFFT::ConditionBin(double value, std::int32_t column) {
    return analyser::ConditionLevel(value, aFilterKernel,
                                    aColumnHistory[static_cast<size_t>(column)]);
}

// ---- scaling, ranges, colours -----------------------------------------------------------------

void fFFT::scrGain_Change() {
    nuGain = analyser::GainFor(scrGain->Value());
    FocusWaterfall();
}

void fFFT::scrShift_Change() {
    nuShift = analyser::ShiftFor(scrShift->Value());
    FocusWaterfall();
}

void fFFT::scrReso_Change() {
    nuResolution = analyser::ResolutionFor(scrReso->Value());
    lbReso->setCaption(QString::fromStdString(analyser::ResolutionCaption(nuResolution)));
    UpdateBins();
    isStopRequested = true;
    WakeLoop();
    FocusWaterfall();
}

void fFFT::scrContrast_Change() {
    nuContrast = analyser::ContrastFor(scrContrast->Value());
    nuHumDivisor = analyser::HumDivisorFor(nuContrast);
    FocusWaterfall();
}

void fFFT::scrBright_Change() {
    nuBright = analyser::BrightFor(scrBright->Value());
    FocusWaterfall();
}

void fFFT::scrHue_Change() {
    nuHue = scrHue->Value();
    picWaterfall->setForeColor(LevelToColour(160));
    picSpectrum->setForeColor(LevelToColour(128));
    FocusWaterfall();
}

void fFFT::scrSpeed_Change() {
    nuSleepMs = analyser::SleepMsFor(scrSpeed->Value());
    FocusWaterfall();
}

void fFFT::scrRange_Change() {
    const analyser::BinRange range =
        analyser::RangeFor(binPlan_, scrRange->Value(), nuResolution, nuWaterWidth);
    if (binPlan_.rangeEnabled) {
        nuFirstBin = range.first;
        nuLastBin = range.last;
    }
    nuRangeHigh = range.high;
    nuRangeLow = range.low;
    lbrange->setCaption(QString::fromStdString(analyser::RangeCaption(nuRangeLow, nuRangeHigh)));
    FocusWaterfall();
}

void fFFT::VScroll1_Change() {
    Text2->setText(QString::number(VScroll1->Value()));
}

void fFFT::optSamples_Click(int index) {
    nuSampleRate = analyser::SampleRateFor(index);
    scrReso->setEnabled(false);
    scrReso->setValue(0);
    scrReso->setMin(analyser::ResolutionTopFor(index));
    scrReso->setEnabled(true);
    UpdateBins();
    isStopRequested = true;
    WakeLoop();
    FocusWaterfall();
}

void fFFT::ckTicks_Click() {
    isTicks = ckTicks->Value() == 1;
    FocusWaterfall();
}

void fFFT::UpdateBins() {
    binPlan_ = analyser::PlanBins(nuResolution, nuSampleRate, nuWaterWidth);
    nuFftSize = binPlan_.fftSize;
    lbFFT->setCaption(QString::fromStdString(analyser::FftCaption(nuFftSize)));
    if (!binPlan_.rangeEnabled) {
        scrRange->setEnabled(false);
        nuFirstBin = 0;
        nuLastBin = binPlan_.highestBin;
    } else {
        // Lowering Max first pulls a value that lies beyond it down to it.
        scrRange->setMax(binPlan_.rangeMax);
        scrRange->setEnabled(true);
    }
    scrRange_Change();
    ckHum_Click();
}

std::int32_t fFFT::LevelToColour(double level) {
    return analyser::LevelToColour(level, nuHue);
}
