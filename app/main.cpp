// Tonvault: composes the application — the real sound input and the analyser window.
#include "analyser/fFFT.h"
#include "platform/wave_in.h"
#include "platform/wave_in_portaudio.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    platform::PortAudioWaveIn soundInput;
    platform::SetWaveInBackend(&soundInput);

    int status = 0;
    {
        fFFT window;
        window.Form_Load();
        // Without a suitable input device the load has told the user and closed the window.
        if (!window.IsClosed()) status = app.exec();
    }
    platform::SetWaveInBackend(nullptr);
    return status;
}
