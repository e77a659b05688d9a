// SPDX-License-Identifier: GPL-3.0-or-later
// Wave input: the records, result codes and calls the capture module uses to record 16-bit
// PCM into queued buffers, plus the completion notification the event loop can wait on.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using MMRESULT = std::uint32_t;
using HWAVEIN = std::uintptr_t; // 0 = no device

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr std::uint32_t MAXERRORLENGTH = 256;

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

// dwFormats bits: sample rate (1 = 11.025, 2 = 22.05, 4 = 44.1 kHz), mono/stereo, 8/16 bits;
// those the program and its tests name.
constexpr std::uint32_t WAVE_FORMAT_1M08 = 0x00000001;
constexpr std::uint32_t WAVE_FORMAT_1M16 = 0x00000004;
constexpr std::uint32_t WAVE_FORMAT_1S16 = 0x00000008;
constexpr std::uint32_t WAVE_FORMAT_2M08 = 0x00000010;
constexpr std::uint32_t WAVE_FORMAT_2M16 = 0x00000040;
constexpr std::uint32_t WAVE_FORMAT_4M08 = 0x00000100;
constexpr std::uint32_t WAVE_FORMAT_4M16 = 0x00000400;
constexpr std::uint32_t WAVE_FORMAT_4S16 = 0x00000800;

// WAVEHDR dwFlags bits.
constexpr std::uint32_t WHDR_DONE = 0x00000001;
constexpr std::uint32_t WHDR_PREPARED = 0x00000002;
constexpr std::uint32_t WHDR_INQUEUE = 0x00000010;

struct WAVEFORMATEX {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
};

// dwFlags is written by the recording side while the buffer is queued: WHDR_DONE is stored with
// release ordering after the data, so a reader that sees it with an acquire load (or a plain
// read of the atomic) also sees the samples.
struct WAVEHDR {
    char* lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::atomic<std::uint32_t> dwFlags{0};
    std::uint32_t dwLoops = 0;
};

struct WAVEINCAPSA {
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    std::uint32_t vDriverVersion = 0;
    char szPname[32] = {};
    std::uint32_t dwFormats = 0;
    std::uint16_t wChannels = 0;
    std::uint16_t wReserved1 = 0;
};
static_assert(sizeof(WAVEINCAPSA) == 48);

// The calls, for one thread (the program's). Device ids run 0 ... waveInGetNumDevs() - 1.
// Only 16-bit mono PCM at 1000 to 192000 samples per second and CALLBACK_NULL (fdwOpen 0) are
// supported; anything else is refused with WAVERR_BADFORMAT or MMSYSERR_INVALFLAG.
std::uint32_t waveInGetNumDevs();
MMRESULT waveInGetDevCapsA(std::uintptr_t deviceId, WAVEINCAPSA* caps, std::uint32_t capsSize);
MMRESULT waveInOpen(HWAVEIN* handle, std::uint32_t deviceId, const WAVEFORMATEX* format,
                    std::uintptr_t callback, std::uintptr_t instance, std::uint32_t flags);
MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header, std::uint32_t headerSize);
// Queues a prepared header: clears WHDR_DONE, sets WHDR_INQUEUE. Buffers fill in the order queued.
MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header, std::uint32_t headerSize);
MMRESULT waveInStart(HWAVEIN handle);
// Stops recording and returns every queued header marked WHDR_DONE (dwBytesRecorded says how
// much of it was filled). Recording can be started again with waveInStart.
MMRESULT waveInReset(HWAVEIN handle);
MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header, std::uint32_t headerSize);
// Fails with WAVERR_STILLPLAYING while headers are queued on a working device. A device that has
// failed is always released, and the failure is still returned.
MMRESULT waveInClose(HWAVEIN handle);
// Our own readable text for a result code, with what the device layer said about its last
// failure when that failure returned this code. Truncated to textSize - 1 characters.
MMRESULT waveInGetErrorTextA(MMRESULT result, char* text, std::uint32_t textSize);

// Not a Windows call: how the open device is doing. MMSYSERR_NOERROR while it records (or has
// not been started, or is still being opened: a sound server may answer an open later, and the
// device then records or fails by itself); MMSYSERR_NODRIVER, with what happened and the input's
// name as waveInGetErrorTextA's detail, once it has failed for good or once no queued buffer has
// completed for three buffers' length plus one second (measured with the performance counter
// between calls) while it records.
MMRESULT WaveInDeviceStatus(HWAVEIN handle);

// Not Windows calls either: which input a device records from, for the user to see and choose.
struct WaveInInput {
    std::string key;         // the backend's own name for it, kept while the input exists
    std::string description; // in words for the user ("Monitor of Built-in Audio Analog Stereo")
    bool isDefault = false;  // what the device records when no input is chosen
};
// The inputs device deviceId can record from, as they are now. Never waits on a device or a
// sound server: a backend that asks a server keeps its list current beside the program.
std::vector<WaveInInput> WaveInInputs(std::uint32_t deviceId);
// What the next waveInOpen records: a key from WaveInInputs, or "" for the device's own input
// (on a sound server its default source at the time of the open). A key that is not there by
// then makes the open fail and say so. Forgotten when another backend is installed.
void WaveInChooseInput(const std::string& key);
std::string WaveInChosenInput();
// The input an open device records from, in words for the user; "" when the handle is not open.
std::string WaveInInputName(HWAVEIN handle);

// Completion notification, whenever a buffer has been marked WHDR_DONE (by recording or by a
// reset), from whichever thread marked it. WHDR_DONE stays the truth; this only says "look now".
// Consumes pending notifications.
void WaveInClearCompletions();
// Waits up to timeoutMs (negative: no limit) for a notification and consumes it; false on timeout.
bool WaveInWaitForCompletion(int timeoutMs);
// Calls call(context) after each notification, on the notifying thread (often a recording
// thread: it must return quickly, and take no lock that thread could wait on). nullptr removes
// it; once this returns, the previous listener is no longer running and is not called again.
void SetWaveInCompletionListener(void (*call)(void*), void* context);

class WaveInBackend;
// Chooses the devices behind the calls. The caller keeps ownership and must keep the backend
// alive while installed; devices still open on the previous backend are closed first.
// nullptr (the start-up state) means no devices: waveInGetNumDevs returns 0.
void SetWaveInBackend(WaveInBackend* backend);
WaveInBackend* CurrentWaveInBackend();

} // namespace platform
