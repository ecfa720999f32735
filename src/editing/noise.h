// How rare a value is among the noise of the same trace.
#ifndef KWSIGNAL_SRC_EDITING_NOISE_H
#define KWSIGNAL_SRC_EDITING_NOISE_H

#include <vector>

namespace kw::detail {

// The chance that noise reaches x: the share of noise values >= x (plus
// one, as if x were among them), and beyond the noise's top decile an
// exponential tail fitted to the values above it, so that values beyond all
// the noise still get a finite, ordered probability. noise: sorted
// ascending; an empty noise gives 1.
double tailProbability(const std::vector<double>& noise, double x);

// -10 log10 p, 0..99.
int phred(double p);

}  // namespace kw::detail

#endif
