// clsFourier: one block of N complex values, filled one element at a time, transformed in place by
// a radix-2 decimation-in-time FFT on the first output read, and read back one element at a time.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
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
    template <class T> using AlignedArray = std::vector<T, CacheAlignedAllocator<T>>;

    // RealIn off the ascending run: checks, then writes into the block itself.
    void RealInElsewhere(std::int32_t Index, double nuValueIn);
    const Complex& GetOutput(std::int32_t Index);
    void CheckIndex(std::int32_t Index) const;
    // Moves the staged run of real inputs into their bit-reversed elements.
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
    std::vector<std::uint32_t> aReverse; // element that holds natural position n
    std::vector<double> aWindow;         // Blackman weight of natural position n
    AlignedArray<Complex> aTwiddle;      // pass with half-span h uses elements h .. 2h - 1
    // Real inputs written in ascending order from the first position are kept here in natural
    // order and reach aData only when the transform needs them: one sequential store per
    // sample instead of a store scattered over the whole block. nuStaged counts them; any other
    // write first moves them into aData, so later writes still win.
    AlignedArray<double> aStaged;
    std::int32_t nuStaged = 0;
    // The inline fast paths test one unsigned bound each instead of several flags: nuStageEnd is
    // N once a length is known (0 before), nuReadable is N while the block holds a finished
    // transform and 0 whenever one is pending.
    std::uint32_t nuStageEnd = 0;
    std::uint32_t nuReadable = 0;
    Transform pTransform = nullptr;         // widest butterflies this processor runs
    RealTransform pRealTransform = nullptr; // the same, loading a whole staged block first
};

// Inline so the caller's per-sample loop costs a few instructions per sample: the analyser
// writes every frame as one ascending run from the first position.
inline void clsFourier::RealIn(std::int32_t Index, double nuValueIn) {
    const auto n = static_cast<std::uint32_t>(nuStaged);
    if (static_cast<std::uint32_t>(Index) == n + 1 && n < nuStageEnd) [[likely]] {
        aStaged[n] = nuWindow != 0 ? aWindow[n] * nuValueIn : nuValueIn / 2;
        nuStaged = Index;
        isPending = true;
        nuReadable = 0;
        return;
    }
    RealInElsewhere(Index, nuValueIn);
}

// Inline for the same reason: after the frame's one transform, each displayed bin is a load and
// a square root.
inline double clsFourier::ComplexOut(std::int32_t Index) {
    const auto k = static_cast<std::uint32_t>(Index) - 1u; // below 1 wraps to a huge value
    const Complex& c = k < nuReadable ? aData[k] : GetOutput(Index);
    return std::sqrt(c.Re * c.Re + c.Im * c.Im);
}
