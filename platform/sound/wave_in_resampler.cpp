// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in_resampler.h"

#include "platform/system/cpu_features.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TONVAULT_RESAMPLER_X86 1
#endif

namespace platform {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Input samples the history holds beyond one filter length, so that a call converts in few pieces.
constexpr std::size_t kHistorySlack = 4096;
// Refuses rate pairs whose exact phase table would be unreasonably large (coprime rates).
constexpr std::size_t kMaxCoefficients = std::size_t{1} << 24;

// The modified Bessel function of the first kind, order 0 (Abramowitz and Stegun 9.8.1 and 9.8.2,
// relative error below 2e-7: ample for single-precision coefficients, and quick enough for the
// million taps of the 44100 to 1024 table).
double BesselI0(double x) {
    const double ax = std::fabs(x);
    if (ax < 3.75) {
        const double t = (x / 3.75) * (x / 3.75);
        return 1.0 +
               t * (3.5156229 +
                    t * (3.0899424 +
                         t * (1.2067492 + t * (0.2659732 + t * (0.0360768 + t * 0.0045813)))));
    }
    const double t = 3.75 / ax;
    return std::exp(ax) / std::sqrt(ax) *
           (0.39894228 +
            t * (0.01328592 +
                 t * (0.00225319 +
                      t * (-0.00157565 +
                           t * (0.00916281 +
                                t * (-0.02057706 +
                                     t * (0.02635537 + t * (-0.01647633 + t * 0.00392377))))))));
}

std::int16_t ToSample(float v) {
    const float r = std::nearbyint(v);
    if (r >= 32767.0f) return 32767;
    if (r <= -32768.0f) return -32768;
    return static_cast<std::int16_t>(r);
}

constexpr std::size_t kLanes = 16;

// The end of a dot product: the partial sums added pairwise, then the products past the last
// full set of lanes.
float Finish(float* partial, float tail) {
    for (std::size_t width = kLanes / 2; width > 0; width /= 2)
        for (std::size_t k = 0; k < width; ++k) partial[k] += partial[k + width];
    return partial[0] + tail;
}

float Tail(const float* x, const float* c, std::size_t from, std::size_t n) {
    float tail = 0.0f;
    for (std::size_t i = from; i < n; ++i) tail += x[i] * c[i];
    return tail;
}

// One output sample: the filter row against the input it covers. A single running sum is one
// long chain of dependent additions (about 2000 of them at 2048 S/s) that no compiler may
// reorder; sixteen independent partial sums let it use vector registers on every target.
float Dot(const float* x, const float* c, std::size_t n) {
    float partial[kLanes] = {};
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
#pragma GCC unroll 16
        for (std::size_t k = 0; k < kLanes; ++k) partial[k] += x[i + k] * c[i + k];
    }
    return Finish(partial, Tail(x, c, i, n));
}

void DotsPortable(const float* const* x, const float* const* c, std::size_t n, float* out) {
    for (std::size_t q = 0; q < WaveInResampler::kBatch; ++q) out[q] = Dot(x[q], c[q], n);
}

#ifdef TONVAULT_RESAMPLER_X86
// The sixteen sums in two registers, for a batch of outputs at once: each output's
// sixteen are still chains of additions that wait on the one before, and its filter row (one of
// hundreds, megabytes in all) comes from far caches, so independent outputs side by side keep
// the vector units and the memory busy. Each output has Dot's products and sums in Dot's order
// (products rounded before they are added: this file is built without fused multiply-add), so
// the bits are Dot's. Wider registers measured no faster: the rows' memory sets the pace.

[[gnu::target("avx2")]] void DotsAvx2(const float* const* x, const float* const* c, std::size_t n,
                                      float* out) {
    constexpr std::size_t kBatch = WaveInResampler::kBatch;
    __m256 low[kBatch], high[kBatch]; // partial sums 0..7 and 8..15
    for (std::size_t q = 0; q < kBatch; ++q) low[q] = high[q] = _mm256_setzero_ps();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
#pragma GCC unroll 4
        for (std::size_t q = 0; q < kBatch; ++q) {
            low[q] = _mm256_add_ps(
                low[q], _mm256_mul_ps(_mm256_loadu_ps(x[q] + i), _mm256_loadu_ps(c[q] + i)));
            high[q] = _mm256_add_ps(high[q], _mm256_mul_ps(_mm256_loadu_ps(x[q] + i + 8),
                                                           _mm256_loadu_ps(c[q] + i + 8)));
        }
    }
    for (std::size_t q = 0; q < kBatch; ++q) {
        float partial[kLanes];
        _mm256_storeu_ps(partial, low[q]);
        _mm256_storeu_ps(partial + 8, high[q]);
        out[q] = Finish(partial, Tail(x[q], c[q], i, n));
    }
}

WaveInResampler::Dots BestDots() {
    return CpuHasAvx2() ? DotsAvx2 : DotsPortable;
}
#else
WaveInResampler::Dots BestDots() {
    return DotsPortable;
}
#endif

} // namespace

WaveInResampler::WaveInResampler() : dots_(BestDots()) {}

void WaveInResampler::usePortableArithmetic(bool portable) {
    dots_ = portable ? DotsPortable : BestDots();
}

bool WaveInResampler::setUp(std::uint32_t inRate, std::uint32_t outRate) {
    why_.clear();
    if (inRate == 0 || outRate == 0) {
        why_ = "a rate of 0 samples per second";
        return false;
    }
    const std::uint64_t g = std::gcd(inRate, outRate);
    const std::uint64_t phases = outRate / g;
    const std::uint64_t step = inRate / g;

    // Kaiser's design rule for the stop-band attenuation and the transition width, both in
    // cycles per input sample; the lower of the two Nyquist frequencies bounds the band.
    const double band = 0.5 * std::min(inRate, outRate) / static_cast<double>(inRate);
    const double cutoff = band * (kPassEnd + kStopBegin) / 2.0;
    const double transition = band * (kStopBegin - kPassEnd);
    const double beta = 0.1102 * (kStopDb - 8.7);
    const double length = (kStopDb - 7.95) / (14.36 * transition);
    const std::size_t half = static_cast<std::size_t>(std::ceil(length / 2.0));
    const std::size_t taps = 2 * half;
    if (phases * taps > kMaxCoefficients) {
        why_ = "converting " + std::to_string(inRate) + " to " + std::to_string(outRate) +
               " samples per second needs too large a filter";
        return false;
    }

    inRate_ = inRate;
    outRate_ = outRate;
    phases_ = phases;
    step_ = step;
    half_ = half;
    taps_ = taps;
    coefficients_.assign(phases * taps, 0.0f);
    const double i0Beta = BesselI0(beta);
    std::vector<double> h(taps);
    // h is even, so the row for the fraction 1 - f is the row for f reversed: only the first
    // half of the rows is computed.
    for (std::uint64_t p = 0; p <= phases / 2; ++p) {
        float* row = &coefficients_[p * taps];
        const double fraction = static_cast<double>(p) / static_cast<double>(phases);
        double sum = 0.0;
        for (std::size_t i = 0; i < taps; ++i) {
            // Tap i weighs input sample P - H + 1 + i for an output at input position P + fraction.
            const double x = fraction + static_cast<double>(half) - 1.0 - static_cast<double>(i);
            const double u = x / static_cast<double>(half);
            const double window =
                u * u < 1.0 ? BesselI0(beta * std::sqrt(1.0 - u * u)) / i0Beta : 0.0;
            const double z = 2.0 * cutoff * x;
            const double sinc = z == 0.0 ? 1.0 : std::sin(kPi * z) / (kPi * z);
            h[i] = 2.0 * cutoff * sinc * window;
            sum += h[i];
        }
        // Each phase passes a constant input unchanged.
        for (std::size_t i = 0; i < taps; ++i) row[i] = static_cast<float>(h[i] / sum);
        if (p > 0 && p < phases - p) {
            float* mirror = &coefficients_[(phases - p) * taps];
            for (std::size_t i = 0; i < taps; ++i) mirror[i] = row[taps - 1 - i];
        }
    }
    history_.assign(taps + kHistorySlack, 0.0f);
    reset();
    return true;
}

void WaveInResampler::reset() {
    // The first output sits at input position 0 and needs H - 1 earlier samples: silence.
    std::fill(history_.begin(), history_.end(), 0.0f);
    filled_ = half_ > 0 ? half_ - 1 : 0;
    historyStart_ = -static_cast<std::int64_t>(filled_);
    outputPosition_ = 0;
    outputPhase_ = 0;
}

std::size_t WaveInResampler::outputFor(std::size_t count) const {
    if (step_ == 0) return 0;
    return static_cast<std::size_t>((count + 1) * phases_ / step_ + 2);
}

std::size_t WaveInResampler::inputFor(std::size_t outputs) const {
    if (outputs == 0 || phases_ == 0) return 0;
    // The last of them sits at input position `last`; like any output it is complete once input
    // sample last + H has arrived.
    const std::uint64_t advance = (outputPhase_ + (outputs - 1) * step_) / phases_;
    const std::int64_t last = outputPosition_ + static_cast<std::int64_t>(advance);
    const std::int64_t end = historyStart_ + static_cast<std::int64_t>(filled_);
    const std::int64_t missing = last + static_cast<std::int64_t>(half_) + 1 - end;
    return missing > 0 ? static_cast<std::size_t>(missing) : 0;
}

double WaveInResampler::delaySeconds() const {
    return inRate_ ? static_cast<double>(half_) / inRate_ : 0.0;
}

std::size_t WaveInResampler::process(const std::int16_t* in, std::size_t count, std::int16_t* out,
                                     std::size_t capacity) {
    std::size_t written = 0;
    while (count > 0) {
        const std::size_t n = std::min(count, history_.size() - filled_);
        for (std::size_t i = 0; i < n; ++i) history_[filled_ + i] = static_cast<float>(in[i]);
        filled_ += n;
        in += n;
        count -= n;

        // An output is complete once input sample P + H has arrived; complete outputs are
        // summed a batch at a time (a short batch repeats its first output in the empty places).
        const std::int64_t end = historyStart_ + static_cast<std::int64_t>(filled_);
        for (;;) {
            const float* x[kBatch];
            const float* c[kBatch];
            std::size_t ready = 0;
            while (ready < kBatch && written + ready < capacity &&
                   outputPosition_ + static_cast<std::int64_t>(half_) < end) {
                const std::size_t first = static_cast<std::size_t>(
                    outputPosition_ - static_cast<std::int64_t>(half_) + 1 - historyStart_);
                x[ready] = &history_[first];
                c[ready] = &coefficients_[outputPhase_ * taps_];
                ++ready;
                outputPhase_ += step_;
                outputPosition_ += static_cast<std::int64_t>(outputPhase_ / phases_);
                outputPhase_ %= phases_;
            }
            if (ready == 0) break;
            for (std::size_t q = ready; q < kBatch; ++q) {
                x[q] = x[0];
                c[q] = c[0];
            }
            float sums[kBatch];
            dots_(x, c, taps_, sums);
            for (std::size_t q = 0; q < ready; ++q) out[written++] = ToSample(sums[q]);
        }

        // Keeps only what later outputs still need.
        const std::int64_t keepFrom = outputPosition_ - static_cast<std::int64_t>(half_) + 1;
        const std::size_t drop = static_cast<std::size_t>(std::clamp<std::int64_t>(
            keepFrom - historyStart_, 0, static_cast<std::int64_t>(filled_)));
        if (drop > 0) {
            std::memmove(history_.data(), history_.data() + drop, (filled_ - drop) * sizeof(float));
            filled_ -= drop;
            historyStart_ += static_cast<std::int64_t>(drop);
        }
        if (written >= capacity) break;
    }
    return written;
}

} // namespace platform
