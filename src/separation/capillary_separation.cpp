// A capillary's colour separation: learning a separation matrix from its own
// data, and refining the system matrix on it.
#include "common/sample_range.h"
#include "kwsignal/capillary.h"
#include "kwsignal/separation.h"

namespace {

void copyToFloats(const KwdbMatrix& m, int n, float** ssm) {
    for (int r = 0; r < n; ++r)
        for (int q = 0; q < n; ++q) ssm[r][q] = static_cast<float>(m(r, q));
}

}  // namespace

int KwCap::specSep(double tolerance, const char* fileName, float** ssm, double acceptFactor,
                   int useRobust) {
    // A window outside the samples is the caller's mistake: nothing is
    // learnt or changed.
    if (numTraces < 1 || !kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return 0;
    KwSpecSepTable learned(numTraces);
    // Learn on the body of the run: without its first 5 % and last 45 %.
    const int len = signalEndPnt - signalStartPnt;
    const int a = static_cast<int>(signalStartPnt + 0.05 * len);
    const int b = static_cast<int>(signalEndPnt - 0.45 * len);
    const int r = useRobust != 0
                      ? learned.setup1(*this, a, b, tolerance, acceptFactor, samplingRate)
                      : learned.setup(*this, a, b, tolerance, acceptFactor);
    if (r == 0) return 0;
    specSep(learned);
    if (fileName != nullptr) learned.output(fileName);
    if (ssm != nullptr) copyToFloats(learned, numTraces, ssm);
    return r;
}

int KwCap::specSep(double tolerance, double acceptFactor, float** ssm) {
    // The residual matrix travels through ssm, so there is nothing to refine
    // into without it.
    if (ssm == nullptr || numTraces < 1 || specSepTable == nullptr) return 0;
    KwCap preSeparated(*this);
    KwSpecSepTable damped(*specSepTable);
    // The share of the learned cross-talk kept for the first pass: a hair over
    // 0.8 as tuned, kept to the last digit since every separated sample
    // depends on it.
    constexpr double kKeptCrossTalk = 0.8000001;
    damped.damping(kKeptCrossTalk);
    preSeparated.specSep(damped);
    const int r = preSeparated.specSep(tolerance, nullptr, ssm, acceptFactor, 0);
    if (r == 0) return 0;

    // The residual at the precision it was handed over in, multiplied into
    // the undamped system matrix.
    KwSpecSepTable residual(numTraces);
    for (int row = 0; row < numTraces; ++row)
        for (int q = 0; q < numTraces; ++q) residual(row, q) = ssm[row][q];
    KwSpecSepTable refined(numTraces);
    refined.beProductOf(residual, *specSepTable);
    refined.normalizeXTalkMatrix();
    specSep(refined);
    copyToFloats(refined, numTraces, ssm);
    return r;
}
