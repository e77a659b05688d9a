// SPDX-License-Identifier: GPL-3.0-or-later
// Tonvault: composes the application — the real sound input (winmm on Windows, elsewhere the
// sound server itself or PortAudio), the sample library's place and the analyser window.
#include "analyser/fFFT.h"
#include "analyser/library_location.h"
#include "platform/sound/wave_in.h"
#include "platform/system/file_paths.h"
#ifdef TONVAULT_E2E_LOG
#include "app/e2e_log.h"
#endif
#ifdef _WIN32
#include "platform/sound/wave_in_winmm.h"
#else
#include "platform/sound/wave_in_system.h"
#endif

#include <QApplication>
#include <QIcon>
#include <QStandardPaths>

#include <filesystem>

namespace {

// Beside the program when it may write there, otherwise the user's data folder, e.g.
// ~/.local/share/Tonvault/metals/ or %APPDATA%\Tonvault\metals\, seeded with the samples
// that came with the program.
QString LibraryBase() {
    using platform::FromQString;
    const auto programDir = FromQString(QCoreApplication::applicationDirPath());
    const auto userDir =
        FromQString(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    const auto base = analyser::ChooseLibraryBase(programDir, userDir);
    // A portable copy (the Windows zip) carries its samples beside the program; an installation
    // keeps them under its share folder.
    std::error_code ignored;
    const auto shipped = std::filesystem::is_directory(programDir / "metals" / "data", ignored)
                             ? programDir
                             : analyser::ShippedLibraryBase(programDir);
    if (base != programDir) analyser::PrepareLibrary(base, shipped);
    return platform::ToQString(base);
}

// Window managers and taskbars that do not read desktop entries (and Windows' taskbar) pick the
// size they draw from these renderings of the icon; a scaled-down large one turns to mush.
QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tonvault-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

int main(int argc, char** argv) {
    // Each pass changes a strip three rows high. Through X's shared memory Qt waits for the
    // server to finish with the segment at every flush, a round trip that cost this program more
    // than its whole analysis; sending the strip over the socket costs the server and us about
    // half. A user's own choice stands; Qt reads any value as "no", so "0" is taken to mean "yes".
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    else if (qgetenv("QT_XCB_NO_MITSHM") == "0")
        qunsetenv("QT_XCB_NO_MITSHM");
    // The user's data folder is named after the application; no organisation folder above it.
    QCoreApplication::setApplicationName("Tonvault");
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationVersion(QStringLiteral(TONVAULT_VERSION));
    // Wayland ties a window to its launcher (and so its icon and name) by this id, which must be
    // the desktop entry's; X11's window class stays the application name, the entry's
    // StartupWMClass.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tonvault.Tonvault"));
    QApplication app(argc, argv);
    QApplication::setWindowIcon(ApplicationIcon());
#ifdef _WIN32
    platform::WinmmWaveIn soundInput;
    platform::SetWaveInBackend(&soundInput);
#else
    const auto soundInput = platform::MakeSystemWaveIn();
    platform::SetWaveInBackend(soundInput.get());
#endif

    int status = 0;
    {
        fFFT window(LibraryBase());
#ifdef TONVAULT_E2E_LOG
        const auto log = app::StartE2eLog(window);
#endif
        window.Form_Load();
        // Without a suitable input device the load has told the user and closed the window.
        if (!window.IsClosed()) status = app.exec();
    }
    platform::SetWaveInBackend(nullptr);
    return status;
}
