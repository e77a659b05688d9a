// SPDX-License-Identifier: GPL-3.0-or-later
// The sample library as the user drives it through the window: the name box, "Save sample", the
// list, "Delete" and the sample picture, on a temporary program folder and a simulated device.
#include "analyser/fFFT.h"
#include "analyser/sample_library.h"
#include "platform/system/file_paths.h"
#include "platform/system/message_box.h"
#include "platform/ui/events.h"
#include "platform/sound/wave_in_simulated.h"
#include "window_fixture.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

constexpr qint64 kBmpBytes = 54 + 780 * 3 * 228;

class LibraryWindowTest : public LoadedWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(base_.isValid());
        ASSERT_TRUE(QDir(base_.path()).mkpath("metals/data"));
        ASSERT_FALSE(load().IsClosed());
    }

    QString picturePath(const QString& name) const { return base_.path() + "/metals/" + name; }
    QString markerPath(const QString& name) const { return base_.path() + "/metals/data/" + name; }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // Fills the waterfall with a pattern in which every pixel differs from its neighbours, so a
    // shifted, flipped, scaled or cut picture cannot compare equal.
    QImage paint(int seed) {
        platform::PictureBox& p = *w().picWaterfall;
        for (int y = 0; y < p.PixelHeight(); ++y)
            for (int x = 0; x < p.ScaleWidth(); ++x)
                p.SetPixel(x, y,
                           ((x * 7 + seed) & 0xFF) + 256 * ((y * 13 + seed) & 0xFF) +
                               65536 * ((x ^ y ^ seed) & 0xFF));
        return p.Image().convertToFormat(QImage::Format_RGB32);
    }
    void save(const QString& name) {
        w().Text1->setText(name);
        w().Command1->click(); // as the user's click, through the button's signal
    }
    int rowOf(const QString& name) const {
        for (int i = 0; i < w_->File1->ListCount(); ++i)
            if (w_->File1->List(i) == name) return i;
        return -1;
    }
    QStringList listed() const {
        QStringList names;
        for (int i = 0; i < w_->File1->ListCount(); ++i) names << w_->File1->List(i);
        return names;
    }
    // Every entry under the temporary folder with its size and bytes.
    std::map<QString, QByteArray> tree() const {
        std::map<QString, QByteArray> all;
        QDirIterator it(base_.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            all[path] = it.fileInfo().isFile() ? Read(path) : QByteArray("<dir>");
        }
        return all;
    }
    static QImage Rgb32(const QImage& image) { return image.convertToFormat(QImage::Format_RGB32); }
    // Whether the library's folder takes "Default noise" for "default noise" (Windows, macOS).
    bool namesIgnoreCase() const {
        return analyser::NamesIgnoreCase(
            analyser::SampleFoldersFor(platform::FromQString(base_.path())));
    }
};

TEST_F(LibraryWindowTest, SaveWritesPictureAndMarkerAndListsTheNameOnce) {
    const QImage first = paint(1);
    save("brass coin");
    EXPECT_EQ(Read(markerPath("brass coin")), QByteArray("null\r\n"));
    ASSERT_EQ(QFile(picturePath("brass coin")).size(), kBmpBytes) << "780 x 228, 24-bit";
    EXPECT_EQ(Read(picturePath("brass coin")).left(2), QByteArray("BM"));
    QImage stored(picturePath("brass coin"), "BMP");
    ASSERT_EQ(stored.size(), QSize(780, 228));
    EXPECT_EQ(Rgb32(stored), first) << "the whole persistent image, pixel for pixel";
    EXPECT_EQ(listed(), QStringList{"brass coin"});
    EXPECT_EQ(w().Text1->Text(), "brass coin") << "the saved name stays in the name box";
    EXPECT_EQ(QDir(base_.path() + "/metals").entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no temporary file is left behind";

    // Saving again under the same name replaces both files and still lists it once; an entry
    // selected before stays selected.
    save("aluminium");
    w().File1->setListIndex(rowOf("aluminium"));
    const QImage second = paint(2);
    save("brass coin");
    EXPECT_EQ(Rgb32(QImage(picturePath("brass coin"), "BMP")), second);
    EXPECT_EQ(Read(markerPath("brass coin")), QByteArray("null\r\n"));
    EXPECT_EQ(listed(), (QStringList{"aluminium", "brass coin"}));
    EXPECT_EQ(w().File1->FileName(), "aluminium");
    EXPECT_EQ(w().Text1->Text(), "brass coin");
}

TEST_F(LibraryWindowTest, ShowPutsThePictureTopLeftUnscaledAndNamesTheSample) {
    const QImage saved = paint(3);
    save("Copper");
    paint(4); // the live picture moves on
    const QImage before = w().Picture1->Image().copy();

    w().File1->setListIndex(rowOf("Copper"));
    EXPECT_EQ(w().Text1->Text(), "Copper");
    EXPECT_EQ(w().Label1->Caption(), "Copper Sample");
    const QImage shown = Rgb32(w().Picture1->Image());
    ASSERT_EQ(shown.size(), QSize(780, 156));
    EXPECT_NE(shown, Rgb32(before));
    EXPECT_EQ(shown, saved.copy(0, 0, 780, 156)) << "rows below 156 are cut off";

    // Activation names the first entry with a lower-case "sample" and replaces what was typed.
    save("Brass");
    w().Text1->setText("typed, not saved");
    w().Form_Activate();
    EXPECT_EQ(w().File1->FileName(), "Brass");
    EXPECT_EQ(w().Label1->Caption(), "Brass sample");
    EXPECT_EQ(w().Text1->Text(), "Brass");
}

TEST_F(LibraryWindowTest, ShowWithAMissingOrForeignPictureKeepsTheOldOne) {
    const QImage saved = paint(5);
    save("gold");
    w().File1->setListIndex(rowOf("gold"));
    const QImage shown = Rgb32(w().Picture1->Image());
    ASSERT_EQ(shown, saved.copy(0, 0, 780, 156));

    Write(markerPath("ghost"), "null\r\n"); // listed, no picture
    Write(markerPath("junk"), "");          // an empty marker lists its sample all the same
    Write(picturePath("junk"), "this is not a picture");
    Write(markerPath("half"), "null\r\n");
    Write(picturePath("half"), Read(picturePath("gold")).left(40000)); // a cut-off BMP
    save("gold");                                                      // re-reads the list
    ASSERT_EQ(listed(), (QStringList{"ghost", "gold", "half", "junk"}));

    for (const char* name : {"ghost", "junk", "half"}) {
        w().File1->setListIndex(rowOf(name));
        EXPECT_EQ(w().Text1->Text(), name);
        EXPECT_EQ(w().Label1->Caption(), QString(name) + " Sample");
        EXPECT_EQ(Rgb32(w().Picture1->Image()), shown) << name;
    }
}

TEST_F(LibraryWindowTest, NamesBeyondAsciiAreSavedListedAndShown) {
    const QString gold = QString::fromUtf8("Gold €");
    const QString other = QString::fromUtf8("gold-ä-ж");
    const QImage first = paint(16);
    save(gold);
    const QImage second = paint(17);
    save(other);
    EXPECT_TRUE(messages_.messages().empty());
    EXPECT_EQ(listed(), (QStringList{gold, other}));
    EXPECT_EQ(Read(markerPath(gold)), QByteArray("null\r\n"));
    EXPECT_EQ(Rgb32(QImage(picturePath(other), "BMP")), second);

    w().File1->setListIndex(rowOf(gold));
    EXPECT_EQ(w().Label1->Caption(), gold + " Sample");
    EXPECT_EQ(Rgb32(w().Picture1->Image()), first.copy(0, 0, 780, 156));
    w().File1->setListIndex(rowOf(other));
    EXPECT_EQ(Rgb32(w().Picture1->Image()), second.copy(0, 0, 780, 156));
    w().Command2->click();
    EXPECT_EQ(listed(), QStringList{gold});
    EXPECT_FALSE(QFile::exists(markerPath(other)));
}

TEST_F(LibraryWindowTest, DeleteRemovesTheMarkerButNeverTheProtectedSample) {
    if (namesIgnoreCase())
        GTEST_SKIP() << "\"Default noise\" and \"default noise\" are one file in this folder; "
                        "NoSpellingOfTheProtectedSampleIsDeletedWhereNamesIgnoreCase covers it";
    paint(6);
    save("default noise");
    save("Default noise");
    const QImage kept = paint(7);
    save("iron");
    ASSERT_EQ(listed(), (QStringList{"Default noise", "default noise", "iron"}));

    w().File1->setListIndex(rowOf("default noise"));
    w().Command2->click();
    EXPECT_TRUE(QFile::exists(markerPath("default noise")));
    EXPECT_EQ(listed(), (QStringList{"Default noise", "default noise", "iron"}));
    EXPECT_EQ(w().File1->FileName(), "default noise");

    // Only the exact name is protected.
    w().File1->setListIndex(rowOf("Default noise"));
    w().Command2->click();
    EXPECT_FALSE(QFile::exists(markerPath("Default noise")));
    EXPECT_TRUE(QFile::exists(picturePath("Default noise"))) << "the picture stays";
    EXPECT_EQ(listed(), (QStringList{"default noise", "iron"}));

    // Deleting leaves the name box, the caption and the picture as they were.
    w().File1->setListIndex(rowOf("iron"));
    const QImage shown = w().Picture1->Image().copy();
    w().Command2->click();
    EXPECT_EQ(listed(), QStringList{"default noise"});
    EXPECT_EQ(w().File1->ListIndex(), -1);
    EXPECT_EQ(w().Text1->Text(), "iron");
    EXPECT_EQ(w().Label1->Caption(), "iron Sample");
    EXPECT_EQ(w().Picture1->Image(), shown);
    EXPECT_TRUE(QFile::exists(picturePath("iron")));

    // With nothing selected Delete removes nothing.
    w().Command2->click();
    EXPECT_EQ(listed(), QStringList{"default noise"});

    // Saved again, it is listed again with the new picture.
    const QImage fresh = paint(8);
    ASSERT_NE(fresh, kept);
    save("iron");
    EXPECT_EQ(listed(), (QStringList{"default noise", "iron"}));
    EXPECT_EQ(Rgb32(QImage(picturePath("iron"), "BMP")), fresh);
}

TEST_F(LibraryWindowTest, NoSpellingOfTheProtectedSampleIsDeletedWhereNamesIgnoreCase) {
    if (!namesIgnoreCase())
        GTEST_SKIP() << "this folder tells names apart by letter case, as Linux does; "
                        "DeleteRemovesTheMarkerButNeverTheProtectedSample covers it";
    // A library copied from elsewhere may spell it otherwise; it is still the protected sample.
    paint(6);
    save("DEFAULT NOISE");
    const QImage replaced = paint(7);
    save("default noise"); // replaces it, and keeps the spelling it found
    save("iron");
    ASSERT_EQ(listed(), (QStringList{"DEFAULT NOISE", "iron"}));
    EXPECT_EQ(Rgb32(QImage(picturePath("DEFAULT NOISE"), "BMP")), replaced);

    w().File1->setListIndex(rowOf("DEFAULT NOISE"));
    w().Command2->click();
    EXPECT_TRUE(QFile::exists(markerPath("DEFAULT NOISE")));
    EXPECT_EQ(listed(), (QStringList{"DEFAULT NOISE", "iron"}));
    w().File1->setListIndex(rowOf("iron"));
    w().Command2->click();
    EXPECT_EQ(listed(), QStringList{"DEFAULT NOISE"});
}

TEST_F(LibraryWindowTest, UnsafeNamesWriteNothingAnywhereButTheListIsReRead) {
    paint(9);
    save("steel");
    // Targets an unsafe name could reach outside the two folders.
    ASSERT_TRUE(QDir(base_.path()).mkpath("outside"));
    Write(base_.path() + "/metals/x", "keep me");
    Write(base_.path() + "/x", "keep me too");

    const QStringList unsafe = {"", ".", "..", "../x", "a/b", "..\\x", "*", "a?b", "tab\there",
                                "line\nfeed", "a:b", "<pipe|>", "quote\"", "../outside/y", "/tmp",
                                // Windows devices and names Windows would shorten.
                                "nul", "Com1.bmp", "CON.txt", "lpt9", "trail.", "trail "};
    int extra = 0;
    for (const QString& name : unsafe) {
        const auto before = tree();
        // A sample added by other means appears once the click has re-read the list.
        const QString other = QString("added %1").arg(++extra);
        Write(markerPath(other), "null\r\n");
        save(name);
        auto after = tree();
        after.erase(markerPath(other));
        EXPECT_EQ(after, before) << "name " << name.toStdString();
        EXPECT_GE(rowOf(other), 0) << "name " << name.toStdString();
        EXPECT_EQ(w().Text1->Text(), name);
    }
    EXPECT_EQ(rowOf(""), -1);
    EXPECT_EQ(Read(base_.path() + "/x"), QByteArray("keep me too"));
    EXPECT_TRUE(messages_.messages().empty()) << "nothing was attempted, so nothing is said";

    // Names the library cannot save are not listed either, so they cannot be deleted. Linux takes
    // "we|rd", "trail." and "nul" as file names; Windows refuses, alters or opens a device for
    // them.
#ifndef _WIN32
    for (const char* name : {"we|rd", "trail.", "nul"}) Write(markerPath(name), "null\r\n");
#endif
    Write(markerPath(".hidden"), "null\r\n");
    save("steel");
    for (const char* name : {"we|rd", "trail.", "nul", ".hidden"})
        EXPECT_EQ(rowOf(name), -1) << name;
}

TEST_F(LibraryWindowTest, SaveAndDeleteLeaveTheKeyboardOnTheWaterfall) {
    w().activateWindow();
    platform::DoEvents();
    w().Text1->setFocus();
    if (QApplication::focusWidget() != w().Text1)
        GTEST_SKIP() << "this display gives the window no keyboard focus";
    save("lead");
    EXPECT_EQ(QApplication::focusWidget(), w().picWaterfall);
    w().File1->setFocus();
    w().File1->setListIndex(rowOf("lead"));
    w().Command2->click();
    EXPECT_EQ(QApplication::focusWidget(), w().picWaterfall);
}

TEST_F(LibraryWindowTest, MissingFoldersListNothingAndSaveNothing) {
    // The data folder alone missing: the picture folder stays untouched.
    ASSERT_TRUE(QDir(base_.path() + "/metals/data").removeRecursively());
    fFFT& noData = load();
    noData.Form_Activate();
    EXPECT_EQ(noData.File1->ListCount(), 0);
    EXPECT_EQ(noData.File1->ListIndex(), -1);
    paint(10);
    save("brass");
    EXPECT_TRUE(QDir(base_.path() + "/metals")
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    ASSERT_EQ(messages_.messages().size(), 1u) << "a save that could not be done is said";
    EXPECT_EQ(messages_.messages()[0].title, "Tonvault");
    messages_.clear();
    noData.Command2->click(); // nothing selected, nothing there: nothing breaks
    EXPECT_EQ(noData.File1->ListCount(), 0);

    // Both missing: nothing is created.
    ASSERT_TRUE(QDir(base_.path() + "/metals").removeRecursively());
    fFFT& none = load();
    none.Form_Activate();
    EXPECT_EQ(none.File1->ListCount(), 0);
    save("brass");
    EXPECT_FALSE(QDir(base_.path() + "/metals").exists());
    EXPECT_EQ(none.File1->ListCount(), 0);
    EXPECT_EQ(messages_.messages().size(), 1u);
}

TEST_F(LibraryWindowTest, ASaveTheFileSystemRefusesIsSaidOnceAndKeepsTheOldSample) {
    const QImage old = paint(11);
    save("coin");
    const auto before = tree();
    paint(12);

    // A name longer than the file system takes.
    const QString tooLong(300, 'n');
    save(tooLong);
    ASSERT_EQ(messages_.messages().size(), 1u);
    const platform::MessageRecord said = messages_.messages()[0];
    EXPECT_EQ(said.title, "Tonvault");
    EXPECT_EQ(said.icon, platform::MsgIcon::Exclamation);
#ifdef _WIN32
    // Windows words it otherwise (wine: "Input/output error").
    const QString why;
#else
    const QString why = "File name too long";
#endif
    EXPECT_TRUE(QString::fromStdString(said.text).startsWith("The sample \"" + tooLong +
                                                             "\" was not saved: " + why))
        << said.text;
    EXPECT_EQ(tree(), before) << "nothing is left behind";
    EXPECT_EQ(rowOf(tooLong), -1);

    // The marker cannot be replaced (a folder took its name): the old picture stays.
    messages_.clear();
    ASSERT_TRUE(QFile::remove(markerPath("coin")));
    ASSERT_TRUE(QDir().mkpath(markerPath("coin") + "/inner"));
    save("coin");
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_NE(messages_.messages()[0].text.find("is not a regular file"), std::string::npos);
    EXPECT_EQ(Rgb32(QImage(picturePath("coin"), "BMP")), old);
}

TEST_F(LibraryWindowTest, AReadOnlyPictureFolderIsSaidAndKeepsTheOldSample) {
    paint(15);
    save("coin");
    ASSERT_TRUE(messages_.messages().empty());
    const QImage kept = Rgb32(QImage(picturePath("coin"), "BMP"));
    const QString folder = base_.path() + "/metals";
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(folder + "/probe");
    const bool binding = !probe.open(QIODevice::WriteOnly);
    if (!binding) probe.remove();
    if (binding) {
        paint(13);
        save("coin");
        ASSERT_EQ(messages_.messages().size(), 1u);
        EXPECT_NE(messages_.messages()[0].text.find("Permission denied"), std::string::npos)
            << messages_.messages()[0].text;
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(Rgb32(QImage(picturePath("coin"), "BMP")), kept);
    EXPECT_EQ(Read(markerPath("coin")), QByteArray("null\r\n"));
    if (!binding) GTEST_SKIP() << "running as a user whom folder permissions do not bind";
}

TEST_F(LibraryWindowTest, CutOffPicturesLinksAndLeftoversAreKeptOut) {
    const QImage shown = paint(14);
    save("gold");
    w().File1->setListIndex(rowOf("gold"));
    ASSERT_EQ(Rgb32(w().Picture1->Image()), shown.copy(0, 0, 780, 156));

    // Cut off after 100 of 228 rows, once with bfSize 0 and once with a bfSize that agrees.
    QByteArray cut = Read(picturePath("gold")).left(54 + 780 * 3 * 100);
    for (const char* name : {"zero size", "honest size"}) {
        QByteArray f = cut;
        const quint32 size = QByteArray(name) == "zero size" ? 0u : quint32(f.size());
        for (int i = 0; i < 4; ++i) f[2 + i] = char((size >> (8 * i)) & 0xFF);
        Write(picturePath(name), f);
        Write(markerPath(name), "null\r\n");
    }
    // A picture link to a BMP outside the library, a marker link to a device. Windows makes
    // shortcut files for QFile::link, and has no /dev: there only the cut-off pictures.
    QStringList cutOff{"zero size", "honest size"};
#ifndef _WIN32
    QTemporaryDir outside;
    QFile::copy(picturePath("gold"), outside.path() + "/elsewhere.bmp");
    ASSERT_TRUE(QFile::link(outside.path() + "/elsewhere.bmp", picturePath("linked")));
    Write(markerPath("linked"), "null\r\n");
    ASSERT_TRUE(QFile::link("/dev/zero", markerPath("zero")));
    cutOff << "linked";
#endif
    save("gold");
    QStringList want = cutOff;
    want << "gold";
    want.sort(Qt::CaseInsensitive);
    ASSERT_EQ(listed(), want);
    for (const QString& name : cutOff) {
        w().File1->setListIndex(rowOf(name));
        EXPECT_EQ(w().Label1->Caption(), QString(name) + " Sample");
        EXPECT_EQ(Rgb32(w().Picture1->Image()), shown.copy(0, 0, 780, 156)) << name.toStdString();
    }

    // What an interrupted save left is gone at the next start, and was never listed.
    const QString leftovers[] = {base_.path() + "/metals/.tonvault-save-0123456789abcdef.tmp",
                                 base_.path() + "/metals/data/.tonvault-save-77-3.tmp"};
    for (const QString& path : leftovers) Write(path, QByteArray(533000, 'x'));
    Write(base_.path() + "/metals/.other", "not ours");
    fFFT& again = load();
    for (const QString& path : leftovers) EXPECT_FALSE(QFile::exists(path)) << path.toStdString();
    EXPECT_TRUE(QFile::exists(base_.path() + "/metals/.other"));
#ifndef _WIN32
    EXPECT_TRUE(QFile::exists(picturePath("linked")));
#endif
    EXPECT_EQ(again.File1->ListCount(), want.size());
    EXPECT_TRUE(messages_.messages().empty());
}

} // namespace
