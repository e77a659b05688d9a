// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's arithmetic as pure functions: bit reversal, Blackman weight, the twiddle recurrence,
// the butterfly, the in-place passes, weighting and magnitudes (portable, AVX2 and AVX-512, chosen
// at run time, every one with the portable bits) and the alignment advice.
#pragma once

#include "fft/clsFourier.h"
#include "platform/system/cpu_features.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fourier {

// The lowest `count` bits of `value` in reverse order; a count below 1 gives 0.
std::uint32_t ReverseBits(std::uint32_t value, std::int32_t count);

// Symmetric Blackman weight of natural position n in a block whose last index is maxIndex.
double BlackmanWeight(std::int32_t n, std::int32_t maxIndex, double twoPi);

// One butterfly: b' = a - w.b, a' = a + w.b, in the operand order the recurrence was tuned with,
// so every implementation below rounds identically.
inline void Butterfly(const Complex& w, Complex& a, Complex& b) {
    const double tRe = w.Re * b.Re - b.Im * w.Im;
    const double tIm = b.Im * w.Re + w.Im * b.Re;
    b.Re = a.Re - tRe;
    a.Re = a.Re + tRe;
    b.Im = a.Im - tIm;
    a.Im = a.Im + tIm;
}

// Turns w into w.e^(+i.phi) where step = (1 - cos phi, sin phi); no trigonometric call.
inline void AdvanceTwiddle(const Complex& step, Complex& w) {
    const double u = step.Re * w.Re + w.Im * step.Im;
    w.Im = w.Re * step.Im + w.Im - step.Re * w.Im;
    w.Re = w.Re - u;
}

// All log2 N passes over data (already in bit-reversed order). twiddles[h + m] is the m-th
// twiddle of the pass whose half-span is h; element 0 is unused.
void TransformPortable(Complex* data, std::int32_t bits, const Complex* twiddles);
// Same result, bit for bit, two butterflies per instruction and two passes per sweep.
// Call only where CpuHasAvx2() is true.
void TransformAvx2(Complex* data, std::int32_t bits, const Complex* twiddles);
using platform::CpuHasAvx2;
// The same again with four butterflies per instruction; call only where CpuHasAvx512() is true.
void TransformAvx512(Complex* data, std::int32_t bits, const Complex* twiddles);
using platform::CpuHasAvx512;

// data[j] = (staged[reverse(j)], 0) for the whole block: the input reordering, walked in 8 x 8
// tiles so that every cache line read or written is used whole while it is in the cache.
void LoadReversed(const double* staged, Complex* data, std::int32_t bits);
// LoadReversed then all passes. The wide one runs the first three passes on each tile while it
// is still in registers; both give the same bits as LoadReversed + TransformPortable.
void TransformRealPortable(const double* staged, Complex* data, std::int32_t bits,
                           const Complex* twiddles);
void TransformRealAvx2(const double* staged, Complex* data, std::int32_t bits,
                       const Complex* twiddles);
void TransformRealAvx512(const double* staged, Complex* data, std::int32_t bits,
                         const Complex* twiddles);

// out[i] = weights[i] * x[i], or x[i] / 2 where weights is null: RealIn's weighting, i < n.
void WeighPortable(const double* x, const double* weights, double* out, std::size_t n);
void WeighAvx2(const double* x, const double* weights, double* out, std::size_t n);
void WeighAvx512(const double* x, const double* weights, double* out, std::size_t n);

// out[i] = sqrt(Re² + Im²) of data[i], i < count: the scalar sum and root, whatever the width.
void MagnitudesPortable(const Complex* data, double* out, std::size_t count);
void MagnitudesAvx2(const Complex* data, double* out, std::size_t count);
void MagnitudesAvx512(const Complex* data, double* out, std::size_t count);

// The developer's padding hint for a member at this address, or "" when it is 8-byte aligned.
std::string AlignmentAdvice(std::uintptr_t address);

} // namespace fourier
