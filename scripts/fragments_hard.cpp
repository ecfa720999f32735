// Simulated GS500 runs under the faults real runs show, in the four-dye
// ROX and five-dye LIZ layouts, and how the fragment road fares on each
// (not installed).
//
//     fragments_hard [SEEDS [-v]]      (SEEDS per layout, 20 by default)
//
// A run is right when every standard peak it identifies lies on its own
// fragment (within 0.8 bp: pull-up merged into a standard peak shifts it
// by under a base), wrong otherwise; `ok` and `low` are its status, and
// refused means nothing was sized. Prints one row a fault; -v also prints
// every run sized wrong, with its margin and last warning.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fragment_faults.h"
#include "kwsignal/fragments.h"
#include "kwsignal/simulate.h"

namespace {

struct Fault {
    const char* name;
    kwtest::FragmentFault fault;
};

// Length of a scan on the simulated run's mobility curve.
double bpOf(const kw::SimulatedFragmentRun& sim, double scan) {
    const double u = (scan - 1200.0) / sim.mobility;
    return (14.0 - std::sqrt(196.0 - 4.0 * 0.0045 * u)) / (2.0 * 0.0045);
}

// The identified standard peaks not on their own fragment, as "LEN@BP".
std::string misplaced(const kw::SimulatedFragmentRun& sim, const kw::FragmentResult& r) {
    std::string out;
    for (const kw::FragmentPeak& p : r.peaks) {
        if (p.isStandard == kw::StandardRole::none) continue;
        const double perBp = sim.scanOf(p.standardBp + 0.5) - sim.scanOf(p.standardBp - 0.5);
        if (p.dye != sim.standardDye ||
            std::fabs(p.scan - sim.scanOf(p.standardBp)) > 0.8 * perBp) {
            char b[48];
            std::snprintf(b, sizeof b, " %g@%.1fbp", p.standardBp, bpOf(sim, p.scan));
            out += b;
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const bool verbose = argc > 2 && std::strcmp(argv[2], "-v") == 0;
    const std::vector<Fault> faults = {
        {"one fragment missing", {{300}, {}, 0, 1500, 0}},
        {"a stray peak", {{}, {175}, 0, 1500, 0}},
        {"-1 bp satellites", {{}, {199, 349}, 0, 1500, 0}},
        {"stopped after 400 bp", {{}, {}, 420, 1500, 0}},
        {"stopped at 300, 160 missing", {{160}, {}, 320, 1500, 0}},
        {"weak (300 counts)", {{}, {}, 0, 300, 0}},
        {"weak (250) with a satellite", {{}, {299}, 0, 250, 0}},
        {"off-scale pull-up", {{}, {}, 0, 1500, 225}},
        {"off-scale pull-up, weak", {{}, {}, 0, 400, 120}},
        {"older run", {{}, {}, 0, 400, 0, 0.5, 0.15}},
        {"older run pushed further", {{300}, {}, 420, 400, 0, 4.5 / 14, 0.20}},
        {"40 % pull-up, 150 counts", {{}, {}, 0, 150, 0, 1.0, 0.40}},
        {"50 % pull-up, 150 counts", {{}, {}, 0, 150, 0, 1.0, 0.50}},
    };
    std::printf("%-30s %8s %8s %8s %9s %7s\n", "fault", "right ok", "wrong ok", "low right",
                "low wrong", "refused");
    for (const Fault& f : faults) {
        int counts[5] = {};
        for (int layout = 0; layout < 2; ++layout)
            for (int seed = 1; seed <= seeds; ++seed) {
                const kw::SimulatedFragmentRun sim =
                    kwtest::simulateFault(f.fault, layout, static_cast<uint32_t>(seed));
                const kw::FragmentResult r =
                    kw::analyseFragments(kwtest::runOf(sim), kw::FragmentOptions());
                const bool ok = r.status == kw::SizingStatus::sized;
                const bool low = r.status == kw::SizingStatus::lowConfidence;
                const std::string bad = misplaced(sim, r);
                const int kind = !ok && !low ? 4 : (ok ? 0 : 2) + (bad.empty() ? 0 : 1);
                ++counts[kind];
                if (verbose && (kind == 1 || kind == 3))
                    std::printf("  %s, %s seed %d: %s margin %.2f %s%s | %s\n", f.name,
                                layout == 0 ? "ROX" : "LIZ", seed, kw::sizingStatusName(r.status),
                                r.assignmentMargin, r.standard.c_str(), bad.c_str(),
                                r.warnings.empty() ? "" : r.warnings.back().c_str());
            }
        std::printf("%-30s %8d %8d %8d %9d %7d\n", f.name, counts[0], counts[1], counts[2],
                    counts[3], counts[4]);
    }
    return 0;
}
