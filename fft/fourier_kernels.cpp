// SPDX-License-Identifier: GPL-3.0-or-later
#include "fft/fourier_kernels.h"

#include <bit>
#include <cmath>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TONVAULT_FFT_X86 1
#endif

namespace fourier {

std::uint32_t ReverseBits(std::uint32_t value, std::int32_t count) {
    std::uint32_t r = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        r = 2 * r + (value & 1u);
        value /= 2;
    }
    return r;
}

double BlackmanWeight(std::int32_t n, std::int32_t maxIndex, double twoPi) {
    const double theta = n * twoPi / maxIndex;
    return 0.42 - 0.5 * std::cos(theta) + 0.08 * std::cos(2 * theta);
}

void TransformPortable(Complex* data, std::int32_t bits, const Complex* twiddles) {
    const std::size_t n = std::size_t{1} << bits;
    for (std::size_t half = 1; half < n; half *= 2) {
        const Complex* w = twiddles + half;
        for (std::size_t group = 0; group < n; group += 2 * half) {
            Complex* a = data + group;
            Complex* b = a + half;
            for (std::size_t k = 0; k < half; ++k) Butterfly(w[k], a[k], b[k]);
        }
    }
}

namespace {

constexpr std::size_t kReverse3[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// Natural position n = a.S + m.8 + c (S = N / 8) lands at element
// reverse3(c).S + reverse(m).8 + reverse3(a): for one m, the eight rows a and eight columns c
// form a tile whose reads and writes each cover whole cache lines.
struct Tiles {
    explicit Tiles(std::int32_t bits)
        : bits(bits), stride(std::size_t{1} << (bits - 3)), middles(std::size_t{1} << (bits - 6)) {}
    // Where the columns of middle m start, apart from their kReverse3[c] * stride.
    std::size_t Base(std::size_t m) const {
        return std::size_t{ReverseBits(static_cast<std::uint32_t>(m), bits - 6)} << 3;
    }
    // v[e] = the value for element Base(m) + kReverse3[c] * stride + e.
    void Gather(const double* staged, std::size_t m, std::size_t c, double* v) const {
        const double* src = staged + m * 8 + c;
        for (std::size_t a = 0; a < 8; ++a) v[kReverse3[a]] = src[a * stride];
    }
    std::int32_t bits;
    std::size_t stride;
    std::size_t middles;
};

} // namespace

void LoadReversed(const double* staged, Complex* data, std::int32_t bits) {
    const std::size_t n = std::size_t{1} << bits;
    if (bits < 6) {
        for (std::size_t j = 0; j < n; ++j)
            data[j] = Complex{staged[ReverseBits(static_cast<std::uint32_t>(j), bits)], 0.0};
        return;
    }
    const Tiles tiles(bits);
    double v[8];
    for (std::size_t m = 0; m < tiles.middles; ++m) {
        const std::size_t base = tiles.Base(m);
        for (std::size_t c = 0; c < 8; ++c) {
            tiles.Gather(staged, m, c, v);
            Complex* out = data + base + kReverse3[c] * tiles.stride;
            for (std::size_t e = 0; e < 8; ++e) out[e] = Complex{v[e], 0.0};
        }
    }
}

void TransformRealPortable(const double* staged, Complex* data, std::int32_t bits,
                           const Complex* twiddles) {
    LoadReversed(staged, data, bits);
    TransformPortable(data, bits, twiddles);
}

void WeighPortable(const double* x, const double* weights, double* out, std::size_t n) {
    if (weights) {
        for (std::size_t i = 0; i < n; ++i) out[i] = weights[i] * x[i];
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = x[i] / 2;
    }
}

void MagnitudesPortable(const Complex* data, double* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = std::sqrt(data[i].Re * data[i].Re + data[i].Im * data[i].Im);
}

#ifdef TONVAULT_FFT_X86

namespace {

#define TONVAULT_AVX2 gnu::target("avx2"), gnu::always_inline

// w.b for two complex values per register, with the same products and the same order of the
// final sums as Butterfly: (w.Re b.Re - w.Im b.Im, w.Re b.Im + w.Im b.Re). No FMA, so the
// rounding stays that of the scalar recurrence.
[[TONVAULT_AVX2]] inline __m256d Multiply(__m256d w, __m256d b) {
    const __m256d wRe = _mm256_movedup_pd(w);
    const __m256d wIm = _mm256_permute_pd(w, 0xF);
    const __m256d bSwapped = _mm256_permute_pd(b, 0x5);
    return _mm256_addsub_pd(_mm256_mul_pd(wRe, b), _mm256_mul_pd(wIm, bSwapped));
}

[[TONVAULT_AVX2]] inline __m256d Load(const Complex* p) {
    return _mm256_loadu_pd(reinterpret_cast<const double*>(p));
}
[[TONVAULT_AVX2]] inline void Store(Complex* p, __m256d v) {
    _mm256_storeu_pd(reinterpret_cast<double*>(p), v);
}

// Spans 2 and 4 on four consecutive elements (two per register). The span-2 twiddle is (1, 0),
// whose product changes nothing but the sign of a zero, so it is skipped.
[[TONVAULT_AVX2]] inline void SpansTwoAndFour(__m256d x01, __m256d x23, __m256d w4, __m256d& z01,
                                              __m256d& z23) {
    const __m256d even = _mm256_permute2f128_pd(x01, x23, 0x20);   // x0 x2
    const __m256d odd = _mm256_permute2f128_pd(x01, x23, 0x31);    // x1 x3
    const __m256d sum = _mm256_add_pd(even, odd);                  // y0 y2
    const __m256d diff = _mm256_sub_pd(even, odd);                 // y1 y3
    const __m256d upper = _mm256_permute2f128_pd(sum, diff, 0x20); // y0 y1
    const __m256d lower = _mm256_permute2f128_pd(sum, diff, 0x31); // y2 y3
    const __m256d t = Multiply(w4, lower);
    z01 = _mm256_add_pd(upper, t);
    z23 = _mm256_sub_pd(upper, t);
}

[[TONVAULT_AVX2]] inline void FirstTwoPasses(Complex* data, std::size_t n, const Complex* tw) {
    const __m256d w4 = Load(tw + 2);
    for (std::size_t i = 0; i < n; i += 4) {
        __m256d z01, z23;
        SpansTwoAndFour(Load(data + i), Load(data + i + 2), w4, z01, z23);
        Store(data + i, z01);
        Store(data + i + 2, z23);
    }
}

[[TONVAULT_AVX2]] inline void OnePass(Complex* data, std::size_t n, std::size_t half,
                                      const Complex* tw) {
    const Complex* w = tw + half;
    for (std::size_t group = 0; group < n; group += 2 * half) {
        Complex* a = data + group;
        Complex* b = a + half;
        for (std::size_t k = 0; k < half; k += 2) {
            const __m256d x = Load(a + k);
            const __m256d t = Multiply(Load(w + k), Load(b + k));
            Store(a + k, _mm256_add_pd(x, t));
            Store(b + k, _mm256_sub_pd(x, t));
        }
    }
}

// Passes with half-spans h and 2h in one sweep: the four quarters of each 4h group stay in
// registers between the two passes. Same butterflies, same twiddles, same order per element.
[[TONVAULT_AVX2]] inline void TwoPasses(Complex* data, std::size_t n, std::size_t half,
                                        const Complex* tw) {
    const Complex* w1 = tw + half;
    const Complex* w2 = tw + 2 * half;
    for (std::size_t group = 0; group < n; group += 4 * half) {
        Complex* q0 = data + group;
        Complex* q1 = q0 + half;
        Complex* q2 = q1 + half;
        Complex* q3 = q2 + half;
        for (std::size_t k = 0; k < half; k += 2) {
            const __m256d a = Load(q0 + k);
            const __m256d b = Load(q1 + k);
            const __m256d c = Load(q2 + k);
            const __m256d d = Load(q3 + k);
            const __m256d wFirst = Load(w1 + k);
            const __m256d tb = Multiply(wFirst, b);
            const __m256d td = Multiply(wFirst, d);
            const __m256d a1 = _mm256_add_pd(a, tb);
            const __m256d b1 = _mm256_sub_pd(a, tb);
            const __m256d c1 = _mm256_add_pd(c, td);
            const __m256d d1 = _mm256_sub_pd(c, td);
            const __m256d tc = Multiply(Load(w2 + k), c1);
            const __m256d td1 = Multiply(Load(w2 + half + k), d1);
            Store(q0 + k, _mm256_add_pd(a1, tc));
            Store(q2 + k, _mm256_sub_pd(a1, tc));
            Store(q1 + k, _mm256_add_pd(b1, td1));
            Store(q3 + k, _mm256_sub_pd(b1, td1));
        }
    }
}

// Passes with half-spans h, 2h and 4h in one sweep over the eighths of each 8h group: for an odd
// number of passes this takes the place of a lone pass, which would load and store every element
// once more for a single butterfly each.
[[TONVAULT_AVX2]] inline void ThreePasses(Complex* data, std::size_t n, std::size_t half,
                                          const Complex* tw) {
    const Complex* w1 = tw + half;
    const Complex* w2 = tw + 2 * half;
    const Complex* w3 = tw + 4 * half;
    for (std::size_t group = 0; group < n; group += 8 * half) {
        Complex* q0 = data + group;
        Complex* q1 = q0 + half;
        Complex* q2 = q1 + half;
        Complex* q3 = q2 + half;
        Complex* q4 = q3 + half;
        Complex* q5 = q4 + half;
        Complex* q6 = q5 + half;
        Complex* q7 = q6 + half;
        for (std::size_t k = 0; k < half; k += 2) {
            const __m256d wFirst = Load(w1 + k);
            const __m256d x0 = Load(q0 + k);
            const __m256d t1 = Multiply(wFirst, Load(q1 + k));
            const __m256d x2 = Load(q2 + k);
            const __m256d t3 = Multiply(wFirst, Load(q3 + k));
            const __m256d x4 = Load(q4 + k);
            const __m256d t5 = Multiply(wFirst, Load(q5 + k));
            const __m256d x6 = Load(q6 + k);
            const __m256d t7 = Multiply(wFirst, Load(q7 + k));
            const __m256d a0 = _mm256_add_pd(x0, t1), a1 = _mm256_sub_pd(x0, t1);
            const __m256d a2 = _mm256_add_pd(x2, t3), a3 = _mm256_sub_pd(x2, t3);
            const __m256d a4 = _mm256_add_pd(x4, t5), a5 = _mm256_sub_pd(x4, t5);
            const __m256d a6 = _mm256_add_pd(x6, t7), a7 = _mm256_sub_pd(x6, t7);
            const __m256d wSecondA = Load(w2 + k);
            const __m256d wSecondB = Load(w2 + half + k);
            const __m256d u2 = Multiply(wSecondA, a2), u3 = Multiply(wSecondB, a3);
            const __m256d u6 = Multiply(wSecondA, a6), u7 = Multiply(wSecondB, a7);
            const __m256d b0 = _mm256_add_pd(a0, u2), b2 = _mm256_sub_pd(a0, u2);
            const __m256d b1 = _mm256_add_pd(a1, u3), b3 = _mm256_sub_pd(a1, u3);
            const __m256d b4 = _mm256_add_pd(a4, u6), b6 = _mm256_sub_pd(a4, u6);
            const __m256d b5 = _mm256_add_pd(a5, u7), b7 = _mm256_sub_pd(a5, u7);
            const __m256d v4 = Multiply(Load(w3 + k), b4);
            Store(q0 + k, _mm256_add_pd(b0, v4));
            Store(q4 + k, _mm256_sub_pd(b0, v4));
            const __m256d v5 = Multiply(Load(w3 + half + k), b5);
            Store(q1 + k, _mm256_add_pd(b1, v5));
            Store(q5 + k, _mm256_sub_pd(b1, v5));
            const __m256d v6 = Multiply(Load(w3 + 2 * half + k), b6);
            Store(q2 + k, _mm256_add_pd(b2, v6));
            Store(q6 + k, _mm256_sub_pd(b2, v6));
            const __m256d v7 = Multiply(Load(w3 + 3 * half + k), b7);
            Store(q3 + k, _mm256_add_pd(b3, v7));
            Store(q7 + k, _mm256_sub_pd(b3, v7));
        }
    }
}

// The passes from half-span `half` up to the whole `n`, two per sweep.
[[TONVAULT_AVX2]] inline void PassesFrom(Complex* data, std::size_t n, std::size_t half,
                                         const Complex* tw) {
    for (; 4 * half <= n; half *= 4) TwoPasses(data, n, half, tw);
    if (half < n) OnePass(data, n, half, tw);
}

// The same inside a block that sits in the first-level cache, three in the first sweep when
// their number is odd. Not across the whole array: eight rows a power of two of 4 KiB or more
// apart fall into the same cache sets, and the wide sweeps measured slower for it.
[[TONVAULT_AVX2]] inline void BlockPassesFrom(Complex* data, std::size_t n, std::size_t half,
                                              const Complex* tw) {
    const int passes = std::countr_zero(n) - std::countr_zero(half);
    if (passes >= 3 && passes % 2 == 1) {
        ThreePasses(data, n, half, tw);
        half *= 8;
    }
    PassesFrom(data, n, half, tw);
}

// Elements per block that the inner passes finish before moving on: 4 KiB of data, so a block
// and its twiddles stay in the first-level cache through all its passes. (1024 and 2048 measured
// the same within the noise.)
constexpr std::size_t kBlock = 256;

// The passes from half-span `half` to the end. Every pass whose span fits in a block only mixes
// elements of that block, so those passes run block by block while the block is in the
// first-level cache; only the wider passes sweep the whole array. Each element still meets the
// same butterflies in the same order, so the bits do not change.
[[TONVAULT_AVX2]] inline void RemainingPasses(Complex* data, std::size_t n, std::size_t half,
                                              const Complex* tw) {
    if (n > kBlock && half < kBlock) {
        for (std::size_t start = 0; start < n; start += kBlock)
            BlockPassesFrom(data + start, kBlock, half, tw);
        half = kBlock;
    }
    PassesFrom(data, n, half, tw);
}

} // namespace

[[gnu::target("avx2")]] void TransformAvx2(Complex* data, std::int32_t bits,
                                           const Complex* twiddles) {
    if (bits < 2) {
        TransformPortable(data, bits, twiddles);
        return;
    }
    const std::size_t n = std::size_t{1} << bits;
    FirstTwoPasses(data, n, twiddles);
    RemainingPasses(data, n, 4, twiddles);
}

namespace {

// The tiled load of a whole staged block with spans 2, 4 and 8 run on each tile while it is in
// registers. bits >= 6.
[[TONVAULT_AVX2]] inline void LoadFirstThreePasses(const double* staged, Complex* data,
                                                   std::int32_t bits, const Complex* twiddles) {
    const __m256d w4 = Load(twiddles + 2);
    const __m256d w8a = Load(twiddles + 4);
    const __m256d w8b = Load(twiddles + 6);
    const Tiles tiles(bits);
    const std::size_t s = tiles.stride;
    for (std::size_t m = 0; m < tiles.middles; ++m) {
        const std::size_t base = tiles.Base(m);
        for (std::size_t c = 0; c < 8; ++c) {
            // Row a of the column goes to element reverse3(a), straight into registers: a
            // round trip through a small array costs more than the butterflies here.
            const double* src = staged + m * 8 + c;
            // Elements first .. first + 7 as (v, 0) pairs; spans 2, 4 and 8 stay inside them.
            const __m256d x01 = _mm256_set_pd(0.0, src[4 * s], 0.0, src[0]);
            const __m256d x23 = _mm256_set_pd(0.0, src[6 * s], 0.0, src[2 * s]);
            const __m256d x45 = _mm256_set_pd(0.0, src[5 * s], 0.0, src[1 * s]);
            const __m256d x67 = _mm256_set_pd(0.0, src[7 * s], 0.0, src[3 * s]);
            __m256d p0, p1, p2, p3;
            SpansTwoAndFour(x01, x23, w4, p0, p1);
            SpansTwoAndFour(x45, x67, w4, p2, p3);
            const __m256d t0 = Multiply(w8a, p2);
            const __m256d t1 = Multiply(w8b, p3);
            Complex* out = data + base + kReverse3[c] * tiles.stride;
            Store(out, _mm256_add_pd(p0, t0));
            Store(out + 2, _mm256_add_pd(p1, t1));
            Store(out + 4, _mm256_sub_pd(p0, t0));
            Store(out + 6, _mm256_sub_pd(p1, t1));
        }
    }
}

} // namespace

[[gnu::target("avx2")]] void TransformRealAvx2(const double* staged, Complex* data,
                                               std::int32_t bits, const Complex* twiddles) {
    if (bits < 6) {
        LoadReversed(staged, data, bits);
        TransformAvx2(data, bits, twiddles);
        return;
    }
    LoadFirstThreePasses(staged, data, bits, twiddles);
    RemainingPasses(data, std::size_t{1} << bits, 8, twiddles);
}

// One product per value, so the vector forms round exactly as the scalar one; x / 2 and x * 0.5
// are the same number in binary floating point.
[[gnu::target("avx2")]] void WeighAvx2(const double* x, const double* weights, double* out,
                                       std::size_t n) {
    std::size_t i = 0;
    if (weights) {
        for (; i + 4 <= n; i += 4)
            _mm256_storeu_pd(out + i,
                             _mm256_mul_pd(_mm256_loadu_pd(weights + i), _mm256_loadu_pd(x + i)));
    } else {
        const __m256d half = _mm256_set1_pd(0.5);
        for (; i + 4 <= n; i += 4)
            _mm256_storeu_pd(out + i, _mm256_mul_pd(_mm256_loadu_pd(x + i), half));
    }
    WeighPortable(x + i, weights ? weights + i : nullptr, out + i, n - i);
}

[[gnu::target("avx2")]] void MagnitudesAvx2(const Complex* data, double* out, std::size_t count) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d a = Load(data + i);
        const __m256d b = Load(data + i + 2);
        // (Re0² + Im0², Re2² + Im2², Re1² + Im1², Re3² + Im3²): each sum in the scalar order.
        const __m256d sums = _mm256_hadd_pd(_mm256_mul_pd(a, a), _mm256_mul_pd(b, b));
        _mm256_storeu_pd(out + i, _mm256_sqrt_pd(_mm256_permute4x64_pd(sums, 0xD8)));
    }
    MagnitudesPortable(data + i, out + i, count - i);
}

// Four complex values per register from here on. AVX-512 has no add-subtract, so the even
// lanes of the product are subtracted under a mask: the same two products, the same rounding.
namespace {

#define TONVAULT_AVX512 gnu::target("avx512f"), gnu::always_inline

[[TONVAULT_AVX512]] inline __m512d Multiply(__m512d w, __m512d b) {
    // The zero-masked forms with every lane kept: the plain ones start from an undefined
    // register, which GCC 12 warns about.
    const __m512d wRe = _mm512_maskz_movedup_pd(0xFF, w);
    const __m512d wIm = _mm512_maskz_permute_pd(0xFF, w, 0xFF);
    const __m512d bSwapped = _mm512_maskz_permute_pd(0xFF, b, 0x55);
    const __m512d p = _mm512_mul_pd(wRe, b);
    const __m512d q = _mm512_mul_pd(wIm, bSwapped);
    return _mm512_mask_sub_pd(_mm512_add_pd(p, q), 0x55, p, q);
}

[[TONVAULT_AVX512]] inline __m512d Load4(const Complex* p) {
    return _mm512_loadu_pd(reinterpret_cast<const double*>(p));
}
[[TONVAULT_AVX512]] inline void Store4(Complex* p, __m512d v) {
    _mm512_storeu_pd(reinterpret_cast<double*>(p), v);
}

[[TONVAULT_AVX512]] inline void OnePass512(Complex* data, std::size_t n, std::size_t half,
                                           const Complex* tw) {
    const Complex* w = tw + half;
    for (std::size_t group = 0; group < n; group += 2 * half) {
        Complex* a = data + group;
        Complex* b = a + half;
        for (std::size_t k = 0; k < half; k += 4) {
            const __m512d x = Load4(a + k);
            const __m512d t = Multiply(Load4(w + k), Load4(b + k));
            Store4(a + k, _mm512_add_pd(x, t));
            Store4(b + k, _mm512_sub_pd(x, t));
        }
    }
}

[[TONVAULT_AVX512]] inline void TwoPasses512(Complex* data, std::size_t n, std::size_t half,
                                             const Complex* tw) {
    const Complex* w1 = tw + half;
    const Complex* w2 = tw + 2 * half;
    for (std::size_t group = 0; group < n; group += 4 * half) {
        Complex* q0 = data + group;
        Complex* q1 = q0 + half;
        Complex* q2 = q1 + half;
        Complex* q3 = q2 + half;
        for (std::size_t k = 0; k < half; k += 4) {
            const __m512d a = Load4(q0 + k);
            const __m512d b = Load4(q1 + k);
            const __m512d c = Load4(q2 + k);
            const __m512d d = Load4(q3 + k);
            const __m512d wFirst = Load4(w1 + k);
            const __m512d tb = Multiply(wFirst, b);
            const __m512d td = Multiply(wFirst, d);
            const __m512d a1 = _mm512_add_pd(a, tb);
            const __m512d b1 = _mm512_sub_pd(a, tb);
            const __m512d c1 = _mm512_add_pd(c, td);
            const __m512d d1 = _mm512_sub_pd(c, td);
            const __m512d tc = Multiply(Load4(w2 + k), c1);
            const __m512d td1 = Multiply(Load4(w2 + half + k), d1);
            Store4(q0 + k, _mm512_add_pd(a1, tc));
            Store4(q2 + k, _mm512_sub_pd(a1, tc));
            Store4(q1 + k, _mm512_add_pd(b1, td1));
            Store4(q3 + k, _mm512_sub_pd(b1, td1));
        }
    }
}

// half >= 4.
[[TONVAULT_AVX512]] inline void PassesFrom512(Complex* data, std::size_t n, std::size_t half,
                                              const Complex* tw) {
    for (; 4 * half <= n; half *= 4) TwoPasses512(data, n, half, tw);
    if (half < n) OnePass512(data, n, half, tw);
}

[[TONVAULT_AVX512]] inline void RemainingPasses512(Complex* data, std::size_t n, std::size_t half,
                                                   const Complex* tw) {
    if (n > kBlock && half < kBlock) {
        for (std::size_t start = 0; start < n; start += kBlock)
            PassesFrom512(data + start, kBlock, half, tw);
        half = kBlock;
    }
    PassesFrom512(data, n, half, tw);
}

} // namespace

[[gnu::target("avx512f")]] void TransformAvx512(Complex* data, std::int32_t bits,
                                                const Complex* twiddles) {
    if (bits < 3) {
        TransformAvx2(data, bits, twiddles);
        return;
    }
    const std::size_t n = std::size_t{1} << bits;
    FirstTwoPasses(data, n, twiddles);
    RemainingPasses512(data, n, 4, twiddles);
}

[[gnu::target("avx512f")]] void TransformRealAvx512(const double* staged, Complex* data,
                                                    std::int32_t bits, const Complex* twiddles) {
    if (bits < 6) {
        LoadReversed(staged, data, bits);
        TransformAvx512(data, bits, twiddles);
        return;
    }
    LoadFirstThreePasses(staged, data, bits, twiddles);
    RemainingPasses512(data, std::size_t{1} << bits, 8, twiddles);
}

[[gnu::target("avx512f")]] void WeighAvx512(const double* x, const double* weights, double* out,
                                            std::size_t n) {
    std::size_t i = 0;
    if (weights) {
        for (; i + 8 <= n; i += 8)
            _mm512_storeu_pd(out + i,
                             _mm512_mul_pd(_mm512_loadu_pd(weights + i), _mm512_loadu_pd(x + i)));
    } else {
        const __m512d half = _mm512_set1_pd(0.5);
        for (; i + 8 <= n; i += 8)
            _mm512_storeu_pd(out + i, _mm512_mul_pd(_mm512_loadu_pd(x + i), half));
    }
    WeighPortable(x + i, weights ? weights + i : nullptr, out + i, n - i);
}

[[gnu::target("avx512f")]] void MagnitudesAvx512(const Complex* data, double* out,
                                                 std::size_t count) {
    const __m512i even = _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0);
    const __m512i odd = _mm512_set_epi64(15, 13, 11, 9, 7, 5, 3, 1);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m512d a = Load4(data + i);
        const __m512d b = Load4(data + i + 4);
        const __m512d a2 = _mm512_mul_pd(a, a);
        const __m512d b2 = _mm512_mul_pd(b, b);
        const __m512d re2 = _mm512_permutex2var_pd(a2, even, b2);
        const __m512d im2 = _mm512_permutex2var_pd(a2, odd, b2);
        _mm512_storeu_pd(out + i, _mm512_maskz_sqrt_pd(0xFF, _mm512_add_pd(re2, im2)));
    }
    MagnitudesPortable(data + i, out + i, count - i);
}

#undef TONVAULT_AVX512

#undef TONVAULT_AVX2

#else

void TransformRealAvx512(const double* staged, Complex* data, std::int32_t bits,
                         const Complex* twiddles) {
    TransformRealPortable(staged, data, bits, twiddles);
}

void TransformAvx512(Complex* data, std::int32_t bits, const Complex* twiddles) {
    TransformPortable(data, bits, twiddles);
}

void MagnitudesAvx2(const Complex* data, double* out, std::size_t count) {
    MagnitudesPortable(data, out, count);
}

void WeighAvx2(const double* x, const double* weights, double* out, std::size_t n) {
    WeighPortable(x, weights, out, n);
}

void WeighAvx512(const double* x, const double* weights, double* out, std::size_t n) {
    WeighPortable(x, weights, out, n);
}

void MagnitudesAvx512(const Complex* data, double* out, std::size_t count) {
    MagnitudesPortable(data, out, count);
}

void TransformRealAvx2(const double* staged, Complex* data, std::int32_t bits,
                       const Complex* twiddles) {
    TransformRealPortable(staged, data, bits, twiddles);
}

void TransformAvx2(Complex* data, std::int32_t bits, const Complex* twiddles) {
    TransformPortable(data, bits, twiddles);
}

#endif

std::string AlignmentAdvice(std::uintptr_t address) {
    const auto remainder = address % 8;
    if (remainder == 0) return {};
    return "For improved speed insert padding of " + std::to_string(8 - remainder) +
           " bytes before Variable Pi";
}

} // namespace fourier
