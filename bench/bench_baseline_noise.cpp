// Baseline removal, noise estimation and envelope normalisation on one
// 17,000-sample trace (about 85 minutes at 3.3 Hz, a long sequencing run).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "synthetic.h"

namespace {

constexpr int kSamples = 17000;
constexpr double kRate = 3.3;

/// Peaks 12 samples apart fading from 1000 to 200 over the run, on a
/// falling exponential plus a rising line, with noise of 5.
std::vector<double> rawRun() {
    std::vector<double> y(kSamples, 0.0);
    for (double c = 30; c < kSamples - 30; c += 12.0)
        kwtest::addGaussian(y, c, 1000.0 - 800.0 * c / kSamples, 2.5);
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, 5.0);
    for (int i = 0; i < kSamples; ++i)
        y[i] += 400.0 + 0.01 * i + 1500.0 * std::exp(-i / 3000.0) + noise(rng);
    return y;
}

KwTrace makeTrace(const std::vector<double>& y) {
    KwTrace t(static_cast<int>(y.size()), y.data());
    t.setSampleRate(kRate);
    return t;
}

void BM_deBaseline(benchmark::State& state) {
    const KwTrace raw = makeTrace(rawRun());
    KwTrace t;
    for (auto _ : state) {
        state.PauseTiming();
        t = raw;
        state.ResumeTiming();
        benchmark::DoNotOptimize(t.deBaseline(static_cast<int>(state.range(0))));
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_deBaseline)->Arg(1)->Arg(4);

void BM_envelopeNormalize(benchmark::State& state) {
    KwTrace base = makeTrace(rawRun());
    base.deBaseline(1);
    KwTrace t;
    for (auto _ : state) {
        state.PauseTiming();
        t = base;
        state.ResumeTiming();
        t.envelopeNormalize(static_cast<int>(state.range(0)), 600.0, kSamples - 1, 1800.0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_envelopeNormalize)->Arg(1)->Arg(5);

void BM_noiseAndMinimumHeight(benchmark::State& state) {
    KwTrace t = makeTrace(rawRun());
    t.deBaseline(1);
    for (auto _ : state) {
        t.findNoiseLevel(0);
        t.setMinumHeight();
        benchmark::DoNotOptimize(t.getNoiseLevel());
    }
    state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_noiseAndMinimumHeight);

}  // namespace
