// The largest or smallest of a run of samples, sought in four lanes.
#ifndef KWSIGNAL_SRC_COMMON_EXTREMES_H
#define KWSIGNAL_SRC_COMMON_EXTREMES_H

namespace kw::detail {

/// What the loop `best = start; for each x[i]: if (x[i] OP best) best =
/// x[i]` leaves, OP being > (largest) or < (smallest), over x[0..n-1]
/// (none for n <= 0): a NaN is never taken, and a NaN start stays. Each
/// lane waits for the comparison four samples before, not the one before,
/// and the lanes compile to minimum or maximum instructions. Which of
/// several equal samples is kept does not depend on the order except for
/// the sign of a zero, so a zero result is sought again in order.
template <bool largest>
double extremeFrom(const double* x, int n, double start) {
    auto better = [](double v, double best) { return largest ? v > best : v < best; };
    double lane[4] = {start, start, start, start};
    int i = 0;
    for (; i + 3 < n; i += 4)
        for (int u = 0; u < 4; ++u) lane[u] = better(x[i + u], lane[u]) ? x[i + u] : lane[u];
    double best = lane[0];
    for (int u = 1; u < 4; ++u) best = better(lane[u], best) ? lane[u] : best;
    for (; i < n; ++i) best = better(x[i], best) ? x[i] : best;
    if (best == 0.0) {
        best = start;
        for (int k = 0; k < n; ++k)
            if (better(x[k], best)) best = x[k];
    }
    return best;
}

}  // namespace kw::detail

#endif
