// Base calling: from the fitted peaks of a processed sequencing run to called
// bases with Phred quality values, and the files sequencing users exchange
// (FASTQ, FASTA, SCF version 3, a per-base table).
//
//     kw::CallInputs in;
//     in.windowStart = start; in.windowEnd = end;   // signal window
//     in.spacing = spacing;                          // samples per base
//     kw::BaseCalls calls = kw::callBases(processed, peaks, in, kw::CallOptions());
//     std::string fastq = kw::fastqRecord(calls, "sample");
//
// The caller works in four steps:
//  1. dye mobility: each dye's peaks run slightly early or late against the
//     others, by an amount that drifts slowly along the run. The shift of
//     each dye that makes the merged train of strong peaks most evenly
//     spaced is found in overlapping windows, fitted smoothly along the run
//     and bounded to a base spacing (over the first hundred bases two dyes
//     can run most of a spacing apart each way);
//  2. spacing: the local base spacing as a smooth function along the run,
//     the spacing whose whole multiples the gaps between strong peaks fit;
//  3. calls: the corrected peaks are matched to an evenly spaced train of
//     bases by dynamic programming: a peak may be left out as extra, a broad
//     hump holds as many bases as its width says (runs of one letter), two
//     peaks of one dye closer than a spacing are seldom two bases, and an
//     empty slot is filled by the letter of a peak left out beside it, else
//     by the strongest dye there; where no dye shows, by the run's rarest
//     dye (its QV says how little that is worth);
//  4. quality: features that predict errors (spacing regularity around the
//     base and right beside it, uncalled against called peaks nearby, the
//     secondary dye, height and width against the neighbours, bases read
//     from one broad hump) give an error probability through a model
//     fitted on real traces against the instrument's own calls.
//
// Everything is a value: no global state, safe on many threads at once.
// Bad input (no peaks, NaN heights, one trace, no spacing) gives an empty
// result, never a crash.
#ifndef KWSIGNAL_BASECALL_H
#define KWSIGNAL_BASECALL_H

#include <array>
#include <string>
#include <vector>

#include "kwsignal/export.h"

class KwCap;
class KwPeak;

namespace kw {

/// Highest quality value the caller gives (an error probability of 1e-6).
/// Quality values beyond the training data's resolution would be claims,
/// not measurements.
constexpr int kMaxCallQv = 60;

/// What the road measured on the run, in capillary samples (the samples of
/// the processed KwCap).
struct CallInputs {
    int windowStart = 0;  ///< first sample of the signal window, >= 0
    int windowEnd = 0;    ///< last sample of the signal window, >= windowStart
    /// Measured samples from one base to the next (the road's spacing);
    /// 1 .. half the window, otherwise no base is called.
    double spacing = 0.0;
    /// Capillary samples per sample of the input file: 3 where 1 Hz data
    /// were brought to 3 Hz on reading, else 1. Positions in BaseCall are
    /// divided by it. > 0 (other values are taken as 1).
    double coordinateScale = 1.0;
    /// The run's channels before sharpening (ProcessResult::separated), one
    /// row per trace code, capillary samples; null or empty when there are
    /// none. The caller reads the letter of a base no fitted peak shows
    /// there. Must outlive the call.
    const std::vector<std::vector<double>>* separated = nullptr;
};

struct CallOptions {
    /// Mixed bases: 0 (default) calls pure bases only. 0 < r <= 1 calls the
    /// IUPAC code of the two dyes when the secondary dye reaches r times the
    /// primary at the base; such a call keeps the QV the pure call would
    /// have had, capped at kMixedQv (a mixed position is never certain).
    double mixedRatio = 0.0;
    /// Error probability cutoff of the modified Mott trimming, 0 < c < 1;
    /// 0.05 by default.
    double trimCutoff = 0.05;
};

/// Highest QV a mixed (IUPAC) call gets.
constexpr int kMixedQv = 20;

/// How a base was found (the numbers are those of earlier releases).
enum class BaseOrigin {
    peak = 0,    ///< a fitted peak
    hump = 1,    ///< one of several bases of a broad hump (a run of one letter)
    filled = 2,  ///< an empty slot filled from the channels
};

/// One called base.
struct BaseCall {
    /// The base: A, C, G, T, N, or an IUPAC code when mixed bases are on.
    char base = 'N';
    /// Phred quality, 0..kMaxCallQv: -10 log10 P(the base is wrong).
    int qv = 0;
    /// Where the base's peak lies, in samples of the input file (capillary
    /// samples / coordinateScale), fractional.
    double position = 0.0;
    /// The same after the dye's mobility offset was taken out: the position
    /// on the common time axis the bases are ordered by.
    double correctedPosition = 0.0;
    /// The strongest other dye at the base (A, C, G or T; N when no other
    /// dye shows) and its height over the called dye's there, on the
    /// processed channels or, where it is higher, as a peak of its own at
    /// the base on the channels before sharpening (where a second sequence
    /// under the read still shows; each dye on the scale of its own bases
    /// near by): usually 0..1,
    /// above 1 where the called dye is not the strongest at the base (a
    /// filled slot, or a peak read under a neighbour's taller tail).
    char secondary = 'N';
    double secondaryRatio = 0.0;
    /// The four processed channels at the corrected position, in trace-code
    /// order C, A, G, T, sample units of the processed capillary.
    std::array<double, 4> heights{{0.0, 0.0, 0.0, 0.0}};
    /// How the base was found.
    BaseOrigin origin = BaseOrigin::peak;
};

/// A dye's mobility offset at one point of the run.
struct MobilityPoint {
    double position = 0.0;  ///< input-file samples (uncorrected axis)
    /// Samples of the input file to subtract from the dye's peak positions,
    /// per trace code C, A, G, T (their mean is 0).
    std::array<double, 4> offset{{0.0, 0.0, 0.0, 0.0}};
};

/// Where a read turns into two overlapping sequences (an edited pool, a
/// heterozygous indel, a mixed template): from the onset on, a second dye
/// stands under most bases of the kept read. The bases from the onset on
/// are still the major sequence's, each with the QV observed over such
/// stretches for bases of its clean-read QV (qvOverMixture); the onset is
/// found on the clean-read QVs, and the lower ones may end the trimmed read
/// at the onset.
/// Which test found a mixture: `share`, the share of bases carrying a
/// second dye steps up; `rise`, only the second dyes' median ratio rises
/// (a weaker second sequence).
enum class MixtureTest { share, rise };

struct Mixture {
    bool found = false;
    MixtureTest test = MixtureTest::share;
    int onsetBase = 0;         ///< index of the first mixed base
    double onsetSample = 0.0;  ///< its position, input-file samples
    /// Mean secondary ratio (each capped at 1) from the onset to the end of
    /// the kept read, 0..1.
    double meanSecondaryRatio = 0.0;
};

/// The calls of one run and their summary figures.
struct BaseCalls {
    std::vector<BaseCall> bases;                 ///< in run order (ascending corrected position)
    std::array<int, 5> counts{{0, 0, 0, 0, 0}};  ///< A, C, G, T, other (N and IUPAC)
    int qv20 = 0;                                ///< bases with QV >= 20
    /// Longest stretch whose mean QV over +-21 bases around each of its
    /// bases (clipped at the read's ends) is >= 20; its first base and
    /// length (0 when none).
    int contiguousStart = 0;
    int contiguousLength = 0;
    /// Modified Mott trimming at the cutoff of CallOptions: bases
    /// [trimStart, trimEnd) are kept; trimStart == trimEnd when none is.
    int trimStart = 0;
    int trimEnd = 0;
    double trimmedMeanQv = 0.0;  ///< mean QV of the kept bases, 0 when none
    /// The dyes' mobility offsets along the run, a few points from start to
    /// end; empty when too few peaks to learn them.
    std::vector<MobilityPoint> mobility;
    /// The onset of a second sequence within the kept read, if any.
    Mixture mixture;
    /// Why there are no calls ("no peaks", "no spacing", ...), else empty.
    std::string note;

    /// The called letters as one string.
    KW_API std::string sequence() const;
};

/// Calls the bases of a processed run.
/// @param processed the conditioned, separated, normalised capillary of the
///        road (four traces in trace-code order C, A, G, T; fewer gives no
///        calls)
/// @param peaks the fitted peaks, by ascending locatn (capillary samples),
///        trace codes 0..3; peaks with other codes or non-finite values are
///        ignored
/// @param in the signal window, spacing and coordinate scale
/// @param options mixed bases and trimming
KW_API BaseCalls callBases(const KwCap& processed, const std::vector<KwPeak>& peaks,
                           const CallInputs& in, const CallOptions& options);

/// Modified Mott trimming: the stretch [start, end) of qvs maximising the sum
/// of (cutoff - 10^(-qv/10)); start == end == 0 when no base is worth
/// keeping. cutoff: error probability, 0..1.
KW_API void mottTrim(const std::vector<int>& qvs, double cutoff, int& start, int& end);

/// Finds the onset of a second sequence within [trimStart, trimEnd) of
/// calls. Test `share`: a base "carries a second dye" when its secondary
/// ratio is >= 0.13; the onset is the base where the share of such bases
/// steps up most steeply from at most 10 % of the 40 bases before it to at
/// least 50 % of the 40 after it (and 40 % of all the kept bases from it
/// on), moved on to the first base that carries one; at least 20 kept
/// bases must precede it and 30 follow it. Where that finds none, test
/// `rise`: the first kept base, at least 40 kept bases in, with a second
/// dye of ratio >= 0.2 from which at least half of the next 16 bases carry
/// one, whose median secondary ratio over them is >= 3 times that of the
/// 20 bases before, of the 16 bases after those at least 30 % still
/// carrying one of 0.2, and whose second dyes average >= 0.1 to the end of
/// the kept read. Either onset then goes back, over at most 40 bases, to
/// the earliest base carrying a second dye of 0.15 from which a quarter of
/// the bases up to the onset carry one, with at most 10 % of the 40 before
/// it carrying one (and 20 kept bases still before it). Not found
/// otherwise.
KW_API Mixture findMixture(const BaseCalls& calls);

/// The QV a base whose features give clean-read QV `qv` (0..kMaxCallQv;
/// others are clamped) gets from a mixture's onset on: the QV observed for
/// such bases over two-sequence reads built from training traces, never
/// above `qv` (a clean read's QV 25 becomes 14, its QV 30 becomes 22, its
/// QV 35 stays).
KW_API int qvOverMixture(int qv);

/// Fills the summary figures of calls (counts, QV20+, contiguous read
/// length, trimmed range, trimmed mean QV, mixture) from its bases. cutoff: Mott
/// error probability, 0..1.
KW_API void summariseCalls(BaseCalls& calls, double cutoff);

/// One FASTQ record: "@name", the bases, "+", the QVs in Phred+33.
/// Newlines and leading or trailing blanks in name are replaced by '_'.
KW_API std::string fastqRecord(const BaseCalls& calls, const std::string& name);

/// One FASTA record, 70 bases a line.
KW_API std::string fastaRecord(const BaseCalls& calls, const std::string& name);

/// The per-base table: a header line, then one tab-separated row per base:
///
///     index base qv position corrected_position secondary secondary_ratio C A G T
///
/// index from 0; position and corrected_position in input-file samples (2
/// decimals); secondary_ratio 3 decimals; C A G T the processed channels'
/// heights at the base (1 decimal). Lines end in '\n'.
KW_API std::string callsTable(const BaseCalls& calls);

/// An SCF version 3.00 file of the processed traces and the calls: the
/// four channels (stored A, C, G, T), all shifted and scaled alike so that
/// the signal window spans 0..65535 (values beyond it clipped), one sample
/// per input-file sample (capillary samples / coordinateScale); each base
/// at its position (on its own dye's peak, BaseCall::position rounded to a
/// sample), its QV in the probability field of the called letter (0 in the
/// others; N and IUPAC codes get it in all four); the comments hold
/// "NAME=<name>" and "SRC=kwsignal".
/// @param processed the capillary the calls came from (no traces: no samples)
/// @param calls the calls of that capillary
/// @param in the inputs the calls were made with (window and scale)
/// @param name the sample's name
KW_API std::string scfFile(const KwCap& processed, const BaseCalls& calls, const CallInputs& in,
                           const std::string& name);

}  // namespace kw

#endif
