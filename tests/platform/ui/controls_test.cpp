// SPDX-License-Identifier: GPL-3.0-or-later
// Control semantics the window's handlers depend on: handlers run once per change, from code or
// from the user; scroll bars whose Min lies above Max; the folder-bound file list; timers.
#include "platform/ui/controls.h"
#include "platform/ui/events.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace platform;

namespace {

// Waits for cond while running events, up to ms milliseconds.
template <class Cond> bool WaitFor(Cond cond, int ms) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) DoEvents();
    return cond();
}

TEST(ScrollBarTest, ChangeFromCodeRunsOncePerChangeAndSeesTheNewValue) {
    QWidget host;
    ScrollBar bar(Qt::Vertical, &host);
    bar.setRange(0, 100);
    std::vector<int> seen;
    bar.onChange = [&] { seen.push_back(bar.Value()); };

    bar.setValue(40);
    bar.setValue(40);
    bar.setValue(41);
    EXPECT_EQ(seen, (std::vector<int>{40, 41}));
}

TEST(ScrollBarTest, MinAboveMaxKeepsMinAtTheTopAndStepsTowardsMax) {
    QWidget host;
    ScrollBar bar(Qt::Vertical, &host);
    int changes = 0;
    bar.onChange = [&] { ++changes; };
    bar.setRange(10, 1); // value 0 lies outside: pulled to the nearest end
    EXPECT_EQ(bar.Value(), 1);
    EXPECT_EQ(changes, 1);

    bar.setSmallChange(1);
    bar.setLargeChange(3);
    bar.setValue(10);
    EXPECT_EQ(bar.QAbstractSlider::value(), 0) << "Min is drawn at the top";

    // The down arrow and a click below the thumb move towards Max, i.e. to smaller numbers.
    bar.triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(bar.Value(), 9);
    bar.triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(bar.Value(), 6);
    bar.triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(bar.Value(), 1);
    bar.triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(bar.Value(), 1) << "cannot step past Max";
    bar.triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(bar.Value(), 2);
    EXPECT_EQ(changes, 6);

    bar.setValue(50);
    EXPECT_EQ(bar.Value(), 10) << "values beyond Min clamp to it";
    bar.setValue(-7);
    EXPECT_EQ(bar.Value(), 1);
}

TEST(ScrollBarTest, NegativeRangesMapBothWays) {
    QWidget host;
    ScrollBar bar(Qt::Vertical, &host);
    bar.setRange(50, -50);
    bar.setValue(0);
    EXPECT_EQ(bar.QAbstractSlider::value(), 50);
    bar.QAbstractSlider::setValue(100); // the user drags the thumb to the bottom
    EXPECT_EQ(bar.Value(), -50);
}

TEST(ScrollBarTest, DraggingRunsChangeAsTheThumbMovesUnlessTrackingIsOff) {
    QWidget host;
    ScrollBar tracking(Qt::Vertical, &host);
    tracking.setRange(0, 200);
    int runs = 0;
    tracking.onChange = [&] { ++runs; };
    tracking.setSliderDown(true);
    tracking.setSliderPosition(20);
    tracking.setSliderPosition(30);
    tracking.setSliderDown(false);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(tracking.Value(), 30);

    ScrollBar onRelease(Qt::Vertical, &host);
    onRelease.setRange(0, 1000);
    onRelease.setChangeWhileDragging(false);
    int released = 0;
    onRelease.onChange = [&] { ++released; };
    onRelease.setSliderDown(true);
    onRelease.setSliderPosition(20);
    onRelease.setSliderPosition(30);
    EXPECT_EQ(released, 0);
    onRelease.setSliderDown(false);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(onRelease.Value(), 30);
}

TEST(ScrollBarTest, LoweringMaxBelowTheValueDropsTheValueFirst) {
    QWidget host;
    ScrollBar bar(Qt::Horizontal, &host);
    bar.setRange(0, 3314);
    bar.setValue(3000);
    std::vector<int> seen;
    bar.onChange = [&] { seen.push_back(bar.Value()); };
    bar.setMax(242);
    EXPECT_EQ(bar.Value(), 242);
    EXPECT_EQ(seen, (std::vector<int>{242}));
    bar.setMax(500); // value still inside: nothing runs
    EXPECT_EQ(bar.Value(), 242);
    EXPECT_EQ(seen.size(), 1u);
    // Raising Min (the top) over the value of an inverted bar pulls it along too.
    ScrollBar reso(Qt::Vertical, &host);
    reso.setRange(5, 0);
    reso.setValue(4);
    reso.setMin(2);
    EXPECT_EQ(reso.Value(), 2);
}

TEST(CheckAndOptionTest, CheckBoxRunsClickOnChangesFromCodeAndUser) {
    QWidget host;
    CheckBox box("Hum Sup", &host);
    std::vector<int> seen;
    box.onClick = [&] { seen.push_back(box.Value()); };
    box.setValue(1);
    box.setValue(1);
    box.click(); // as the user
    box.setValue(0);
    EXPECT_EQ(seen, (std::vector<int>{1, 0}));
    box.setValue(1);
    EXPECT_EQ(seen, (std::vector<int>{1, 0, 1}));
}

TEST(CheckAndOptionTest, OptionArrayRunsClickForTheNewlySelectedIndexOnly) {
    QWidget host;
    QWidget samples(&host);
    QWidget filters(&host);
    OptionArray rates;
    for (int i = 0; i < 6; ++i) rates.add(QString::number(1024 << i), &samples);
    std::vector<int> clicked;
    rates.onClick = [&](int index) { clicked.push_back(index); };
    OptionButton weighted("Weighted Average", &filters);
    int weightedClicks = 0;
    weighted.onClick = [&] { ++weightedClicks; };

    EXPECT_EQ(rates.selected(), -1);
    rates(1).setValue(true);
    rates(1).setValue(true);
    rates(3).click();
    rates(5).setValue(true);
    EXPECT_EQ(clicked, (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(rates.selected(), 5);
    EXPECT_FALSE(rates(3).Value());

    weighted.setValue(true); // another container: the rates keep their selection
    EXPECT_EQ(weightedClicks, 1);
    EXPECT_EQ(rates.selected(), 5);

    rates(5).setValue(false);
    EXPECT_EQ(rates.selected(), -1);
    rates(5).setValue(true);
    EXPECT_EQ(clicked.back(), 5);
    EXPECT_EQ(clicked.size(), 4u);
}

class FileListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        for (const char* name : {"default noise", "Coin", "a ring", ".hidden", "zinc"}) touch(name);
        ASSERT_TRUE(QDir(dir_.path()).mkdir("folder"));
    }
    void touch(const QString& name) {
        QFile f(dir_.path() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("null\r\n");
    }
    QStringList names(const FileListBox& list) {
        QStringList out;
        for (int i = 0; i < list.ListCount(); ++i) out << list.List(i);
        return out;
    }
    QTemporaryDir dir_;
};

TEST_F(FileListTest, ListsVisibleFilesByNameAndSelectsFromCodeWithAClick) {
    QWidget host;
    FileListBox list(&host);
    QStringList shown;
    list.onClick = [&] { shown << list.FileName(); };
    list.setPath(dir_.path());
    EXPECT_EQ(names(list), (QStringList{"a ring", "Coin", "default noise", "zinc"}));
    EXPECT_EQ(list.ListIndex(), -1);
    EXPECT_TRUE(shown.isEmpty()) << "reading the folder is not a click";

    list.setListIndex(2);
    list.setListIndex(2); // the same entry again still shows it
    list.setListIndex(7); // out of range: ignored
    EXPECT_EQ(shown, (QStringList{"default noise", "default noise"}));
    EXPECT_EQ(list.ListIndex(), 2);

    list.setCurrentRow(3); // the user moves the selection
    EXPECT_EQ(shown.back(), "zinc");
    EXPECT_EQ(shown.size(), 3);
}

TEST_F(FileListTest, RefreshShowsNewFilesAndKeepsTheSelectionByName) {
    QWidget host;
    FileListBox list(&host);
    int clicks = 0;
    list.onClick = [&] { ++clicks; };
    list.setPath(dir_.path());
    list.setListIndex(1); // "Coin"
    touch("Bell");
    list.Refresh();
    EXPECT_EQ(names(list), (QStringList{"a ring", "Bell", "Coin", "default noise", "zinc"}));
    EXPECT_EQ(list.FileName(), "Coin");
    EXPECT_EQ(list.ListIndex(), 2);
    EXPECT_EQ(clicks, 1);

    ASSERT_TRUE(QFile::remove(dir_.path() + "/Coin"));
    list.Refresh();
    EXPECT_EQ(list.ListIndex(), -1);
    EXPECT_EQ(list.FileName(), "");
    EXPECT_EQ(clicks, 1);
}

TEST_F(FileListTest, MissingFolderGivesAnEmptyListAndNoClick) {
    QWidget host;
    FileListBox list(&host);
    int clicks = 0;
    list.onClick = [&] { ++clicks; };
    list.setPath(dir_.path() + "/no such folder");
    EXPECT_EQ(list.ListCount(), 0);
    list.setListIndex(0);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(list.FileName(), "");
    list.setFilter([](const std::string& n) { return n != "zinc"; });
    list.setPath(dir_.path());
    EXPECT_EQ(names(list), (QStringList{"a ring", "Coin", "default noise"}));
}

TEST(LabelTest, AutoSizeFollowsTheCaption) {
    QWidget host;
    Label label("x", &host);
    label.setAutoSize(true);
    const int narrow = label.width();
    label.setCaption("Buffering - Please wait 32 Secs");
    EXPECT_GT(label.width(), narrow * 3);
    Label fixed("x", &host);
    fixed.resize(40, 13);
    fixed.setCaption("Buffering - Please wait 32 Secs");
    EXPECT_EQ(fixed.width(), 40);
}

// The loop refills a hidden list on every pass: its entries must be right without rows on
// screen, and the rows must match them as soon as the list is shown.
TEST(ListBoxTest, KeepsEntriesWhileHiddenAndShowsThemWhenShown) {
    QWidget window;
    ListBox list(&window);
    list.hide();
    window.show();
    for (int pass = 0; pass < 3; ++pass) {
        list.Clear();
        for (int n : {0, 7, 780, 4095, 4096, -3}) list.AddNumber(n + pass);
    }
    list.AddItem("last");
    ASSERT_EQ(list.ListCount(), 7);
    EXPECT_EQ(list.List(0), "2");
    EXPECT_EQ(list.List(2), "782");
    EXPECT_EQ(list.List(3), "4097");
    EXPECT_EQ(list.List(5), "-1");
    EXPECT_EQ(list.List(6), "last");
    EXPECT_EQ(list.List(7), QString());
    EXPECT_EQ(list.count(), 0); // no rows were made while hidden

    list.show();
    ASSERT_EQ(list.count(), 7);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(list.item(i)->text(), list.List(i)) << i;
    list.Clear();
    list.AddNumber(12);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.item(0)->text(), "12");

    // Hidden again and refilled: the rows of the earlier showing must not come back.
    list.hide();
    list.Clear();
    list.AddItem("text");
    list.AddNumber(5000);
    list.show();
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.item(0)->text(), "text");
    EXPECT_EQ(list.item(1)->text(), "5000");
}

TEST(VisibilityTest, OwnFlagIgnoresHiddenContainers) {
    QWidget window;
    QWidget panel(&window);
    Label inside("lbFreq", &panel);
    Label hidden("lbBuffering", &panel);
    panel.hide();
    hidden.hide();
    EXPECT_TRUE(VisibleFlag(&inside));
    EXPECT_FALSE(VisibleFlag(&hidden));
    EXPECT_FALSE(VisibleFlag(&panel));
    window.show();
    EXPECT_TRUE(VisibleFlag(&inside));
    EXPECT_FALSE(inside.isVisible());
    hidden.show();
    EXPECT_TRUE(VisibleFlag(&hidden));
}

TEST(EventsTest, TimerFiresWhileEnabledAndPostedCommandsRunLater) {
    QObject owner;
    Timer timer(&owner);
    int ticks = 0;
    timer.onTimer = [&] { ++ticks; };
    timer.setInterval(5);
    EXPECT_TRUE(WaitFor([] { return false; }, 30) == false);
    EXPECT_EQ(ticks, 0) << "not enabled yet";
    timer.setEnabled(true);
    EXPECT_TRUE(WaitFor([&] { return ticks >= 2; }, 2000));
    timer.setEnabled(false);
    const int stopped = ticks;
    WaitFor([] { return false; }, 40);
    EXPECT_EQ(ticks, stopped);

    int ran = 0;
    PostCommand(&owner, [&] { ++ran; });
    EXPECT_EQ(ran, 0) << "posting never runs the command at once";
    DoEvents();
    EXPECT_EQ(ran, 1);

    auto gone = std::make_unique<QObject>();
    PostCommand(gone.get(), [&] { ++ran; });
    gone.reset();
    DoEvents();
    EXPECT_EQ(ran, 1) << "a command whose owner is gone is dropped";
}

} // namespace
