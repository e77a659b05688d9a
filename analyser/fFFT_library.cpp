// SPDX-License-Identifier: GPL-3.0-or-later
// The window's library commands: Save, Show (a click in the list) and Delete, over the library
// module (sample_library.h).
#include "analyser/fFFT.h"

#include "analyser/sample_library.h"
#include "platform/system/file_paths.h"
#include "platform/system/message_box.h"

#include <string>

analyser::SampleFolders fFFT::Folders() const {
    return analyser::SampleFoldersFor(platform::FromQString(baseFolder_));
}

void fFFT::Command1_Click() {
    // The name exactly as typed; SaveSample refuses what is not a bare file name.
    const std::string name = Text1->Text().toStdString();
    const analyser::SaveResult saved = analyser::SaveSample(Folders(), name, picWaterfall->Image());
    File1->Refresh();
    // A save the file system refused is said, or the user would take the sample for stored; an
    // unsafe name is refused silently, as nothing was attempted.
    if (saved.status == analyser::SaveStatus::Failed)
        platform::MsgBox(analyser::SaveFailureText(name, saved.reason),
                         platform::MsgIcon::Exclamation, "Tonvault");
    FocusWaterfall();
}

void fFFT::File1_Click() {
    const QString name = File1->FileName();
    Text1->setText(name);
    Label1->setCaption(name + " Sample");
    // Loaded through the library first: a missing, unsafe, cut-off or foreign file leaves the
    // picture on show as it is.
    if (const auto picture = analyser::LoadSamplePicture(Folders(), name.toStdString()))
        Picture1->SetPicture(*picture);
}

void fFFT::Command2_Click() {
    const std::string name = File1->FileName().toStdString();
    // Compared as the library's folder compares names: on Windows "Default Noise" is the
    // protected sample's own file.
    analyser::SampleFolders folders = Folders();
    // Asked of the folder once, for the check here and the one inside DeleteSample.
    folders.namesIgnoreCase = analyser::NamesIgnoreCase(folders);
    if (!analyser::IsSafeSampleName(name) || !analyser::IsProtectedSample(folders, name)) {
        analyser::DeleteSample(folders, name);
        File1->Refresh();
    }
    FocusWaterfall();
}
