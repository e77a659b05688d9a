// The per-frame cost the analyser pays for its spectrum: N windowed RealIn calls (or one
// RealInFrame) and 781 ComplexOut reads, beside FFTW doing the same work (window, one transform,
// 781 magnitudes).
#include "fft/clsFourier.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int kBinsRead = 781;

std::vector<double> Samples(int n) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> x(n);
    for (auto& v : x) v = d(rng) / n;
    return x;
}

void BM_Tonvault(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto x = Samples(n);
    clsFourier engine;
    engine.WithTimeWindow(-1);
    engine.NumberOfSamples(n);
    for (auto _ : state) {
        for (int i = 1; i <= n; ++i) engine.RealIn(i, x[i - 1]);
        double sum = 0;
        for (int k = 1; k <= kBinsRead; ++k) sum += engine.ComplexOut(k);
        benchmark::DoNotOptimize(sum);
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
    for (auto _ : state) {
        engine.RealInFrame(x);
        double sum = 0;
        for (int k = 1; k <= kBinsRead; ++k) sum += engine.ComplexOut(k);
        benchmark::DoNotOptimize(sum);
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
    for (auto _ : state) {
        for (int i = 0; i < n; ++i) {
            buf[i][0] = window[i] * x[i];
            buf[i][1] = 0;
        }
        fftw_execute(plan);
        double sum = 0;
        for (int k = 0; k < kBinsRead; ++k)
            sum += std::sqrt(buf[k][0] * buf[k][0] + buf[k][1] * buf[k][1]);
        benchmark::DoNotOptimize(sum);
    }
    fftw_destroy_plan(plan);
    fftw_free(buf);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

// Registered side by side per length, so both halves of each comparison run close together in
// time, under the same machine load.
int main(int argc, char** argv) {
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
