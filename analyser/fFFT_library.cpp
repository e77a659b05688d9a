// SPDX-License-Identifier: GPL-3.0-or-later
// The window's library commands: Save, Show (a click in the list) and Delete, over the library
// module (sample_library.h), and the watch that keeps the list in step with its folder.
#include "analyser/fFFT.h"

#include "analyser/sample_library.h"
#include "platform/system/colour.h"
#include "platform/system/file_paths.h"
#include "platform/system/message_box.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QScrollBar>
#include <QTimer>

#include <string>

analyser::SampleFolders fFFT::Folders() const {
    return analyser::SampleFoldersFor(platform::FromQString(baseFolder_));
}

void fFFT::Command1_Click() {
    // The name exactly as typed; SaveSample refuses what is not a bare file name.
    const std::string name = Text1->Text().toStdString();
    const analyser::SaveResult saved = analyser::SaveSample(Folders(), name, picWaterfall->Image());
    // The selected entry can only vanish here through another program.
    ReReadLibrary(true);
    // A save the file system refused is said, or the user would take the sample for stored; an
    // unsafe name is refused silently, as nothing was attempted.
    if (saved.status == analyser::SaveStatus::Failed)
        platform::MsgBox(analyser::SaveFailureText(name, saved.reason),
                         platform::MsgIcon::Exclamation, "Tonvault");
    FocusWaterfall();
}

void fFFT::File1_Click() {
    const QString name = File1->FileName();
    if (name.isEmpty()) return;
    Text1->setText(name);
    Label1->setCaption(name + " Sample");
    const analyser::SampleFolders folders = Folders();
    const std::string bare = name.toStdString();
    // Loaded through the library first: a cut-off file never shows rows it does not hold, and
    // what cannot be shown leaves no picture of another sample under this name.
    const bool listed = analyser::IsListedSample(folders.data, bare);
    const auto picture = listed ? analyser::LoadSamplePicture(folders, bare) : std::nullopt;
    if (!picture || !Picture1->SetPicture(*picture)) ShowNoPicture();
    // Removed behind the list's back and not yet noticed: the list is re-read once this click is
    // over, as the list widget is still busy with its selection here.
    if (!listed) QTimer::singleShot(0, this, [this] { LibraryChanged(); });
}

void fFFT::Command2_Click() {
    const std::string name = File1->FileName().toStdString();
    // Compared as the library's folder compares names: on Windows "Default Noise" is the
    // protected sample's own file.
    analyser::SampleFolders folders = Folders();
    if (!name.empty() && analyser::IsSafeSampleName(name) &&
        !analyser::IsListedSample(folders.data, name)) {
        // Already gone: the list catches up instead of deleting a ghost.
        ReReadLibrary(true);
        FocusWaterfall();
        return;
    }
    // Asked of the folder once, for the check here and the one inside DeleteSample.
    folders.namesIgnoreCase = analyser::NamesIgnoreCase(folders);
    if (!analyser::IsSafeSampleName(name) || !analyser::IsProtectedSample(folders, name)) {
        analyser::DeleteSample(folders, name);
        // The caption and the picture stay as they were after a Delete of our own.
        ReReadLibrary(false);
    }
    FocusWaterfall();
}

void fFFT::ShowNoPicture() {
    Picture1->Cls();
    const QColor caption = Label1->palette().color(QPalette::WindowText);
    Picture1->setForeColor(platform::PackColour(caption.red(), caption.green(), caption.blue()));
    // Just below the caption's box, in line with its text.
    Picture1->CurrentX = Label1->x();
    Picture1->CurrentY = Label1->y() + Label1->height() + 3;
    Picture1->Print(kNoPictureNote);
}

void fFFT::WatchLibrary() {
    if (!libraryWatcher_) {
        libraryWatcher_ = new QFileSystemWatcher(this);
        libraryRefresh_ = new QTimer(this);
        libraryRefresh_->setSingleShot(true);
        libraryRefresh_->setInterval(kLibraryRefreshMs);
        // The first change starts the wait and later ones join it, so a stream of changes (a
        // copy of thousands of samples) re-reads the list a few times a second, not per file.
        connect(libraryWatcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
            if (!libraryRefresh_->isActive()) libraryRefresh_->start();
        });
        connect(libraryRefresh_, &QTimer::timeout, this, [this] { LibraryChanged(); });
    }
    // Watched afresh each time: a folder moved away (a restore puts another in its place) keeps
    // its watch on the moved folder, and one removed drops out; the parent's watch hears of the
    // new one. Done before the list is read, so nothing changed in between goes unnoticed.
    const QString base = QDir::cleanPath(baseFolder_);
    QStringList folders{base + "/metals", base + "/metals/data"};
#ifndef _WIN32
    // Windows refuses to rename a folder while a folder inside it is watched, and the folder
    // that holds the base folder is not ours to pin down.
    folders.prepend(base);
#endif
    const QStringList watched = libraryWatcher_->directories();
    if (!watched.isEmpty()) libraryWatcher_->removePaths(watched);
    for (const QString& folder : folders)
        if (QFileInfo(folder).isDir()) libraryWatcher_->addPath(folder);
}

void fFFT::ReReadLibrary(bool showGone) {
    const QString selected = File1->FileName();
    QScrollBar* scroll = File1->verticalScrollBar();
    const int at = scroll->value();
    if (libraryWatcher_) WatchLibrary();
    File1->Refresh();
    scroll->setValue(at);
    if (!showGone || selected.isEmpty() || !File1->FileName().isEmpty()) return;
    ShowNoPicture();
    // A list without a current entry that gets the keyboard focus (the window taken up again)
    // makes its first entry current, which would show that sample in place of the gone one.
    if (focusWidget() == File1) FocusWaterfall();
}

void fFFT::LibraryChanged() {
    if (libraryRefresh_) libraryRefresh_->stop();
    ReReadLibrary(true);
}
