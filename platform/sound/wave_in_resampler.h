// SPDX-License-Identifier: GPL-3.0-or-later
// Rate conversion for wave input: a windowed-sinc polyphase filter evaluated sample by sample.
//
// It replaced libsoxr here because a sound card's rate (44.1 or 48 kHz) is 1.35 to 43 times the
// rates the analyser records at, and soxr's block convolution then hands out its output in bursts
// (about 1300 samples every 0.63 s at 2048 S/s, still 90 ms apart at 1024 S/s with its shortest
// blocks): capture buffers completed up to 0.3 s early or late. This filter hands out each output
// sample as soon as the input it needs has arrived, so the added delay is a fixed half filter
// length: 80 dB of stop band from the output's Nyquist frequency, flat to 0.9 of it, about
// 49 ms at 1024 S/s, 24 ms at 2048 and under 2 ms at 32768.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class WaveInResampler {
public:
    WaveInResampler();

    // Filter design: pass band flat (within 0.01 dB) to kPassEnd of the output's Nyquist
    // frequency, at least kStopDb down from kStopBegin of it.
    static constexpr double kPassEnd = 0.9;
    static constexpr double kStopBegin = 1.0;
    static constexpr double kStopDb = 80.0;

    // Sets up a conversion from inRate to outRate samples per second (both positive integers).
    // Allocates everything process() needs. False (with why()) when the rates cannot be used.
    bool setUp(std::uint32_t inRate, std::uint32_t outRate);
    const std::string& why() const { return why_; }
    // Forgets all input: the next sample converted is the first of a fresh recording.
    void reset();

    // Converts `count` input samples and writes what they complete to out (room for `capacity`
    // samples; outputFor(count) is always enough). Returns the samples written. Never allocates.
    std::size_t process(const std::int16_t* in, std::size_t count, std::int16_t* out,
                        std::size_t capacity);
    // The most output samples `count` input samples can complete.
    std::size_t outputFor(std::size_t count) const;
    // How many more input samples complete the next `outputs` output samples (0 when they
    // already are), so that a caller can wait for that much input before converting.
    std::size_t inputFor(std::size_t outputs) const;
    // How long an input sample waits in the filter before its output can be handed out.
    double delaySeconds() const;
    // Taps per output sample (the filter's length in input samples).
    std::size_t taps() const { return taps_; }

    // Outputs whose sums are worked out together, on the widest vector units the processor has.
    static constexpr std::size_t kBatch = 4;
    // With true, every sum is taken one output at a time in portable code. The output is the
    // same to the bit either way; this lets a test show it.
    void usePortableArithmetic(bool portable);
    // Sums out[q] = x[q] . c[q] over n taps for the kBatch outputs of a batch.
    using Dots = void (*)(const float* const* x, const float* const* c, std::size_t n, float* out);

private:
    std::uint32_t inRate_ = 0;
    std::uint32_t outRate_ = 0;
    std::uint64_t phases_ = 1;        // L: output samples per period of the rate ratio
    std::uint64_t step_ = 1;          // M: input samples per period
    std::size_t taps_ = 0;            // T = 2H
    std::size_t half_ = 0;            // H
    std::vector<float> coefficients_; // phases_ rows of taps_, row p for the fraction p / L
    std::vector<float> history_;      // input samples, oldest first
    std::size_t filled_ = 0;          // valid samples in history_
    std::int64_t historyStart_ = 0;   // input index of history_[0] (negative: leading zeros)
    std::int64_t outputPosition_ = 0; // integer part of the next output's input position
    std::uint64_t outputPhase_ = 0;   // its fraction, in 1 / L
    std::string why_;
    Dots dots_;
};

} // namespace platform
