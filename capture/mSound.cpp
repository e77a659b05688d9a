// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/mSound.h"

#include "platform/system/message_box.h"

#include <algorithm>

namespace mSound {

using namespace platform;

std::int32_t nuStartIndex = 0;
HWAVEIN hWaveIn = 0;
std::array<char, MAXERRORLENGTH> sErrorText{};
WAVEINCAPSA tCaps{};
std::int32_t nuDeviceId = 0;
WAVEHDR aHeaders[2];
WAVEFORMATEX tFormat{};
HGLOBAL aBufferMem[2] = {nullptr, nullptr};
std::int32_t nuBufferSamples = 0;
std::int32_t nuResult = 0;
std::int32_t nuCurrentBuffer = 0;
double nuDcOffset = 0.0;
double nuSampleSum = 0.0;
double nuLastSample = 0.0;
std::vector<std::int16_t> aSamples;

namespace {

std::uint64_t clamps = 0;

const char* const kTitle = "Sound Input";
constexpr std::uint32_t kMono16Formats = WAVE_FORMAT_1M16 | WAVE_FORMAT_2M16 | WAVE_FORMAT_4M16;
// Larger frames than any rate the analyser offers, yet small enough that 2N bytes fit a header.
constexpr std::int32_t kMaxBufferSamples = 1 << 24;

void ShowError(const char* text) {
    MsgBox(text, MsgIcon::Critical, kTitle);
}

bool FailStart() {
    waveInGetErrorTextA(static_cast<MMRESULT>(nuResult), sErrorText.data(),
                        static_cast<std::uint32_t>(sErrorText.size()));
    StopCapture();
    ShowError(sErrorText.data());
    return false;
}

} // namespace

bool CheckInputDevice() {
    const std::uint32_t n = waveInGetNumDevs();
    if (n < 1) {
        ShowError("Unfortunately you have no Sound Input Device");
        return false;
    }
    for (std::int64_t id = static_cast<std::int64_t>(n) - 1; id >= 0; --id) {
        waveInGetDevCapsA(static_cast<std::uintptr_t>(id), &tCaps, sizeof tCaps);
        if (tCaps.dwFormats & kMono16Formats) {
            nuDeviceId = static_cast<std::int32_t>(id);
            return true;
        }
    }
    ShowError("Unfortunately you have no suitable Sound Input Device");
    return false;
}

bool StartCapture(std::int32_t N, std::int32_t rate) {
    if (aBufferMem[0] != nullptr) StopCapture();
    if (N < 1 || N > kMaxBufferSamples) {
        nuResult = static_cast<std::int32_t>(MMSYSERR_INVALPARAM);
        return FailStart();
    }

    nuBufferSamples = N;
    tFormat.wFormatTag = WAVE_FORMAT_PCM;
    tFormat.nChannels = 1;
    tFormat.nSamplesPerSec = static_cast<std::uint32_t>(rate);
    tFormat.wBitsPerSample = 16;
    tFormat.nBlockAlign = 2;
    tFormat.nAvgBytesPerSec = tFormat.nBlockAlign * tFormat.nSamplesPerSec;
    tFormat.cbSize = 18;

    for (int i = 0; i < 2; ++i) {
        const std::uint32_t length = tFormat.nBlockAlign * static_cast<std::uint32_t>(N);
        aHeaders[i].dwBufferLength = length;
        aBufferMem[i] = GlobalAlloc(GMEM_FIXED, length);
        aHeaders[i].lpData = static_cast<char*>(GlobalLock(aBufferMem[i]));
        aHeaders[i].dwFlags.store(0, std::memory_order_release);
        aHeaders[i].dwLoops = 0;
    }
    aSamples.assign(2 * static_cast<std::size_t>(N) + 1, 0);
    nuCurrentBuffer = 0;
    nuStartIndex = 2 * N + 1;

    nuResult = static_cast<std::int32_t>(
        waveInOpen(&hWaveIn, static_cast<std::uint32_t>(nuDeviceId), &tFormat, 0, 0, 0));
    for (int i = 0; i < 2 && nuResult == 0; ++i) {
        nuResult =
            static_cast<std::int32_t>(waveInPrepareHeader(hWaveIn, &aHeaders[i], sizeof(WAVEHDR)));
        if (nuResult == 0)
            nuResult =
                static_cast<std::int32_t>(waveInAddBuffer(hWaveIn, &aHeaders[i], sizeof(WAVEHDR)));
    }
    if (nuResult == 0) nuResult = static_cast<std::int32_t>(waveInStart(hWaveIn));
    if (nuResult != 0) return FailStart();

    nuSampleSum = 0.0;
    return true;
}

bool BufferReady() {
    // Nothing was ever set up: there is no frame and no length to average over.
    if (nuBufferSamples <= 0) return false;
    WAVEHDR& header = aHeaders[nuCurrentBuffer];
    // After StopCapture the headers still say done but their memory is gone: only a buffer that
    // is still allocated may be copied.
    if (aBufferMem[nuCurrentBuffer] != nullptr &&
        (header.dwFlags.load(std::memory_order_acquire) & WHDR_DONE)) {
        const std::int32_t N = nuBufferSamples;
        RtlMoveMemory(&aSamples[1], &aSamples[N + 1], header.dwBufferLength);
        RtlMoveMemory(&aSamples[N + 1], header.lpData, header.dwBufferLength);
        waveInAddBuffer(hWaveIn, &header, sizeof(WAVEHDR));
        nuCurrentBuffer = 1 - nuCurrentBuffer;
        if (nuStartIndex <= N) ++clamps;
        nuStartIndex = std::max(nuStartIndex - N, 1);
    }
    if (nuStartIndex > nuBufferSamples) return false;
    nuDcOffset += nuSampleSum / nuBufferSamples;
    nuSampleSum = 0.0;
    return true;
}

double SampleAt(std::int32_t index, std::int32_t divisor) {
    const double d = static_cast<double>(aSamples[static_cast<std::size_t>(index)]) - nuDcOffset;
    nuLastSample = d;
    nuSampleSum += d;
    return d / divisor;
}

void SamplesAt(std::int32_t first, std::int32_t divisor, std::span<double> out) {
    if (out.empty()) return;
    const std::int16_t* in = &aSamples[static_cast<std::size_t>(first)];
    const double offset = nuDcOffset;
    const double by = divisor;
    double sum = nuSampleSum;
    double d = 0.0;
    for (std::size_t n = 0; n < out.size(); ++n) {
        d = static_cast<double>(in[n]) - offset;
        sum += d;
        out[n] = d / by;
    }
    nuSampleSum = sum;
    nuLastSample = d;
}

void StopCapture() {
    waveInReset(hWaveIn);
    for (int i = 0; i < 2; ++i) {
        waveInUnprepareHeader(hWaveIn, &aHeaders[i], sizeof(WAVEHDR));
        if (aBufferMem[i] != nullptr) {
            GlobalFree(aBufferMem[i]);
            aBufferMem[i] = nullptr;
        }
    }
    waveInClose(hWaveIn);
    hWaveIn = 0;
}

bool BufferWaiting() {
    return nuBufferSamples > 0 && aBufferMem[nuCurrentBuffer] != nullptr &&
           (aHeaders[nuCurrentBuffer].dwFlags.load(std::memory_order_acquire) & WHDR_DONE);
}

bool CaptureRunning() {
    if (hWaveIn == 0) return true;
    const MMRESULT status = WaveInDeviceStatus(hWaveIn);
    if (status == MMSYSERR_NOERROR) return true;
    nuResult = static_cast<std::int32_t>(status);
    return FailStart();
}

void SetBufferListener(void (*call)(void*), void* context) {
    SetWaveInCompletionListener(call, context);
}

std::uint64_t Clamps() {
    return clamps;
}

std::vector<Input> Inputs() {
    return WaveInInputs(static_cast<std::uint32_t>(nuDeviceId));
}

void ChooseInput(const std::string& key) {
    WaveInChooseInput(key);
}

std::string ChosenInput() {
    return WaveInChosenInput();
}

std::string InputInUse() {
    return hWaveIn == 0 ? std::string() : WaveInInputName(hWaveIn);
}

} // namespace mSound
