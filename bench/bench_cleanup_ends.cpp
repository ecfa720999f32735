// Start blanking with negative-dip removal, and signal-end marking, on a
// 17,000-sample run (4 Hz, about 71 minutes): primer peak, dense base peaks,
// a few deep negative dips and a 12-minute noise tail. Each iteration works
// on a fresh copy of the trace; BM_CopyTrace shows what the copy costs.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "kwsignal/trace.h"
#include "synthetic.h"

namespace {

constexpr int kSamples = 17000;
constexpr double kRate = 4.0;

const KwTrace& benchRun() {
    static const KwTrace run = [] {
        std::vector<double> v(kSamples);
        std::mt19937 rng(11);
        std::normal_distribution<double> noise(20.0, 3.0);
        std::uniform_real_distribution<double> height(200.0, 1000.0);
        for (double& x : v) x = noise(rng);
        kwtest::addGaussian(v, 300.0, 8000.0, 30.0);
        for (int c = 700; c <= 14000; c += 14) kwtest::addGaussian(v, c, height(rng), 2.5);
        for (int c : {3007, 8507, 12007}) kwtest::addGaussian(v, c, -3000.0, 3.0);
        KwTrace t(kSamples, v.data());
        t.setSampleRate(kRate);
        return t;
    }();
    return run;
}

void BM_CopyTrace(benchmark::State& state) {
    for (auto _ : state) {
        KwTrace t(benchRun());
        benchmark::DoNotOptimize(t.getData());
    }
}
BENCHMARK(BM_CopyTrace);

void BM_Cleaning(benchmark::State& state) {
    for (auto _ : state) {
        KwTrace t(benchRun());
        t.cleaning(10.0, 1);
        benchmark::DoNotOptimize(t.getData());
    }
}
BENCHMARK(BM_Cleaning);

void BM_MarkTheEnds(benchmark::State& state) {
    for (auto _ : state) {
        KwTrace t(benchRun());
        t.markTheEnds(0.1, 1);
        benchmark::DoNotOptimize(t.getSignalEndPnt());
    }
}
BENCHMARK(BM_MarkTheEnds);

}  // namespace
