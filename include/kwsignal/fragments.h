// Fragment analysis: every dye of a capillary run searched for peaks, the
// internal size standard found in its dye, every peak sized in base pairs
// against it and, with a panel, named as an allele.
//
//     kw::AbifRun run = kw::readAbif("sample.fsa");
//     kw::FragmentResult r = kw::analyseFragments(run, kw::FragmentOptions());
//     if (r.status != kw::SizingStatus::sized) report(r.warnings);
//     write(kw::fragmentTable(r));
//
// The road works on the whole run (there is no sequencing window): baseline
// and noise per dye, peaks found as events and fitted with Gaussians, pull-up
// of strong peaks into other dyes, flat-topped (saturated) peaks and the
// primer region flagged, the standard chosen among the built-in definitions
// by how well its fragment lengths explain the standard dye's peaks, and a
// sizing curve fitted through the identified standard peaks. When no
// definition explains the standard dye, the result says so and sizes
// nothing: a plausible fit of the wrong standard would size every peak
// wrong with confidence. Nothing is thrown.
#ifndef KWSIGNAL_FRAGMENTS_H
#define KWSIGNAL_FRAGMENTS_H

#include <limits>
#include <string>
#include <vector>

#include "kwsignal/abif.h"
#include "kwsignal/export.h"

namespace kw {

// ---- kind of run --------------------------------------------------------------

/// What a run holds: bases to call, or fragments to size.
enum class RunKind { sequencing, fragments };

/// The kind of a run and why it was decided so.
struct RunKindDecision {
    RunKind kind = RunKind::sequencing;
    std::string reason;  ///< one sentence, e.g. "5 dyes with a LIZ size standard"
};

/// Decides from the file: stored base calls mean sequencing; more than four
/// dyes, a size-standard name or flag, or fragment-analysis dye names mean
/// fragments; a file with a base order (FWO_) but no calls is fragments
/// when its data hold a size standard the road identifies, sequencing
/// otherwise.
KW_API RunKindDecision decideRunKind(const AbifRun& run);

/// "sequencing" or "fragments".
KW_API const char* runKindName(RunKind kind);

// ---- size standards -----------------------------------------------------------

/// A built-in size-standard definition.
struct SizeStandard {
    const char* name;                 ///< e.g. "GS500", "GS600", "ILS600"
    const char* dyes;                 ///< the dyes it is sold in, e.g. "LIZ ROX"
    std::vector<double> sizesBp;      ///< fragment lengths, ascending, bp
    std::vector<double> anomalousBp;  ///< fragments that run off their length: identified, not used
};

/// Every built-in definition: GS500, GS350, GS600 (v2), GS1200, GS120,
/// GS400HD, ILS600, ILS500, BTO550, S550, S450, ROX1000.
KW_API const std::vector<SizeStandard>& sizeStandards();

// ---- panels -----------------------------------------------------------------

/// One allele bin of a marker.
struct PanelBin {
    std::string allele;      ///< allele name, e.g. "12" or "9.3"
    double sizeBp = 0.0;     ///< expected size, bp
    double halfWidth = 0.5;  ///< a peak within sizeBp +- halfWidth (bp, > 0) is this allele
};

/// One marker (locus) of a panel.
struct PanelMarker {
    std::string name;    ///< locus name, e.g. "D8S1179"
    std::string dye;     ///< dye name as in the file (e.g. "6-FAM") or 0-based dye index
    double minBp = 0.0;  ///< size range of the marker, bp
    double maxBp = 0.0;
    double repeatBp = 0.0;  ///< repeat length, bp (0: no stutter check)
    std::vector<PanelBin> bins;
    double offsetBp = 0.0;  ///< shift of every bin learned from an allelic ladder, bp
};

/// A panel: markers with their bins.
///
/// Text format, one record a line, tab- or space-separated, '#' starts a
/// comment:
///
///     marker  NAME  DYE  MIN_BP  MAX_BP  [REPEAT_BP]
///     bin     NAME  ALLELE  SIZE_BP  [HALF_WIDTH_BP]
///
/// A bin line names a marker given earlier; HALF_WIDTH_BP defaults to 0.5.
struct Panel {
    std::vector<PanelMarker> markers;
    bool empty() const { return markers.empty(); }
};

/// Parses a panel; false with `error` ("line N: problem") on a malformed
/// line, an unknown marker or a bin outside its marker's range.
KW_API bool parsePanel(const std::string& text, Panel& panel, std::string& error);

// ---- options ------------------------------------------------------------------

/// How sizes are read off the standard's curve. Local Southern follows
/// every standard peak and suits dense standards; on sparse ones (GS500)
/// the smooth lsq3 sizes alleles of one locus more consistently, but it
/// cannot follow a standard spanning 20-1200 bp.
enum class SizingMethod {
    localSouthern,  ///< Southern's reciprocal through 3 neighbours, averaged over the two triples
                    ///< around a point
    cubic,          ///< natural cubic spline through the standard peaks
    lsq3,           ///< least-squares polynomial of third order over all standard peaks
};

/// "local", "cubic" or "lsq3".
KW_API const char* sizingMethodName(SizingMethod method);
/// Parses the names of sizingMethodName; false for anything else.
KW_API bool parseSizingMethod(const std::string& name, SizingMethod& method);
/// Every name of sizingMethodName ("local" first).
KW_API const std::vector<std::string>& sizingMethodNames();

/// What analyseFragments does.
struct FragmentOptions {
    SizingMethod sizing = SizingMethod::localSouthern;
    /// 0-based dye of the size standard; -1 to take it from the dye names,
    /// the standard flag or the dye set, else the last dye. When that dye
    /// holds no standard, the dye whose peaks fit one best is taken (with
    /// a warning); a dye the caller chose is never replaced.
    int standardDye = -1;
    /// Name of a built-in standard to use (see sizeStandards()); empty to
    /// choose the best-fitting one from the data.
    std::string standard;
    /// Amplitude threshold: no peak or top lower than this is listed, raw
    /// counts above baseline (>= 0); a dye's noise raises it to
    /// minSignalToNoise deviations.
    double minHeight = 50.0;
    /// Peaks must stand this many noise deviations above baseline (>= 1).
    double minSignalToNoise = 6.0;
    /// Size with the fragments known to run anomalously (GS500/GS350 250 and
    /// 340, GS600/GS1200 250) as well. Off by default: they pull the curve
    /// by up to 2 bp in their stretch; on, the sparse GS500 predicts its
    /// own fragments better (leave-one-out) at that cost.
    bool sizeWithAnomalous = false;
    /// Panel for naming alleles; empty for none.
    Panel panel;
};

// ---- results ------------------------------------------------------------------

/// Flags of a fragment peak (bit set).
enum FragmentFlag : unsigned {
    kFlagSaturated = 1u << 0,  ///< flat top: the detector was off scale
    kFlagPullup = 1u << 1,     ///< bleed-through of a much stronger peak of another dye
    kFlagPrimer = 1u << 2,     ///< in the primer (unextended oligo) region before the standard
    kFlagOutside = 1u << 3,    ///< size extrapolated beyond the standard's peaks
    /// Electrical: one or two samples wide at half height, or a few scans
    /// wide and in nearly every dye at once; never a standard peak.
    kFlagSpike = 1u << 4,
    kFlagStutter = 1u << 5,  ///< one repeat shorter than a much stronger allele
    /// A top on the flank or crest of a taller peak, falling by under a
    /// tenth of its height towards a neighbour; never a standard peak.
    kFlagShoulder = 1u << 6,
};

/// A peak's part in the size standard (written as these numbers in
/// fragments.tsv's is_standard).
enum class StandardRole {
    none = 0,    ///< a sample peak, or any other peak of the standard dye
    used = 1,    ///< a standard fragment the sizing curve runs through
    unused = 2,  ///< a standard fragment identified but set aside (anomalous, saturated)
};

/// One peak of one dye.
struct FragmentPeak {
    int dye = 0;          ///< 0-based dye in file order
    double scan = 0.0;    ///< centre, fractional raw scan
    double sizeBp = 0.0;  ///< size, bp; NaN when unsized
    double height = 0.0;  ///< height above baseline, raw counts
    double area = 0.0;    ///< area above baseline, counts x scans
    double fwhm = 0.0;    ///< full width at half height, scans
    StandardRole isStandard = StandardRole::none;
    /// The standard fragment length, bp, when isStandard is not none.
    double standardBp = 0.0;
    unsigned flags = 0;  ///< FragmentFlag bits
    std::string locus;   ///< panel marker, empty when none
    std::string allele;  ///< bin name, "OL" off-ladder, empty outside markers
};

/// Outcome of the sizing.
enum class SizingStatus {
    sized,  ///< a standard identified and every peak sized
    /// Every peak sized, but an assignment of the standard with one peak
    /// (or one end of the ladder) moved by one fragment fits about as well:
    /// the sizes may be a whole fragment step off. Check the standard.
    lowConfidence,
    /// The standard dye fits no built-in definition, or its best
    /// assignment is contradicted (a one-step neighbour scores better on
    /// the guards, or the peaks taken for fragments differ more than
    /// tenfold in height): nothing sized.
    unknownStandard,
    noStandardPeaks,  ///< the standard dye has too few peaks: nothing sized
    noData,           ///< the run holds no usable dye
};

/// "sized", "low_confidence", "unknown_standard", "no_standard_peaks" or "no_data".
KW_API const char* sizingStatusName(SizingStatus status);

/// One marker's call.
struct Genotype {
    std::string marker;
    std::vector<std::string> alleles;  ///< bin names by descending height ("OL" off-ladder)
    std::vector<double> heights;       ///< their heights, raw counts
    /// Comma list of what to check: flags of the called peaks (saturated,
    /// outside), "off_ladder" when an allele is OL, "over_two" when more
    /// than two alleles were called; empty when clean.
    std::string flags;
};

/// Everything analyseFragments finds.
struct FragmentResult {
    SizingStatus status = SizingStatus::noData;
    std::vector<std::string> dyeNames;  ///< one a dye, file order
    int standardDye = -1;               ///< 0-based dye of the standard; -1 when none
    std::string standard;               ///< chosen definition's name, empty when none
    /// Standard fragments the run should show: those identified, and those
    /// missing between them or where the run has peaks around them (not
    /// those lost before the data start or after the run stopped).
    int expected = 0;
    int identified = 0;  ///< of them, assigned to a peak
    int used = 0;        ///< of them, used for the sizing curve
    SizingMethod sizing = SizingMethod::localSouthern;
    /// Leave-one-out residual of the standard peaks: each interior used
    /// peak sized from the others by the chosen method, bp; NaN when
    /// unsized.
    double looMeanBp = 0.0;
    double looMaxBp = 0.0;
    /// How clearly the chosen definition beat the others, 0..1 (1: no
    /// other definition explains the peaks comparably).
    double confidence = 0.0;
    /// How far the best assignment of the standard with one peak, or one
    /// end of the ladder, moved by one fragment falls behind the chosen one
    /// on the guards (about one unit a well-placed fragment); NaN when
    /// nothing was assigned or the assignment was refused. Under 4: status
    /// lowConfidence; under 0: refused (unknownStandard).
    double assignmentMargin = std::numeric_limits<double>::quiet_NaN();
    std::vector<FragmentPeak> peaks;  ///< every peak, by dye then scan
    std::vector<Genotype> genotypes;  ///< one a panel marker
    std::vector<std::string> warnings;
};

/// Plain input for callers that do not start from an ABIF file.
struct FragmentRun {
    std::vector<std::vector<double>> dyes;  ///< raw counts, one row a dye, equal lengths
    std::vector<std::string> names;         ///< dye names, one a dye (may be empty strings)
    double rate = 0.0;                      ///< scans per second (> 0)
    std::vector<int> saturatedScans;        ///< scans the instrument marked off scale
    std::string standardHint;               ///< the lab's standard name (StdF1), may be empty
    int flaggedStandardDye = -1;            ///< 0-based dye flagged as standard, -1 none
    /// The dye set (DySN1, e.g. "G5", "J6"), may be empty: a set named
    /// with its number of dyes carries the standard in its last dye.
    std::string dyeSet;
};

/// The fragment input of an ABIF run: every dye, names, rate, hints.
KW_API FragmentRun fragmentRunOf(const AbifRun& run);

/// The whole fragment road on a run.
KW_API FragmentResult analyseFragments(const FragmentRun& run, const FragmentOptions& options);
KW_API FragmentResult analyseFragments(const AbifRun& run, const FragmentOptions& options);

/// Names the sized peaks of `result` that fall in a marker of `panel` by
/// its bins ("OL" off-ladder), flags stutter (one repeat below an allele
/// of at least four times its height) and fills result.genotypes.
/// analyseFragments calls it when its options carry a panel; call it again
/// after calibratePanel to re-name the alleles.
KW_API void callAlleles(FragmentResult& result, const Panel& panel);

/// Shifts each marker's bins so that the ladder run's peaks fall on them:
/// one offset a marker, the median distance from each bin to the nearest
/// peak of the marker's dye. Returns the number of markers shifted.
KW_API int calibratePanel(Panel& panel, const FragmentResult& ladder);

// ---- outputs ------------------------------------------------------------------

/// fragments.tsv: header `dye dye_name channel locatn size_bp height area
/// fwhm is_standard flags` (+ `locus allele` with a panel), tab-separated,
/// one line a peak, sizes "NaN" when unsized.
KW_API std::string fragmentTable(const FragmentResult& result, bool withPanel);
/// genotypes.tsv: `marker alleles heights flags`, lists comma-separated.
KW_API std::string genotypeTable(const FragmentResult& result);
/// Comma list of a peak's flags, e.g. "saturated,primer"; empty when none.
KW_API std::string fragmentFlagNames(unsigned flags);

}  // namespace kw

#endif
