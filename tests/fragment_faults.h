// Simulated GS500 fragment runs under the faults real runs show, shared by
// the fragment tests and the hard-run table in scripts/.
#ifndef KWSIGNAL_TESTS_FRAGMENT_FAULTS_H
#define KWSIGNAL_TESTS_FRAGMENT_FAULTS_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "kwsignal/fragments.h"
#include "kwsignal/simulate.h"
#include "synthetic.h"

namespace kwtest {

// The fragment lengths of a known size standard (bp); empty when unknown.
inline const std::vector<double>& sizesOf(const char* name) {
    for (const kw::SizeStandard& s : kw::sizeStandards())
        if (std::string(s.name) == name) return s.sizesBp;
    static const std::vector<double> none;
    return none;
}

// The simulated run as the fragment road reads it.
inline kw::FragmentRun runOf(const kw::SimulatedFragmentRun& sim) {
    kw::FragmentRun r;
    r.dyes = sim.dyes;
    r.names = sim.names;
    r.rate = sim.rate;
    return r;
}

// One fault of a GS500 ladder run.
struct FragmentFault {
    std::vector<double> missing, extra;  ///< fragments left out, peaks added (bp)
    double stopBp = 0.0;                 ///< the run stops here (bp); 0 runs to the end
    double height = 1500.0;              ///< the standard's peak height (counts)
    double offScaleAtBp = 0.0;           ///< a clipped product of the next dye here (bp); 0 none
    /// Scans per bp against a 3500-class run (an older instrument runs
    /// fewer), and the share of each dye its neighbours see.
    double mobility = 1.0, pullup = 0.06;
};

// The run of fault f in the four-dye ROX layout (0) or the five-dye LIZ
// layout (1), with the standard in the last dye.
inline kw::SimulatedFragmentRun simulateFault(const FragmentFault& f, int layout, uint32_t seed) {
    kw::FragmentSimulationOptions o;
    o.seed = seed;
    o.dyes = layout == 0 ? 4 : 5;
    o.standardDye = o.dyes - 1;
    o.standardDyeName = layout == 0 ? "ROX" : "LIZ";
    o.standardBp = sizesOf("GS500");
    o.missingBp = f.missing;
    o.extraBp = f.extra;
    o.stopBp = f.stopBp;
    o.standardHeight = f.height;
    o.mobility = f.mobility;
    o.pullup = f.pullup;
    kw::SimulatedFragmentRun sim = kw::simulateFragmentRun(o);
    if (f.offScaleAtBp > 0.0) {
        // A product of the neighbouring dye far off scale: clipped in its
        // own dye, its light leaks into the standard's.
        const double at = sim.scanOf(f.offScaleAtBp);
        std::vector<double>& own = sim.dyes[static_cast<std::size_t>(o.standardDye - 1)];
        addGaussian(own, at, 80000.0, 3.0);
        for (double& v : own) v = std::min(v, 32767.0);
        addGaussian(sim.dyes[static_cast<std::size_t>(o.standardDye)], at, o.pullup * 80000.0, 3.0);
    }
    return sim;
}

}  // namespace kwtest

#endif
