// Reading a real instrument run (ABIF) from disk: into an AbifRun
// (kw::readAbif), and into a kw::Run as the command-line tool reads every
// file (kw::readRun).
//
// Both run with glibc's allocator keeping trace-sized buffers for reuse
// (kw::keepLargeBuffers), as the tool sets it at start. Without that, glibc
// hands the megabyte or so a read allocates back to the system after every
// read and the next read faults it in again page by page, which on a
// virtual machine costs more than the reading itself.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "kwsignal/abif.h"
#include "kwsignal/process.h"
#include "kwsignal/run.h"

namespace {

const std::string k3730 = KWSIGNAL_SHARED_DATA "/abif/3730.ab1";

bool ready(benchmark::State& state) {
    kw::keepLargeBuffers();
    if (std::ifstream(k3730).good()) return true;
    state.SkipWithError("3730.ab1 not available in the shared data directory");
    return false;
}

void BM_ReadAbif3730(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state) {
        kw::AbifRun run = kw::readAbif(k3730);
        benchmark::DoNotOptimize(run.raw.data());
    }
    state.SetBytesProcessed(state.iterations() * 299987);
}
BENCHMARK(BM_ReadAbif3730)->Unit(benchmark::kMicrosecond);

void BM_ReadRun3730(benchmark::State& state) {
    if (!ready(state)) return;
    for (auto _ : state) {
        kw::Run run;
        if (kw::readRun(k3730, run)) {
            state.SkipWithError("3730.ab1 could not be read");
            return;
        }
        benchmark::DoNotOptimize(run.rows.data());
    }
    state.SetBytesProcessed(state.iterations() * 299987);
}
BENCHMARK(BM_ReadRun3730)->Unit(benchmark::kMicrosecond);

}  // namespace
