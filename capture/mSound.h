// SPDX-License-Identifier: GPL-3.0-or-later
// mSound: the sound capture module. Finds a 16-bit mono input device, keeps two capture buffers
// queued, and hands out DC-levelled samples from a sliding window of 2N samples.
#pragma once

#include "platform/sound/wave_in.h"
#include "platform/system/global_memory.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mSound {

// 1-based index into the sample window of the first sample of the next frame; shared with the loop.
extern std::int32_t nuStartIndex;

bool CheckInputDevice();
bool StartCapture(std::int32_t N, std::int32_t rate);
bool BufferReady();
double SampleAt(std::int32_t index, std::int32_t divisor);
// out[n] = SampleAt(first + n, divisor) for n = 0, 1, ... in that order, with the same module
// state afterwards and the same bits (the DC sum is still added up one sample after the other).
// The caller keeps first ... first + out.size() - 1 within 1 ... 2N.
void SamplesAt(std::int32_t first, std::int32_t divisor, std::span<double> out);
void StopCapture();
// True when the buffer expected next has completed and waits to be taken by BufferReady.
bool BufferWaiting();
// For the loop, at a pass that found no block: true while the open device still delivers (or
// nothing is open). When it has stopped delivering (it failed, or no buffer completed for three
// buffers' length plus a second), shows the platform's text for that in the "Sound Input" box,
// releases everything as a failed StartCapture does, and returns false.
bool CaptureRunning();

// For the loop's waits: call(context) after each completed buffer (and when a device fails), on
// the recording thread, which it must not hold up; nullptr removes it. Once this returns, the
// previous one is no longer running.
void SetBufferListener(void (*call)(void*), void* context);
// Buffers BufferReady took when the read position was already at most N, so that it stopped at 1
// and a frame skipped sound, since the program started.
std::uint64_t Clamps();

// The input recorded, for the user to see and choose; not part of the device scan. The choice
// lasts while the program runs; nothing is stored.
using Input = platform::WaveInInput; // key, description, isDefault
// The inputs the device found by CheckInputDevice can record from, as they are now; the one it
// records when nothing is chosen (on a sound server the desktop's default source) is marked.
std::vector<Input> Inputs();
// What the next StartCapture records: a key from Inputs(), or "" for the device's own.
void ChooseInput(const std::string& key);
std::string ChosenInput();
// The input the open capture records from, in words for the user; "" while nothing is open.
std::string InputInUse();

// Module state, all zero at program start. Read it; only the functions above change it.
extern platform::HWAVEIN hWaveIn; // 0 when closed
extern std::array<char, platform::MAXERRORLENGTH> sErrorText;
extern platform::WAVEINCAPSA tCaps; // the device being examined
extern std::int32_t nuDeviceId;     // chosen by CheckInputDevice
extern platform::WAVEHDR aHeaders[2];
extern platform::WAVEFORMATEX tFormat;
extern platform::HGLOBAL aBufferMem[2]; // nullptr = none
extern std::int32_t nuBufferSamples;    // N
extern std::int32_t nuResult;           // last wave-input result
extern std::int32_t nuCurrentBuffer;    // the buffer expected to complete next
extern double nuDcOffset;               // running DC estimate, in sample units
extern double nuSampleSum;              // levelled samples handed out since the last frame
extern double nuLastSample;             // the last levelled sample handed out
// The sample window: aSamples[1] ... aSamples[2N] (element 0 is unused so indices match).
extern std::vector<std::int16_t> aSamples;

} // namespace mSound
