// SPDX-License-Identifier: GPL-3.0-or-later
// clsFourier: one block of N complex values, filled one element at a time, transformed in place by
// a radix-2 decimation-in-time FFT on the first output read, and read back one element at a time.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

struct Complex {
    double Re;
    double Im;
};

// Carries the engine's error number (380, 381) and text to the caller.
class FourierError : public std::runtime_error {
public:
    FourierError(int number, const std::string& text) : std::runtime_error(text), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

// Cache-line aligned storage, so the wide loads of the transform never straddle two lines.
template <class T> struct CacheAlignedAllocator {
    using value_type = T;
    static constexpr std::align_val_t alignment{64};

    CacheAlignedAllocator() = default;
    template <class U> CacheAlignedAllocator(const CacheAlignedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), alignment)); }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, alignment); }
    template <class U> bool operator==(const CacheAlignedAllocator<U>&) const noexcept {
        return true;
    }
};

class clsFourier {
public:
    clsFourier();

    // Indices are 1-based, as the analyser counts them.
    void NumberOfSamples(std::int32_t nuNumSam);
    void WithTimeWindow(std::int32_t nuTimeWindow);
    void RealIn(std::int32_t Index, double nuValueIn);
    // A whole frame in one call, for a caller whose input arrives in order: samples[n] is the
    // input for natural position n. It stores exactly what RealIn(n + 1, samples[n]) for n = 0 ..
    // N - 1, in that order, would store (the same weights and bits, every imaginary part cleared,
    // the window switch as it stands at this call), so every later output is bit for bit the same.
    // The span must hold exactly N values; with any other size, or before a length is set, it
    // fails with 381 and stores nothing.
    void RealInFrame(std::span<const double> samples);
    void ImagIn(std::int32_t Index, double nuValueIn);
    double ComplexOut(std::int32_t Index);
    double RealOut(std::int32_t Index);
    double ImagOut(std::int32_t Index);
    // Milliseconds spent in the last transform; 0 before any.
    float Timing() const;

private:
    using Transform = void (*)(Complex* data, std::int32_t bits, const Complex* twiddles);
    using RealTransform = void (*)(const double* staged, Complex* data, std::int32_t bits,
                                   const Complex* twiddles);
    using Magnitudes = void (*)(const Complex* data, double* out, std::size_t count);
    using Weigh = void (*)(const double* x, const double* weights, double* out, std::size_t n);
    template <class T> using AlignedArray = std::vector<T, CacheAlignedAllocator<T>>;

    const Complex& GetOutput(std::int32_t Index);
    // ComplexOut off the fast path: transforms if needed, then fills the read bin's chunk.
    [[gnu::cold]] double MagnitudeOf(std::int32_t Index);
    void CheckIndex(std::int32_t Index) const;
    // Moves a staged frame of real inputs into their bit-reversed elements.
    void FlushStaged();
    // Fills one table per pass with the twiddles of a group, made by the same recurrence the
    // butterflies would run, so every group of a pass reuses them instead of recomputing.
    void BuildTwiddles(std::int32_t bits, AlignedArray<Complex>& table);

    std::int64_t nuTransformStart = 0;
    std::int64_t nuTransformEnd = 0;
    std::int64_t nuCounterFreq = 0;
    bool isSizeUnknown = true;
    bool isPending = false;
    std::int32_t nuWindow = 0;
    std::int32_t nuMaxIndex = 0;
    std::int32_t nuBits = 0;
    // Pass scratch for BuildTwiddles; nuGroup holds the alignment remainder of Pi from
    // construction.
    std::int32_t nuSpan = 0;
    std::int32_t nuHalf = 0;
    std::int32_t nuGroup = 0;
    std::int32_t nuK = 0;
    double Pi = 0.0;
    double TwoPi = 0.0;
    double nuAngle = 0.0;
    Complex cStep{0.0, 0.0};
    Complex cTwiddle{0.0, 0.0};
    AlignedArray<Complex> aData;

    // Built by NumberOfSamples so that neither the per-sample input nor the transform allocates
    // or calls a trigonometric function.
    std::vector<std::uint32_t> reverse_; // element that holds natural position n
    std::vector<double> window_;         // Blackman weight of natural position n
    AlignedArray<Complex> twiddles_;     // pass with half-span h uses elements h .. 2h - 1
    // A frame given whole (RealInFrame) is kept here, weighted, in natural order and reaches
    // aData only when the transform needs it: one sequential store per sample instead of a store
    // scattered over the whole block. stagedCount_ is N while one is kept; any other write first
    // moves it into aData, so later writes still win.
    AlignedArray<double> staged_;
    std::int32_t stagedCount_ = 0;
    // Magnitudes are made a chunk of bins at a time, in vector registers, when a bin of the
    // chunk is first read after a transform: the analyser reads a few hundred consecutive bins,
    // and one square root per bin in turn would cost a third of a small frame. Bins magFirst_ ..
    // magFirst_ + magCount_ - 1 hold the magnitudes of the finished transform; magCount_ is 0
    // whenever a transform is pending, so the inline read tests a single bound.
    static constexpr std::uint32_t kChunkBins = 64;
    AlignedArray<double> magnitudes_;
    std::uint32_t magFirst_ = 0;
    std::uint32_t magCount_ = 0;
    Transform transformKernel_ = nullptr;         // widest butterflies this processor runs
    RealTransform realTransformKernel_ = nullptr; // the same, loading a whole staged block first
    Magnitudes magnitudesKernel_ = nullptr;       // the same width for the square roots
    Weigh weighKernel_ = nullptr;                 // and for weighting a whole frame
};

// Inline: after the frame's one transform, each displayed bin is a check and a load.
inline double clsFourier::ComplexOut(std::int32_t Index) {
    const auto k = static_cast<std::uint32_t>(Index) - 1u;
    if (k - magFirst_ < magCount_) [[likely]] // below magFirst_ wraps to a huge value
        return magnitudes_[k];
    return MagnitudeOf(Index);
}
