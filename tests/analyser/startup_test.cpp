// SPDX-License-Identifier: GPL-3.0-or-later
// The analyser window started as the program starts it, on a simulated input device: the
// designed state after load, the controls as laid out, activation, close, and no device at all.
#include "analyser/fFFT.h"
#include "analyser/library_location.h"
#include "platform/system/message_box.h"
#include "platform/system/perf_counter.h"
#include "platform/ui/events.h"
#include "platform/sound/wave_in_simulated.h"
#include "window_fixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QWindow>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

using platform::VisibleFlag;

constexpr std::int32_t Packed(int r, int g, int b) {
    return r + 256 * g + 65536 * b;
}

class StartupTest : public LoadedWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(base_.isValid());
        ASSERT_TRUE(QDir(base_.path()).mkpath("metals/data"));
    }
    void addSample(const QString& name) {
        QFile f(base_.path() + "/metals/data/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("null\r\n");
    }
};

TEST_F(StartupTest, LoadEndsInTheDesignedState) {
    fFFT& w = load();
    ASSERT_FALSE(w.IsClosed());
    EXPECT_TRUE(messages_.messages().empty());

    // Rate, resolution, transform length.
    EXPECT_EQ(w.nuSampleRate, 2048);
    EXPECT_EQ(w.optSamples.selected(), 1);
    EXPECT_EQ(w.nuResolution, 1);
    EXPECT_EQ(w.scrReso->Value(), 0);
    EXPECT_EQ(w.scrReso->Min(), 4);
    EXPECT_TRUE(w.scrReso->isEnabled());
    EXPECT_EQ(w.nuFftSize, 2048);
    EXPECT_EQ(w.lbFFT->Caption(), "FFT: 2048 Bins");
    EXPECT_EQ(w.lbReso->Caption(), "x 1");
    for (int i = 0; i < 6; ++i) EXPECT_EQ(w.optSamples(i).text(), QString::number(1024 << i));

    // Filter, time window, ticks, freeze, hum.
    EXPECT_TRUE(w.optWeighted->Value());
    EXPECT_EQ(w.aFilterKernel, std::vector<double>(analyser::KernelWeighted.begin(),
                                                   analyser::KernelWeighted.end()));
    EXPECT_EQ(w.ckTimeWindow->Value(), 1);
    EXPECT_EQ(w.ckTicks->Value(), 1);
    EXPECT_TRUE(w.isTicks);
    EXPECT_EQ(w.ckFreeze->Value(), 0);
    EXPECT_FALSE(w.isFrozen);
    EXPECT_EQ(w.ckHum->Value(), 0);
    EXPECT_EQ(w.nuHumFirst, -1);
    EXPECT_EQ(w.nuHumLast, -1);

    // Scroll-bar variables, hue and the pictures' drawing colours.
    EXPECT_EQ(w.nuHue, 120);
    EXPECT_EQ(w.scrHue->Value(), 120);
    EXPECT_EQ(w.picWaterfall->ForeColor(), Packed(125, 195, 183));
    EXPECT_EQ(w.picSpectrum->ForeColor(), Packed(65, 191, 169));
    EXPECT_EQ(w.nuContrast, 38.443359375);
    EXPECT_EQ(w.nuHumDivisor, 13.481453125);
    EXPECT_EQ(w.nuGain, 1);
    EXPECT_EQ(w.nuShift, 0);
    EXPECT_EQ(w.nuBright, 0);
    EXPECT_EQ(w.nuSleepMs, 0);

    // Waterfall measure, history, bins.
    EXPECT_EQ(w.nuWaterWidth, 780);
    EXPECT_EQ(w.nuWaterLast, 779);
    EXPECT_EQ(w.nuWaterHeight, 228);
    ASSERT_EQ(w.aColumnHistory.size(), 781u);
    for (const auto& h : w.aColumnHistory) {
        EXPECT_EQ(h.nuPos, 0);
        for (double v : h.aValues) EXPECT_EQ(v, 0.0);
    }
    EXPECT_EQ(w.nuFirstBin, 0);
    EXPECT_EQ(w.nuLastBin, 780);
    EXPECT_EQ(w.lbrange->Caption(), "1 - 781");
    EXPECT_TRUE(w.scrRange->isEnabled());
    EXPECT_EQ(w.scrRange->Max(), 242);

    // Engine, counter, idle run state.
    ASSERT_NE(w.oFourier, nullptr);
    EXPECT_EQ(w.nuCountFreq, platform::QueryPerformanceFrequency());
    EXPECT_GT(w.nuCountFreq, 0);
    EXPECT_FALSE(w.btMagn->isEnabled());
    EXPECT_FALSE(w.tmrWait->Enabled());
    EXPECT_EQ(w.tmrWait->Interval(), 890);
    EXPECT_FALSE(w.isIdle);
    EXPECT_FALSE(input_.isOpen()) << "nothing is captured before Start";
}

TEST_F(StartupTest, WindowCaptionMenuSizeAndVisibility) {
    fFFT& w = load();
    EXPECT_EQ(w.windowTitle(), "Tonvault");
    EXPECT_EQ(w.centralWidget()->size(), QSize(803, 491));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.mnuRun->title(), "Run");
    EXPECT_EQ(w.mnuStart->text(), "Start");
    EXPECT_EQ(w.mnuStart->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(w.mnuStart->data().toString(), "{F5}");
    EXPECT_EQ(w.mnuStop->text(), "Stop");
    EXPECT_EQ(w.mnuStop->shortcut(), QKeySequence(Qt::Key_F8));
    EXPECT_EQ(w.mnuStop->data().toString(), "{F8}");
    EXPECT_EQ(w.mnuExit->text(), "Exit");
    EXPECT_EQ(w.mnuExit->shortcut(), QKeySequence(Qt::Key_F4));

    for (QWidget* shown : std::initializer_list<QWidget*>{
             w.Frame1, w.File1, w.Text1, w.Command1, w.Command2, w.scrSpeed, w.scrHue, w.btStart,
             w.Command3, w.picWaterfall, w.Picture1, w.Label1, w.fr[5], w.lb[4], w.lb[5]})
        EXPECT_TRUE(shown->isVisible()) << shown->metaObject()->className();
    for (QWidget* hidden :
         std::initializer_list<QWidget*>{w.fr[3], w.fr[4], w.btMagn, w.List1, w.VScroll1, w.Text2,
                                         w.Text4, w.lbBuffering, w.lbFreq})
        EXPECT_FALSE(VisibleFlag(hidden));
    // Inside the hidden panels the controls themselves are not hidden.
    EXPECT_TRUE(VisibleFlag(w.scrGain));
    EXPECT_TRUE(VisibleFlag(w.picSpectrum));

    EXPECT_EQ(w.btStart->text(), "Start");
    EXPECT_EQ(w.Command3->text(), "Pause");
    EXPECT_EQ(w.Command1->text(), "Save sample");
    EXPECT_EQ(w.Command2->text(), "Delete");
    EXPECT_EQ(w.lb[5]->Caption(), "Speed");
    EXPECT_EQ(w.lb[4]->Caption(), "Color");
    EXPECT_EQ(w.btStart->geometry(), QRect(312, 8, 473, 41));
    EXPECT_EQ(w.Command3->geometry(), QRect(312, 48, 473, 49));
    EXPECT_EQ(w.picWaterfall->geometry(), QRect(8, 104, 780, 228));
    EXPECT_EQ(w.Picture1->geometry(), QRect(8, 328, 780, 156));
    EXPECT_EQ(w.File1->geometry(), QRect(8, 16, 97, 72));
    EXPECT_EQ(w.picSpectrum->ScaleWidth(), 749);

    // ckFreeze and btStop lie beneath the big buttons; the decorative frame beneath the waterfall.
    EXPECT_EQ(w.Frame1->childAt(w.ckFreeze->geometry().center()), w.btStart);
    EXPECT_EQ(w.Frame1->childAt(w.btStop->geometry().center()), w.Command3);
    EXPECT_EQ(w.Form->childAt(w.fr[5]->geometry().center()), w.picWaterfall);
}

TEST_F(StartupTest, ActivationSelectsTheFirstSampleEveryTime) {
    addSample("zinc");
    addSample("default noise");
    addSample("Coin");
    fFFT& w = load();
    w.Form_Activate();
    EXPECT_EQ(w.File1->ListCount(), 3);
    EXPECT_EQ(w.File1->ListIndex(), 0);
    EXPECT_EQ(w.Label1->Caption(), "Coin sample");

    w.File1->setListIndex(2);
    w.Label1->setCaption("zinc Sample");
    w.Form_Activate();
    EXPECT_EQ(w.File1->ListIndex(), 0);
    EXPECT_EQ(w.Label1->Caption(), "Coin sample");
}

TEST_F(StartupTest, EmptyOrMissingSampleFolderSelectsNothing) {
    fFFT& w = load();
    w.Form_Activate();
    EXPECT_EQ(w.File1->ListCount(), 0);
    EXPECT_EQ(w.File1->ListIndex(), -1);
    EXPECT_EQ(w.Label1->Caption(), "Label1");

    ASSERT_TRUE(QDir(base_.path() + "/metals").removeRecursively());
    fFFT missing(base_.path());
    missing.Form_Load();
    missing.Form_Activate();
    EXPECT_FALSE(missing.IsClosed());
    EXPECT_EQ(missing.File1->ListCount(), 0);
    EXPECT_EQ(missing.File1->ListIndex(), -1);
}

TEST_F(StartupTest, ShowingTheWindowActivatesItOnceLoadIsComplete) {
    addSample("default noise");
    fFFT& w = load();
    // The window system reports the activation (if it does) only after load has finished.
    platform::DoEvents();
    if (!w.isActiveWindow()) GTEST_SKIP() << "this display does not activate windows";
    EXPECT_EQ(w.Label1->Caption(), "default noise sample");
    EXPECT_EQ(w.File1->ListIndex(), 0);
}

TEST_F(StartupTest, ExitClosesAndRaisesTheStopFlags) {
    fFFT& w = load();
    w.tmrWait->setEnabled(true);
    w.mnuExit->trigger();
    EXPECT_TRUE(w.IsClosed());
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.isIdle);
    EXPECT_TRUE(w.isStopRequested);
    EXPECT_FALSE(w.tmrWait->Enabled());
    EXPECT_FALSE(input_.isOpen());
}

TEST(StartupWithoutDeviceTest, ClosesAfterTheOneDeviceMessage) {
    QTemporaryDir base;
    platform::MessageBoxRecorder messages;
    platform::SimulatedWaveIn input(std::vector<platform::SimulatedWaveIn::Device>{});
    fFFT w(base.path());
    w.Form_Load();
    EXPECT_TRUE(w.IsClosed());
    EXPECT_FALSE(w.isVisible());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].title, "Sound Input");
    EXPECT_TRUE(w.isIdle);
    EXPECT_TRUE(w.isStopRequested);
    EXPECT_EQ(input.openCount(), 0);

    // A device that offers only 8-bit or stereo recording is no better.
    platform::MessageBoxRecorder again;
    platform::SimulatedWaveIn unsuitable(std::vector<platform::SimulatedWaveIn::Device>{
        {"8-bit only", platform::WAVE_FORMAT_1M08 | platform::WAVE_FORMAT_1S16}});
    fFFT w2(base.path());
    w2.Form_Load();
    EXPECT_TRUE(w2.IsClosed());
    EXPECT_EQ(again.messages().size(), 1u);
}

} // namespace

// Closing the "Run" menu hands the focus back from a popup: that is using the window, not
// switching to it, and must not reselect the first sample over a typed name.
TEST(ActivationRule, OnlyOrdinaryWindowsHandActivationBack) {
    EXPECT_TRUE(analyser::ReturnFromCountsAsActivation(Qt::Window));
    EXPECT_TRUE(analyser::ReturnFromCountsAsActivation(Qt::Tool));
    for (Qt::WindowType t : {Qt::Popup, Qt::ToolTip, Qt::Dialog, Qt::Sheet, Qt::SplashScreen})
        EXPECT_FALSE(analyser::ReturnFromCountsAsActivation(t)) << t;

    QMenu menu;
    menu.addAction("Start");
    menu.winId();
    ASSERT_NE(menu.windowHandle(), nullptr);
    EXPECT_FALSE(analyser::ReturnFromCountsAsActivation(menu.windowHandle()->type()));
}

// Where the library lives, and the first start of a user whose library is elsewhere.
TEST(LibraryLocation, BesideTheProgramOnlyWhenWritableElseTheUsersSeededFolder) {
    namespace fs = std::filesystem;
    QTemporaryDir tmp;
    const fs::path root = tmp.path().toStdString();
    const fs::path program = root / "prefix" / "bin";
    const fs::path user = root / "home" / "Tonvault";
    fs::create_directories(program);
    EXPECT_EQ(analyser::ChooseLibraryBase(program, user), user) << "no metals/ beside it";
    fs::create_directories(program / "metals" / "data");
    EXPECT_EQ(analyser::ChooseLibraryBase(program, user), program) << "a portable copy";
    EXPECT_EQ(analyser::ChooseLibraryBase(program, {}), program);
    EXPECT_EQ(analyser::ShippedLibraryBase(program), root / "prefix" / "share" / "tonvault");

    // The installed library, read-only, and a user who already has a "default noise" of his own.
    const fs::path shipped = analyser::ShippedLibraryBase(program);
    const analyser::SampleFolders theirs = analyser::SampleFoldersFor(shipped);
    fs::create_directories(theirs.data);
    const auto write = [](const fs::path& p, const std::string& bytes) {
        QFile f(QString::fromStdString(p.string()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    };
    const auto read = [](const fs::path& p) {
        QFile f(QString::fromStdString(p.string()));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<none>");
    };
    for (const char* name : {"default noise", "copper", "deleted by the user"}) {
        write(theirs.pictures / name, std::string("shipped picture ") + name);
        write(theirs.data / name, "null\r\n");
        fs::permissions(theirs.pictures / name, fs::perms::owner_read | fs::perms::group_read);
    }
    ASSERT_TRUE(analyser::PrepareLibrary(user, shipped));
    const analyser::SampleFolders mine = analyser::SampleFoldersFor(user);
    EXPECT_EQ(read(mine.pictures / "copper"), "shipped picture copper");
    EXPECT_EQ(read(mine.data / "copper"), "null\r\n");
    EXPECT_NE(fs::status(mine.pictures / "copper").permissions() & fs::perms::owner_write,
              fs::perms::none)
        << "the user's copy is the user's to replace";

    write(mine.pictures / "default noise", "the user's own");
    fs::remove(mine.data / "deleted by the user"); // Delete keeps the picture
    fs::remove(mine.pictures / "copper");
    fs::remove(mine.data / "copper");
    ASSERT_TRUE(analyser::PrepareLibrary(user, shipped));
    EXPECT_EQ(read(mine.pictures / "default noise"), "the user's own");
    EXPECT_EQ(read(mine.data / "deleted by the user"), "<none>") << "not brought back";
    EXPECT_EQ(read(mine.pictures / "copper"), "shipped picture copper") << "both gone: reseeded";
    // Without an installed library the folders are still made.
    EXPECT_TRUE(analyser::PrepareLibrary(root / "other", root / "nowhere"));
    EXPECT_TRUE(fs::is_directory(root / "other" / "metals" / "data"));
}
