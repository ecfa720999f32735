// Reading a real instrument run (ABIF) from disk into rows.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "kwsignal/abif.h"

static void BM_ReadAbif3730(benchmark::State& state) {
    const std::string path = KWSIGNAL_SHARED_DATA "/abif/3730.ab1";
    if (!std::ifstream(path).good()) {
        state.SkipWithError("3730.ab1 not available in the shared data directory");
        return;
    }
    for (auto _ : state) {
        kw::AbifRun run = kw::readAbif(path);
        benchmark::DoNotOptimize(run.raw.data());
    }
    state.SetBytesProcessed(state.iterations() * 299987);
}
BENCHMARK(BM_ReadAbif3730)->Unit(benchmark::kMicrosecond);
