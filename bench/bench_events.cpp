// Event detection over a whole trace, and peak fitting of events holding 1, 2
// and 4 peaks.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "kwsignal/events.h"
#include "kwsignal/trace.h"
#include "synthetic.h"

namespace {

constexpr double kSigma = 3.0;
constexpr double kPeakWidth = 2.355 * kSigma;

// One dye channel: Gaussian peaks of sigma 3 every ~25 samples plus noise.
KwTrace sequencerTrace(int n) {
    std::vector<kwtest::Gauss> peaks = kwtest::randomPeaks(n, 1, 25.0, kSigma, 5);
    std::vector<double> y = kwtest::pureDyes(n, 1, peaks)[0];
    std::mt19937 rng(9);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (double& v : y) v += noise(rng);
    return KwTrace(n, y.data());
}

void BM_GetNextEventWholeTrace(benchmark::State& state) {
    const int n = 17000;
    const KwTrace trace = sequencerTrace(n);
    int events = 0;
    for (auto _ : state) {
        events = 0;
        for (int start = 2;;) {
            const KwEvent ev = trace.getNextEvent(0, start, n - 3, 20.0, 10.0, kPeakWidth, 1);
            if (ev.dataExist() == 0) break;
            ++events;
            start = ev.getOuterBounds(1);
        }
        benchmark::DoNotOptimize(events);
    }
    state.counters["events"] = events;
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_GetNextEventWholeTrace)->Unit(benchmark::kMicrosecond);

// An event of `count` overlapping peaks 2.7 sigma apart, each its own hump.
KwEvent eventOfPeaks(int count) {
    const int n = 200;
    std::vector<double> y(n, 0.0);
    for (int k = 0; k < count; ++k)
        kwtest::addGaussian(y, 60.3 + 2.7 * kSigma * k, 600.0 + 90.0 * k, kSigma);
    std::mt19937 rng(4);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (double& v : y) v += noise(rng);
    const KwTrace trace(n, y.data());
    KwEvent ev = trace.getNextEvent(0, 2, n - 3, 20.0, 10.0, kPeakWidth, 1);
    ev.setNumPksBeNumHumps();
    return ev;
}

void BM_PeakFit(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const KwEvent ev = eventOfPeaks(count);
    if (ev.getNumPeaks() != count) {
        state.SkipWithError("event does not hold the expected number of humps");
        return;
    }
    std::vector<KwPeak> peaks(count);
    for (auto _ : state) {
        ev.peakFit(peaks.data());
        benchmark::DoNotOptimize(peaks.data());
    }
    state.counters["samples"] = ev.getOuterWidth();
}
BENCHMARK(BM_PeakFit)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace
