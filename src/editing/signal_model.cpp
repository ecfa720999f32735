// The fit on the processed traces themselves: each outcome's expected
// signal is the control's trace, shifted in time after the cut by the
// length of what the edit removed or added.
#include <algorithm>
#include <cmath>
#include <limits>

#include "common/quantile.h"
#include "editing/editing.h"
#include "kwsignal/capillary.h"
#include "kwsignal/trace.h"

namespace kw::detail {

namespace {

constexpr int kPointsPerBase = 3;  // trace values read per base and dye

// The dye offsets of a run at input-file sample t (interpolated between
// its mobility points).
std::array<double, 4> offsetsAt(const std::vector<kw::MobilityPoint>& m, double t) {
    if (m.empty()) return {{0.0, 0.0, 0.0, 0.0}};
    if (t <= m.front().position) return m.front().offset;
    if (t >= m.back().position) return m.back().offset;
    const auto it = std::lower_bound(
        m.begin(), m.end(), t, [](const kw::MobilityPoint& p, double v) { return p.position < v; });
    const kw::MobilityPoint& hi = *it;
    const kw::MobilityPoint& lo = *(it - 1);
    const double f = (t - lo.position) / std::max(1e-9, hi.position - lo.position);
    std::array<double, 4> out{};
    for (size_t c = 0; c < 4; ++c) out[c] = (1.0 - f) * lo.offset[c] + f * hi.offset[c];
    return out;
}

double valueAt(const KwCap& cap, int dye, double pos) {
    const int n = cap.getNumData();
    if (n < 2 || !(pos >= 0.0) || !(pos <= n - 1)) return 0.0;
    const double* x = cap.getPnterToTrace(dye)->getData();
    const int i = std::min(n - 2, static_cast<int>(pos));
    const double f = pos - i;
    const double v = (1.0 - f) * x[i] + f * x[i + 1];
    return std::isfinite(v) ? v : 0.0;
}

double positionOf(const kw::BaseCalls& calls, int i) {
    const int n = static_cast<int>(calls.bases.size());
    return calls.bases[static_cast<size_t>(std::clamp(i, 0, n - 1))].correctedPosition;
}

// The time between bases i-1 and i.
double boundaryOf(const kw::BaseCalls& calls, int i) {
    return 0.5 * (positionOf(calls, i - 1) + positionOf(calls, i));
}

// A trace's intensity over the fitted bases [from, to): the mean of the
// four dyes' summed heights at each base's time (`at(time)` giving them)
// over the bases where it shows any (past a trace's end it shows none).
// One scale for the whole window: a running mean over a few bases follows
// the sequence (a stretch of weak G after A) as much as the run, and a
// pool's mean there follows its alleles' sequences, not the control's.
template <class HeightsAt>
double windowIntensity(const kw::BaseCalls& calls, int from, int to, HeightsAt at) {
    double sum = 0.0;
    int shown = 0;
    for (int i = from; i < to; ++i) {
        const Heights h = at(positionOf(calls, i));
        const double v = h[0] + h[1] + h[2] + h[3];
        sum += v;
        shown += v > 0.0;
    }
    return shown > 0 ? sum / shown : 0.0;
}

// Whether a trace shows nothing at any of a base's points (times t0..t1).
template <class HeightsAt>
bool blankBase(double t0, double t1, HeightsAt at) {
    for (int p = 0; p < kPointsPerBase; ++p) {
        const Heights h = at(t0 + (t1 - t0) * (p + 0.5) / kPointsPerBase);
        if (h[0] + h[1] + h[2] + h[3] > 0.0) return false;
    }
    return true;
}

}  // namespace

Heights traceAt(const TraceView& v, double t) {
    const std::array<double, 4> off = offsetsAt(*v.mobility, t);
    Heights h{};
    for (int c = 0; c < 4; ++c)
        h[static_cast<size_t>(c)] = std::max(
            0.0,
            valueAt(*v.cap, c,
                    (t + off[static_cast<size_t>(c)] + v.lag[static_cast<size_t>(c)]) * v.scale));
    return h;
}

double TimeWarp::at(double t) const {
    const double line = a + b * t;
    if (knots.empty()) return line;
    if (t <= knots.front()) return line + residual.front();
    if (t >= knots.back()) return line + residual.back();
    const size_t i =
        static_cast<size_t>(std::upper_bound(knots.begin(), knots.end(), t) - knots.begin());
    const double f = (t - knots[i - 1]) / std::max(1e-9, knots[i] - knots[i - 1]);
    return line + (1.0 - f) * residual[i - 1] + f * residual[i];
}

void followSampleCalls(TimeWarp& warp, const kw::BaseCalls& control, const kw::BaseCalls& sample,
                       int offset, int from, int to, int half) {
    const int nc = static_cast<int>(control.bases.size()),
              ns = static_cast<int>(sample.bases.size());
    std::vector<double> t, raw;
    for (int j = std::max(0, from); j < std::min(nc, to); ++j) {
        const int i = j - offset;
        if (i < 0 || i >= ns) continue;
        const double tc = control.bases[static_cast<size_t>(j)].correctedPosition;
        if (!t.empty() && !(tc > t.back())) continue;
        t.push_back(tc);
        raw.push_back(sample.bases[static_cast<size_t>(i)].correctedPosition - warp.a -
                      warp.b * tc);
    }
    if (t.size() < static_cast<size_t>(2 * half + 1)) return;
    warp.knots = t;
    warp.residual.assign(t.size(), 0.0);
    const int n = static_cast<int>(t.size());
    for (int k = 0; k < n; ++k) {
        const int lo = std::max(0, std::min(k - half, n - 2 * half - 1));
        warp.residual[static_cast<size_t>(k)] =
            median(std::vector<double>(raw.begin() + lo, raw.begin() + lo + 2 * half + 1));
    }
}

namespace {

// Pearson correlation of two equally long series; 0 when either is flat.
double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const double n = static_cast<double>(a.size());
    double sa = 0.0, sb = 0.0, saa = 0.0, sbb = 0.0, sab = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        sa += a[i], sb += b[i], saa += a[i] * a[i], sbb += b[i] * b[i], sab += a[i] * b[i];
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    return va > 0.0 && vb > 0.0 ? (sab - sa * sb / n) / std::sqrt(va * vb) : 0.0;
}

}  // namespace

std::array<double, 4> registerDyes(const kw::BaseCalls& calls, const TraceView& control,
                                   const TraceView& sample, const TimeWarp& map, int from, int to,
                                   double maxLag, double minCorrelation) {
    constexpr int kPoints = 6;  // points per base: finer than the fit, the peaks' flanks count
    std::array<double, 4> lags{{0.0, 0.0, 0.0, 0.0}};
    std::vector<double> times;
    for (int j = from; j < to; ++j) {
        const double t0 = boundaryOf(calls, j), t1 = boundaryOf(calls, j + 1);
        for (int p = 0; p < kPoints; ++p) times.push_back(t0 + (t1 - t0) * (p + 0.5) / kPoints);
    }
    if (times.size() < 2 || !(maxLag > 0.0)) return lags;
    std::array<std::vector<double>, 4> ref;
    for (double t : times) {
        const Heights h = traceAt(control, t);
        for (size_t c = 0; c < 4; ++c) ref[c].push_back(h[c]);
    }
    const int steps = static_cast<int>(std::ceil(maxLag));
    std::array<std::vector<double>, 4> score;
    std::array<std::vector<double>, 4> moved;
    for (int s = -steps; s <= steps; ++s) {
        for (auto& m : moved) m.clear();
        for (double t : times) {
            const Heights h = traceAt(sample, map.at(t) + s);
            for (size_t c = 0; c < 4; ++c) moved[c].push_back(h[c]);
        }
        for (size_t c = 0; c < 4; ++c) score[c].push_back(correlation(ref[c], moved[c]));
    }
    for (size_t c = 0; c < 4; ++c) {
        const std::vector<double>& v = score[c];
        const size_t best = static_cast<size_t>(std::max_element(v.begin(), v.end()) - v.begin());
        if (!(v[best] >= minCorrelation)) continue;
        double at = static_cast<double>(best) - steps;
        // The peak of the correlation between the samples either side.
        if (best > 0 && best + 1 < v.size()) {
            const double d = v[best - 1] - 2.0 * v[best] + v[best + 1];
            if (d < 0.0) at += std::clamp(0.5 * (v[best - 1] - v[best + 1]) / d, -0.5, 0.5);
        }
        lags[c] = at;
    }
    return lags;
}

ShiftedAllele shiftedAllele(const Candidate& c, const kw::BaseCalls& control) {
    ShiftedAllele a;
    a.from = boundaryOf(control, c.start);
    const int n = static_cast<int>(c.inserted.size());
    if (c.kind == "wildtype") {
        a.from = std::numeric_limits<double>::infinity();
    } else if (c.kind == "insertion") {
        // The duplicated bases follow the cut: the trace from the cut on
        // is the control's, late by the duplicated stretch.
        a.shift = boundaryOf(control, c.start - n) - a.from;
    } else if (n == 0) {
        a.shift = boundaryOf(control, c.start + c.deleted) - a.from;
    } else {
        // A donor's allele: its new bases take their shapes' times, the
        // rest resumes after them.
        a.replacedUntil = boundaryOf(control, c.start + n);
        a.shift = positionOf(control, c.start + c.deleted) - positionOf(control, c.start + n);
    }
    return a;
}

Heights expectedAt(const Candidate& c, const ShiftedAllele& a, const TraceView& control,
                   const kw::BaseCalls& calls, const std::string& read, double t) {
    if (t < a.from) return traceAt(control, t);
    if (t >= a.replacedUntil) return traceAt(control, t + a.shift);
    // Within a donor's new bases: the shape base's signal, its called dye's
    // height moved to the new letter's dye.
    const double spacing = std::max(1e-6, boundaryOf(calls, c.start + 1) - a.from);
    const int k = std::clamp(static_cast<int>((t - a.from) / spacing), 0,
                             static_cast<int>(c.inserted.size()) - 1);
    const NewBase& b = c.inserted[static_cast<size_t>(k)];
    const double within = t - (a.from + k * spacing);
    Heights h = traceAt(control, boundaryOf(calls, b.shape) + within);
    const int from = channelOf(read[static_cast<size_t>(b.shape)]);
    const int to = channelOf(b.letter);
    if (b.letter && from >= 0 && to >= 0 && from != to) {
        h[static_cast<size_t>(to)] += h[static_cast<size_t>(from)];
        h[static_cast<size_t>(from)] = 0.0;
    }
    return h;
}

namespace {

// Adds row's outer product to the upper triangle of the k x k matrix g.
void addUpper(std::vector<double>& g, const double* row, int k) {
    for (int i = 0; i < k; ++i) {
        const double ri = row[i];
        if (ri == 0.0) continue;
        double* gi = g.data() + static_cast<size_t>(i) * static_cast<size_t>(k);
        for (int j = i; j < k; ++j) gi[j] += ri * row[j];
    }
}

void mirrorUpper(std::vector<double>& g, int k) {
    for (int i = 0; i < k; ++i)
        for (int j = i + 1; j < k; ++j)
            g[static_cast<size_t>(j * k + i)] = g[static_cast<size_t>(i * k + j)];
}

// One block's Gram matrix over its bases [j0, j1) whose `use` is set
// (indexed from the design's fitStart).
std::vector<double> blockGram(const TraceDesign& d, int j0, int j1, const std::vector<char>& use) {
    const size_t perBase = static_cast<size_t>(kPointsPerBase) * 4 * static_cast<size_t>(d.k);
    std::vector<double> g(static_cast<size_t>(d.k) * static_cast<size_t>(d.k), 0.0);
    for (int j = j0; j < j1; ++j) {
        const size_t at = static_cast<size_t>(j - d.fitStart);
        if (!use[at]) continue;
        for (int r = 0; r < kPointsPerBase * 4; ++r)
            addUpper(g, d.rows.data() + at * perBase + static_cast<size_t>(r * d.k), d.k);
    }
    mirrorUpper(g, d.k);
    return g;
}

}  // namespace

TraceDesign traceDesign(const std::vector<Candidate>& cands, const kw::BaseCalls& calls,
                        const std::string& read, const TraceView& control, int fitStart, int fitEnd,
                        int block) {
    TraceDesign d;
    d.k = static_cast<int>(cands.size());
    d.fitStart = fitStart;
    d.fitEnd = std::max(fitStart, fitEnd);
    d.block = std::max(1, block);
    for (const Candidate& c : cands) d.alleles.push_back(shiftedAllele(c, calls));
    d.cMean =
        windowIntensity(calls, d.fitStart, d.fitEnd, [&](double t) { return traceAt(control, t); });
    const double cm = d.cMean;
    const int bases = d.fitEnd - d.fitStart;
    const size_t k = static_cast<size_t>(d.k);
    d.times.assign(static_cast<size_t>(bases) * kPointsPerBase, 0.0);
    d.rows.assign(d.times.size() * 4 * k, 0.0);
    d.shown.assign(static_cast<size_t>(bases), 0);
    std::vector<char>& use = d.shown;
    for (int j = d.fitStart; j < d.fitEnd; ++j) {
        const size_t at = static_cast<size_t>(j - d.fitStart);
        const double t0 = boundaryOf(calls, j), t1 = boundaryOf(calls, j + 1);
        use[at] = cm > 0.0 && !blankBase(t0, t1, [&](double t) { return traceAt(control, t); });
        for (int p = 0; p < kPointsPerBase; ++p) {
            const size_t point = at * kPointsPerBase + static_cast<size_t>(p);
            const double t = t0 + (t1 - t0) * (p + 0.5) / kPointsPerBase;
            d.times[point] = t;
            if (!use[at]) continue;
            for (size_t q = 0; q < k; ++q) {
                const Heights e = expectedAt(cands[q], d.alleles[q], control, calls, read, t);
                for (size_t c = 0; c < 4; ++c) d.rows[(point * 4 + c) * k + q] = e[c] / cm;
            }
        }
    }
    for (int j0 = d.fitStart; j0 < d.fitEnd; j0 += d.block)
        d.gram.push_back(blockGram(d, j0, std::min(d.fitEnd, j0 + d.block), use));
    return d;
}

void fillTraceSystem(const TraceDesign& d, const std::vector<Candidate>& cands,
                     const kw::BaseCalls& calls, const std::string& read, const TraceView& control,
                     const TraceView& sample, const TimeWarp& map,
                     const std::vector<double>& shares, BlockSystem& sys) {
    const size_t k = static_cast<size_t>(d.k);
    const double cm = d.cMean;
    const double sm = windowIntensity(calls, d.fitStart, d.fitEnd,
                                      [&](double t) { return traceAt(sample, map.at(t)); });
    // The sample's intensity is that of the alleles it holds, each the
    // control's signal from its own stretch of the run: with shares from a
    // first fit, the sample is brought to the control's scale by their
    // mixture's intensity, not the control's own over the same bases.
    double mixMean = 0.0, shareSum = 0.0;
    for (size_t q = 0; q < shares.size() && q < cands.size(); ++q) {
        if (!(shares[q] > 0.0)) continue;
        mixMean += shares[q] * windowIntensity(calls, d.fitStart, d.fitEnd, [&](double t) {
                       return expectedAt(cands[q], d.alleles[q], control, calls, read, t);
                   });
        shareSum += shares[q];
    }
    const double mix = mixMean / std::max(shareSum, 1e-300);
    const double toControl = shareSum > 0.0 && mix > 0.0 && cm > 0.0 ? mix / cm : 1.0;
    sys.k = d.k;
    const size_t blocks = d.gram.size();
    sys.gram = d.gram;
    sys.rhs.assign(blocks, std::vector<double>(k, 0.0));
    sys.yy.assign(blocks, 0.0);
    sys.ySum = sys.rows = sys.yy;
    // Bases the control reads but the sample shows nothing at drop out of
    // their block's Gram matrix too.
    std::vector<char> use(static_cast<size_t>(d.fitEnd - d.fitStart), 0);
    std::vector<char> changed(blocks, 0);
    for (int j = d.fitStart; j < d.fitEnd; ++j) {
        const size_t at = static_cast<size_t>(j - d.fitStart),
                     b = at / static_cast<size_t>(d.block);
        if (!d.shown[at]) continue;
        if (!(sm > 0.0) || blankBase(boundaryOf(calls, j), boundaryOf(calls, j + 1),
                                     [&](double t) { return traceAt(sample, map.at(t)); })) {
            changed[b] = 1;
            continue;
        }
        use[at] = 1;
        std::vector<double>& rhs = sys.rhs[b];
        for (int p = 0; p < kPointsPerBase; ++p) {
            const size_t point = at * kPointsPerBase + static_cast<size_t>(p);
            const Heights y = traceAt(sample, map.at(d.times[point]));
            for (size_t c = 0; c < 4; ++c) {
                const double v = toControl * y[c] / sm;
                const double* row = d.rows.data() + (point * 4 + c) * k;
                for (size_t q = 0; q < k; ++q)
                    if (row[q] != 0.0) rhs[q] += row[q] * v;
                sys.yy[b] += v * v;
                sys.ySum[b] += v;
                sys.rows[b] += 1.0;
            }
        }
    }
    for (size_t b = 0; b < blocks; ++b) {
        if (!changed[b]) continue;
        const int j0 = d.fitStart + static_cast<int>(b) * d.block;
        sys.gram[b] = blockGram(d, j0, std::min(d.fitEnd, j0 + d.block), use);
    }
}

}  // namespace kw::detail
