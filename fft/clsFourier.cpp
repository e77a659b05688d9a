// SPDX-License-Identifier: GPL-3.0-or-later
#include "fft/clsFourier.h"

#include "fft/fourier_kernels.h"
#include "platform/system/message_box.h"
#include "platform/system/perf_counter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {

[[noreturn, gnu::cold]] void FailBadLength() {
    throw FourierError(380, "Number of samples must be a positive value of the form 2 ^ n");
}

[[noreturn, gnu::cold]] void FailBadIndex() {
    throw FourierError(381, "Index out of range or number of samples unknown");
}

} // namespace

clsFourier::clsFourier() {
    Pi = 4.0 * std::atan(1.0);
    TwoPi = 2.0 * Pi;
    aData.assign(1, Complex{0.0, 0.0});
    isSizeUnknown = true;
    isPending = false;
    nuWindow = 0;
    nuCounterFreq = platform::QueryPerformanceFrequency();
    if (fourier::CpuHasAvx512()) {
        transformKernel_ = &fourier::TransformAvx512;
        realTransformKernel_ = &fourier::TransformRealAvx512;
        magnitudesKernel_ = &fourier::MagnitudesAvx512;
        weighKernel_ = &fourier::WeighAvx512;
    } else if (fourier::CpuHasAvx2()) {
        transformKernel_ = &fourier::TransformAvx2;
        realTransformKernel_ = &fourier::TransformRealAvx2;
        magnitudesKernel_ = &fourier::MagnitudesAvx2;
        weighKernel_ = &fourier::WeighAvx2;
    } else {
        transformKernel_ = &fourier::TransformPortable;
        realTransformKernel_ = &fourier::TransformRealPortable;
        magnitudesKernel_ = &fourier::MagnitudesPortable;
        weighKernel_ = &fourier::WeighPortable;
    }

    // Misaligned doubles cost speed on every butterfly; tell the developer how to pad.
    const auto address = reinterpret_cast<std::uintptr_t>(&Pi);
    nuGroup = static_cast<std::int32_t>(address % 8);
    const std::string advice = fourier::AlignmentAdvice(address);
    if (!advice.empty()) platform::MsgBox(advice, platform::MsgIcon::Exclamation, "Developer:");
}

void clsFourier::NumberOfSamples(std::int32_t nuNumSam) {
    if (nuNumSam <= 1 || (nuNumSam & (nuNumSam - 1)) != 0) FailBadLength();

    // Everything is built aside first, so a failed allocation leaves the old block intact.
    const auto n = static_cast<std::size_t>(nuNumSam);
    const std::int32_t bits = std::countr_zero(static_cast<std::uint32_t>(nuNumSam));
    AlignedArray<Complex> data(n, Complex{0.0, 0.0});
    std::vector<std::uint32_t> reverse(n);
    std::vector<double> window(n);
    AlignedArray<Complex> twiddles(n);
    AlignedArray<double> staged(n);
    AlignedArray<double> magnitude(n);
    for (std::size_t i = 0; i < n; ++i) {
        reverse[i] = fourier::ReverseBits(static_cast<std::uint32_t>(i), bits);
        window[i] = fourier::BlackmanWeight(static_cast<std::int32_t>(i), nuNumSam - 1, TwoPi);
    }
    BuildTwiddles(bits, twiddles);

    aData = std::move(data);
    reverse_ = std::move(reverse);
    window_ = std::move(window);
    twiddles_ = std::move(twiddles);
    staged_ = std::move(staged);
    magnitudes_ = std::move(magnitude);
    stagedCount_ = 0;
    magCount_ = 0;
    isSizeUnknown = false;
    nuMaxIndex = nuNumSam - 1;
    nuBits = bits;
    isPending = true;
}

void clsFourier::BuildTwiddles(std::int32_t bits, AlignedArray<Complex>& table) {
    table[0] = Complex{1.0, 0.0};
    const std::int32_t n = std::int32_t{1} << bits;
    nuSpan = 1;
    while (nuSpan < n) {
        nuHalf = nuSpan;
        nuSpan = 2 * nuHalf;
        nuAngle = Pi / nuSpan;
        const double s = std::sin(nuAngle);
        cStep = Complex{2.0 * s * s, std::sin(2.0 * nuAngle)};
        cTwiddle = Complex{1.0, 0.0};
        for (nuK = 0; nuK < nuHalf; ++nuK) {
            table[static_cast<std::size_t>(nuHalf + nuK)] = cTwiddle;
            fourier::AdvanceTwiddle(cStep, cTwiddle);
        }
    }
}

void clsFourier::WithTimeWindow(std::int32_t nuTimeWindow) {
    nuWindow = nuTimeWindow;
}

void clsFourier::CheckIndex(std::int32_t Index) const {
    if (isSizeUnknown || Index < 1 || Index > nuMaxIndex + 1) FailBadIndex();
}

void clsFourier::RealIn(std::int32_t Index, double nuValueIn) {
    CheckIndex(Index);
    const auto n = static_cast<std::size_t>(Index - 1);
    FlushStaged();
    aData[reverse_[n]] = Complex{nuWindow != 0 ? window_[n] * nuValueIn : nuValueIn / 2, 0.0};
    isPending = true;
    magCount_ = 0;
}

void clsFourier::RealInFrame(std::span<const double> samples) {
    if (isSizeUnknown || samples.size() != aData.size()) FailBadIndex();
    // Every position is written, so whatever was stored before no longer matters.
    const std::size_t n = samples.size();
    weighKernel_(samples.data(), nuWindow != 0 ? window_.data() : nullptr, staged_.data(), n);
    stagedCount_ = static_cast<std::int32_t>(n);
    isPending = true;
    magCount_ = 0;
}

void clsFourier::FlushStaged() {
    const auto count = static_cast<std::size_t>(stagedCount_);
    stagedCount_ = 0;
    for (std::size_t n = 0; n < count; ++n) aData[reverse_[n]] = Complex{staged_[n], 0.0};
}

void clsFourier::ImagIn(std::int32_t Index, double nuValueIn) {
    CheckIndex(Index);
    FlushStaged();
    aData[reverse_[static_cast<std::size_t>(Index - 1)]].Im = nuValueIn;
    isPending = true;
    magCount_ = 0;
}

const Complex& clsFourier::GetOutput(std::int32_t Index) {
    CheckIndex(Index);
    if (isPending) {
        isPending = false;
        nuTransformStart = platform::QueryPerformanceCounter();
        if (static_cast<std::size_t>(stagedCount_) == aData.size()) {
            // A whole frame was given since the last transform: load it in
            // cache-sized tiles straight into the first passes.
            stagedCount_ = 0;
            realTransformKernel_(staged_.data(), aData.data(), nuBits, twiddles_.data());
        } else {
            FlushStaged();
            transformKernel_(aData.data(), nuBits, twiddles_.data());
        }
        nuTransformEnd = platform::QueryPerformanceCounter();
        magCount_ = 0;
    }
    return aData[static_cast<std::size_t>(Index - 1)];
}

double clsFourier::MagnitudeOf(std::int32_t Index) {
    GetOutput(Index);
    const auto k = static_cast<std::uint32_t>(Index - 1);
    const auto n = static_cast<std::uint32_t>(aData.size());
    const std::uint32_t first = k / kChunkBins * kChunkBins;
    const std::uint32_t count = std::min(kChunkBins, n - first);
    magnitudesKernel_(aData.data() + first, magnitudes_.data() + first, count);
    if (magCount_ != 0 && first == magFirst_ + magCount_) {
        magCount_ += count; // reads in ascending order grow the run
    } else {
        magFirst_ = first;
        magCount_ = count;
    }
    return magnitudes_[k];
}

double clsFourier::RealOut(std::int32_t Index) {
    return GetOutput(Index).Re;
}

double clsFourier::ImagOut(std::int32_t Index) {
    return GetOutput(Index).Im;
}

float clsFourier::Timing() const {
    // A counter source reporting no frequency would otherwise turn every timing into inf or NaN.
    if (nuCounterFreq <= 0) return 0.0f;
    const std::int64_t counts = nuTransformEnd - nuTransformStart;
    return static_cast<float>(static_cast<double>(counts) / static_cast<double>(nuCounterFreq) *
                              1000.0);
}
