// SPDX-License-Identifier: GPL-3.0-or-later
// The PortAudio backend on this machine's sound system (Linux and macOS only: it quiets the
// host APIs' probing through the POSIX file descriptors).
#include "platform/sound/wave_in.h"
#include "platform/sound/wave_in_portaudio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace platform;

namespace {

// Whatever sound system the machine has (or none), starting and stopping PortAudio must not
// print its host APIs' probing messages on the user's terminal.
TEST(PortAudioWaveIn, StartingAndStoppingPrintsNothingOnStderr) {
    char path[] = "/tmp/tonvault-stderr-XXXXXX";
    const int capture = ::mkstemp(path);
    ASSERT_GE(capture, 0);
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture, 2);
    std::uint32_t devices = 0;
    {
        PortAudioWaveIn pa;
        SetWaveInBackend(&pa);
        devices = waveInGetNumDevs();
        WAVEINCAPSA caps;
        for (std::uint32_t id = 0; id < devices; ++id) waveInGetDevCapsA(id, &caps, sizeof caps);
        SetWaveInBackend(nullptr);
    }
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::string printed;
    char buf[512];
    ::lseek(capture, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(capture, buf, sizeof buf)) > 0;) printed.append(buf, n);
    ::close(capture);
    ::unlink(path);
    EXPECT_EQ(printed, "") << "with " << devices << " input devices";
}

} // namespace
