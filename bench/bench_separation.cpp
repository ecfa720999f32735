// Learning a separation matrix (plain and robust estimation) and the
// three-width Mexican-hat filter on a capillary of 4 x 17,000 samples.
#include <benchmark/benchmark.h>

#include "kwsignal/capillary.h"
#include "synthetic.h"

namespace {

constexpr int kNumData = 17000;

// Reaches the learning overload kept for derived classes.
class BenchCap : public KwCap {
public:
    using KwCap::KwCap;
    using KwCap::specSep;
};

// Four dyes of isolated peaks, leaking 0.05 to 0.3 into the other channels.
std::vector<std::vector<double>> mixedRows() {
    const std::vector<std::vector<double>> mixing = {
        {1.0, 0.2, 0.1, 0.05}, {0.3, 1.0, 0.25, 0.1}, {0.1, 0.15, 1.0, 0.2}, {0.05, 0.1, 0.3, 1.0}};
    const auto peaks = kwtest::randomPeaks(kNumData, 4, 40.0, 4.0, 7);
    return kwtest::mix(kwtest::pureDyes(kNumData, 4, peaks), mixing, 1.0, 8);
}

BenchCap makeBenchCap(std::vector<std::vector<double>>& rows) {
    std::vector<double*> p;
    for (auto& r : rows) p.push_back(r.data());
    return BenchCap(4, kNumData, p.data(), 3.0);
}

void learn(benchmark::State& state, int useRobust) {
    auto rows = mixedRows();
    const BenchCap source = makeBenchCap(rows);
    for (auto _ : state) {
        BenchCap cap(source);
        const int ok = cap.specSep(0.01, nullptr, nullptr, 2.0, useRobust);
        benchmark::DoNotOptimize(ok);
        if (ok != 1) state.SkipWithError("learning failed");
    }
}

void BM_LearnPlain(benchmark::State& state) {
    learn(state, 0);
}
void BM_LearnRobust(benchmark::State& state) {
    learn(state, 1);
}

void BM_TrippleMexicanHatFilter(benchmark::State& state) {
    auto rows = mixedRows();
    BenchCap source = makeBenchCap(rows);
    for (int t = 0; t < 4; ++t) source.getPnterToTrace(t)->setNoiseLevel(5.0);
    for (auto _ : state) {
        KwCap cap(source);
        cap.trippleMexicanHatFilter(3.0, 5.0);
        benchmark::DoNotOptimize(cap(0, kNumData / 2));
    }
    state.SetItemsProcessed(state.iterations() * 4 * kNumData);
}

}  // namespace

BENCHMARK(BM_LearnPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LearnRobust)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrippleMexicanHatFilter)->Unit(benchmark::kMillisecond);
