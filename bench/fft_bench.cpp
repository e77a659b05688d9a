// SPDX-License-Identifier: GPL-3.0-or-later
// The per-frame cost the analyser pays for its spectrum: N windowed RealIn calls (or one
// RealInFrame) and 781 ComplexOut reads, beside FFTW doing the same work (window, one transform,
// 781 magnitudes).
#include "fft/clsFourier.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <span>
#include <vector>

namespace {

constexpr int kBinsRead = 781;

// Each read goes to its own column, as in the analyser's row: no chain of additions through
// the reads, which would time the harness (and how the compiler keeps a sum across a call)
// rather than the engine.
void Keep(std::vector<double>& row) {
    benchmark::DoNotOptimize(row.data());
    benchmark::ClobberMemory();
}

std::vector<double> Samples(int n) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> x(n);
    for (auto& v : x) v = d(rng) / n;
    return x;
}

// One frame's input, apart so that a profiler can tell its cost from the transform's and the
// reads'. Written against whatever engine it is built with, so that an older engine without the
// whole-frame call can be profiled the same way.
template <class Engine>
[[gnu::noinline]] void FeedFrame(Engine& engine, const std::vector<double>& x, bool whole) {
    if constexpr (requires { engine.RealInFrame(std::span<const double>(x)); }) {
        if (whole) {
            engine.RealInFrame(x);
            return;
        }
    }
    const int n = static_cast<int>(x.size());
    for (int i = 1; i <= n; ++i) engine.RealIn(i, x[i - 1]);
}

void BM_Tonvault(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto x = Samples(n);
    clsFourier engine;
    engine.WithTimeWindow(-1);
    engine.NumberOfSamples(n);
    std::vector<double> row(kBinsRead);
    for (auto _ : state) {
        for (int i = 1; i <= n; ++i) engine.RealIn(i, x[i - 1]);
        for (int k = 1; k <= kBinsRead; ++k) row[k - 1] = engine.ComplexOut(k);
        Keep(row);
    }
    state.SetItemsProcessed(state.iterations());
}

// The same frame fed in one call, as a caller with its samples in order does it.
void BM_TonvaultFrame(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto x = Samples(n);
    clsFourier engine;
    engine.WithTimeWindow(-1);
    engine.NumberOfSamples(n);
    std::vector<double> row(kBinsRead);
    for (auto _ : state) {
        FeedFrame(engine, x, true);
        for (int k = 1; k <= kBinsRead; ++k) row[k - 1] = engine.ComplexOut(k);
        Keep(row);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Fftw(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto x = Samples(n);
    std::vector<double> window(n);
    for (int i = 0; i < n; ++i) {
        const double t = 2 * std::numbers::pi * i / (n - 1);
        window[i] = 0.42 - 0.5 * std::cos(t) + 0.08 * std::cos(2 * t);
    }
    auto* buf = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * n));
    const fftw_plan plan = fftw_plan_dft_1d(n, buf, buf, FFTW_BACKWARD, FFTW_MEASURE);
    std::vector<double> row(kBinsRead);
    for (auto _ : state) {
        for (int i = 0; i < n; ++i) {
            buf[i][0] = window[i] * x[i];
            buf[i][1] = 0;
        }
        fftw_execute(plan);
        for (int k = 0; k < kBinsRead; ++k)
            row[k] = std::sqrt(buf[k][0] * buf[k][0] + buf[k][1] * buf[k][1]);
        Keep(row);
    }
    fftw_destroy_plan(plan);
    fftw_free(buf);
    state.SetItemsProcessed(state.iterations());
}

// The first read runs the transform; a profiler separates it by the transform's own function.
[[gnu::noinline]] double ReadBins(clsFourier& engine) {
    double sum = 0;
    for (int k = 1; k <= kBinsRead; ++k) sum += engine.ComplexOut(k);
    return sum;
}

// fft_bench --frames N COUNT samples|frame: COUNT analyser frames outside the benchmark
// library, for scripts/measure/callgrind-frame.
int RunFrames(int n, int count, bool whole) {
    const auto x = Samples(n);
    clsFourier engine;
    engine.WithTimeWindow(-1);
    engine.NumberOfSamples(n);
    double sum = 0;
    for (int f = 0; f < count; ++f) {
        FeedFrame(engine, x, whole);
        sum += ReadBins(engine);
    }
    std::printf("%d frames of %d: %.17g\n", count, n, sum);
    return 0;
}

} // namespace

// Registered side by side per length, so both halves of each comparison run close together in
// time, under the same machine load.
int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--frames") == 0)
        return RunFrames(std::atoi(argv[2]), std::atoi(argv[3]),
                         std::strcmp(argv[4], "frame") == 0);
    for (int n = 1024; n <= 32768; n *= 2) {
        benchmark::RegisterBenchmark("BM_Tonvault", BM_Tonvault)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("BM_TonvaultFrame", BM_TonvaultFrame)
            ->Arg(n)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("BM_Fftw", BM_Fftw)->Arg(n)->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
