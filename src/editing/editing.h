// Internals of the edit analysis shared by its source files.
#ifndef KWSIGNAL_SRC_EDITING_EDITING_H
#define KWSIGNAL_SRC_EDITING_EDITING_H

#include <array>
#include <string>
#include <vector>

#include "kwsignal/edit.h"
#include "kwsignal/run.h"

class KwCap;

namespace kw::detail {

using Heights = std::array<double, 4>;  // C, A, G, T

// A base of an edited allele that is not the control's own: its letter and
// the control base whose heights stand for it.
struct NewBase {
    int shape = 0;
    char letter = 'N';
};

// A candidate allele: the control's read with bases [start, start+deleted)
// replaced by `inserted`.
struct Candidate {
    std::string kind;
    int size = 0;
    int start = 0;
    int deleted = 0;
    std::vector<NewBase> inserted;
};

// The control base that base j of the allele copies, and the letter put
// there instead (0 when none); -1 beyond the read.
int sourceOf(const Candidate& c, int j, int readLength, char& letter);

// Every candidate of the analysis: the unedited read first, then the
// indels at each cut, the deletions between cuts and the donor's allele.
std::vector<Candidate> candidates(const std::string& read, const std::vector<kw::GuideSite>& sites,
                                  const std::string& donor, const kw::EditOptions& options,
                                  std::vector<std::string>& warnings);

// The allele's bases around its edit, new bases in lower case.
std::string alleleText(const std::string& read, const Candidate& c);

// The expected heights of base j of an allele, from the control's
// locally scaled heights. False beyond the read.
bool expectedHeights(const Candidate& c, int j, const std::string& read,
                     const std::vector<Heights>& control, Heights& out);

// Lawson-Hanson non-negative least squares on the normal equations:
// minimises x'Gx - 2g'x over x >= 0 (G k x k, row-major, positive
// semi-definite).
std::vector<double> nnlsNormal(const std::vector<double>& gram, const std::vector<double>& rhs,
                               int k);

// The system restricted to the columns in `set` (indices into the k x k
// gram and k-long rhs), solved unconstrained (Cholesky) or, with
// nonNegative, by nnlsNormal; one value per entry of set, in its order.
std::vector<double> solveRestricted(const std::vector<int>& set, const std::vector<double>& gram,
                                    const std::vector<double>& rhs, int k, bool nonNegative);

// Heights of each base over the running mean of the bases' summed heights
// (+-8 bases), so that a sample and its control compare whatever their
// signal strength.
std::vector<Heights> scaledHeights(const kw::BaseCalls& calls);

// The fit's normal equations, summed over blocks of consecutive bases so
// that a bootstrap can redraw whole blocks (neighbouring bases share their
// errors: a misplaced peak spoils a few bases at once).
struct BlockSystem {
    int k = 0;                              // candidates
    std::vector<std::vector<double>> gram;  // per block, k x k
    std::vector<std::vector<double>> rhs;   // per block, k
    std::vector<double> yy, ySum, rows;     // per block: sum y^2, sum y, rows
    // Which outcomes take part is chosen with each edited outcome's
    // coefficient charged this much (a share, 0..0.1) times its column's
    // weight; their shares are then refitted without the charge, so tiny
    // spurious shares drop out and the kept ones are not shrunk.
    double sparsity = 0.0;
};

// Adds one row (a base's channel) of the design to block b.
void addRow(BlockSystem& s, int b, const std::vector<double>& row, double y);

// The solution over all blocks and its R^2 (0 when nothing varies).
std::vector<double> fitAll(const BlockSystem& s, double& r2);

// Each block's residual sum of squares under the solution x over the
// system's total sum of squares about its mean: the blocks' shares of
// 1 - R^2 (all 0 when nothing varies).
std::vector<double> blockMisfits(const BlockSystem& s, const std::vector<double>& x);

// Percentile intervals of each candidate's share (and of 1 - the first
// candidate's, the edited share, as the last entry) over `replicates`
// draws of the blocks. low and high get k + 1 entries.
void bootstrapShares(const BlockSystem& s, int replicates, unsigned seed, double level,
                     std::vector<double>& low, std::vector<double>& high);

// The coefficients over their sum (all 0 when it is not positive).
std::vector<double> shares(const std::vector<double>& x);

// The q-quantile of the standard normal distribution (q in (0, 1)).
double normalQuantile(double q);

// One processed trace as the fit reads it: its capillary, its capillary
// samples per input-file sample, its dye offsets along the run and a
// further shift of each dye (input-file samples, C A G T) that registers
// it on another trace.
struct TraceView {
    const KwCap* cap = nullptr;
    double scale = 1.0;
    const std::vector<kw::MobilityPoint>* mobility = nullptr;
    std::array<double, 4> lag{{0.0, 0.0, 0.0, 0.0}};
};

// The four dyes of a trace at corrected time t (input-file samples), each
// at its own mobility-shifted time; 0 outside the run.
Heights traceAt(const TraceView& v, double t);

// Where a control time lies on the sample's time axis (both corrected
// times, input-file samples): a line a + b t, plus a residual interpolated
// between knots (control times, ascending; held flat beyond them) where
// the two runs' speeds drift apart along the read.
struct TimeWarp {
    double a = 0.0, b = 1.0;
    std::vector<double> knots, residual;
    double at(double t) const;
};

// Adds to the warp's line the drift the sample's own calls show over
// control bases [from, to): control base j runs with sample base j -
// offset whatever allele each holds (a pool's alleles run at one speed;
// only their letters differ), so the sample base's time less the line's,
// as a running median over 2 half + 1 bases so that a stray call does not
// count, is the residual at control base j.
void followSampleCalls(TimeWarp& warp, const kw::BaseCalls& control, const kw::BaseCalls& sample,
                       int offset, int from, int to, int half);

// Each dye's shift (input-file samples, within +-maxLag) that best lines
// the sample's trace, read at map.at(t), up with the control's over
// control bases [from, to), by the correlation of the two. A mixed read's
// own dye offsets are learnt from peaks of two sequences and can be off by
// a base or more; the stretch before the cut, identical in both, shows
// where each dye of the sample really lies. A dye whose correlation stays
// below minCorrelation (0..1) keeps a shift of 0.
std::array<double, 4> registerDyes(const kw::BaseCalls& calls, const TraceView& control,
                                   const TraceView& sample, const TimeWarp& map, int from, int to,
                                   double maxLag, double minCorrelation);

// How an allele's trace follows from the control's (input-file samples):
// before `from` it is the control's own; from `replacedUntil` on it is the
// control's at t + shift; between the two (a donor's new bases) each new
// base takes its shape base's signal.
struct ShiftedAllele {
    double from = 0.0;
    double replacedUntil = 0.0;
    double shift = 0.0;
};
ShiftedAllele shiftedAllele(const Candidate& c, const kw::BaseCalls& control);

// The four dyes the allele is expected to show at corrected time t.
Heights expectedAt(const Candidate& c, const ShiftedAllele& a, const TraceView& control,
                   const kw::BaseCalls& calls, const std::string& read, double t);

// The control's side of the fit on the traces, which every placing of the
// sample and every pass shares: over control bases [fitStart, fitEnd), a
// few points per base, each candidate's expected dye over the control's
// intensity there (one scale: the mean of its summed dyes per base), and the blocks' Gram matrices
// of those rows.
struct TraceDesign {
    int k = 0, fitStart = 0, fitEnd = 0, block = 1;
    std::vector<ShiftedAllele> alleles;
    double cMean = 0.0;                     // the control's intensity over the fitted bases
    std::vector<char> shown;                // per fitted base: the control shows signal there
    std::vector<double> times;              // per fitted base and point: its time
    std::vector<double> rows;               // per fitted base, point and dye: k values
    std::vector<std::vector<double>> gram;  // per block, over the bases shown
};
TraceDesign traceDesign(const std::vector<Candidate>& cands, const kw::BaseCalls& calls,
                        const std::string& read, const TraceView& control, int fitStart, int fitEnd,
                        int block);

// The fit's system on the traces: each dye of the sample (read at
// map.at(t)) against the design's rows, both over their intensity over the fitted bases.
// shares (one per candidate, any scale; empty: the unedited allele alone)
// are a first fit's: the sample is scaled by the intensity of the
// mixture they make rather than the control's at the same time.
void fillTraceSystem(const TraceDesign& design, const std::vector<Candidate>& cands,
                     const kw::BaseCalls& calls, const std::string& read, const TraceView& control,
                     const TraceView& sample, const TimeWarp& map,
                     const std::vector<double>& shares, BlockSystem& sys);

// alignReads with the letters of `alphabet` scoring a match on themselves
// (the others mismatch everything).
kw::ReadAlignment alignLetters(const std::string& a, const std::string& b, const char* alphabet);

// Index of a letter among C, A, G, T; -1 for any other.
int channelOf(char base);

}  // namespace kw::detail

#endif
