// SPDX-License-Identifier: GPL-3.0-or-later
// Where the sample library lives: beside the program when it can be written there (the build
// tree, an unpacked portable copy), otherwise in the user's own data folder, seeded with the
// samples that come with the installation.
#pragma once

#include <filesystem>

namespace analyser {

// The folder that holds (or will hold) metals/ and metals/data/: programDir when both of its
// library folders exist and are writable, otherwise userDataDir. An empty userDataDir (the
// system names none) leaves the library beside the program.
std::filesystem::path ChooseLibraryBase(const std::filesystem::path& programDir,
                                        const std::filesystem::path& userDataDir);

// The folder that holds an installation's shipped library (share/tonvault/metals/ and its
// data/): <prefix>/share/tonvault for the program in <prefix>/bin/.
std::filesystem::path ShippedLibraryBase(const std::filesystem::path& programDir);

// Creates base/metals/data/ when missing and copies in every shipped sample of which the user
// has neither the picture nor the marker, so nothing the user saved or deleted is overwritten
// or brought back. The copies are the user's to replace: they are made writable for the owner
// whatever the shipped files' mode. Only regular files are copied. Failures leave what could
// not be made absent (a picture copied without its marker is removed again); false when the library
// folders do not exist afterwards.
bool PrepareLibrary(const std::filesystem::path& base, const std::filesystem::path& shippedBase);

} // namespace analyser
