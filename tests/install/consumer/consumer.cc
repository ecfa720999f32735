// Builds against the installed headers and library alone: a capillary by
// hand, and the whole road on a simulated run, so a broken install or a
// symbol the package forgot to export fails loudly.
#include <kwsignal/kwsignal.h>

#include <cstdio>

int main() {
    double a[3] = {1.0, 2.0, 3.0};
    double b[3] = {10.0, 20.0, 30.0};
    double* rows[2] = {a, b};
    KwCap cap(2, 3, rows, 3.0);
    if (cap.getNumTraces() != 2 || cap(1, 2) != 30.0) {
        std::puts("consumer: unexpected capillary contents");
        return 1;
    }
    kw::SimulationOptions o;
    o.bases = 120;
    const kw::SimulatedCapillary sim = kw::simulateCapillary(o);
    kw::ProcessResult result;
    if (kw::process(kw::simulatedRun(sim), kw::ProcessOptions(), result) ||
        result.status != kw::RunStatus::ok || result.peaks.size() < 100) {
        std::puts("consumer: the road found too little on a simulated run");
        return 1;
    }
    std::puts("consumer: ok");
    return 0;
}
