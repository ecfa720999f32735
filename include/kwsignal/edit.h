// Genome-editing analysis: a sample's trace against its unedited control.
//
//     kw::EditOptions options;
//     options.guides = {"GTTAATCCCCAGAGGCTCCA"};
//     kw::EditResult r = kw::editFiles("control.ab1", "sample.ab1", options);
//     if (r.status != kw::EditStatus::ok) std::fprintf(stderr, "%s\n", r.message.c_str());
//     else std::printf("edited %.1f %%\n", 100 * r.editedFraction);
//     kw::writeEditReport("out", r);   // edit.json, edit.tsv, report.html
//
// How it works, in the terms of the reads:
//  1. both traces go through the library's road (read, process, call), so
//     every base has its four channel heights;
//  2. each guide (DNA or RNA, any case) is found on either strand of the
//     control's read, next to its PAM; the nuclease cuts a fixed number of
//     bases from the PAM (Cas9: 3 bases upstream of NGG);
//  3. the control's and the sample's calls are aligned (parasail,
//     semi-global); the bases before the first cut, where the sample is
//     still one sequence, fix which sample base stands for which control
//     base;
//  4. every candidate outcome (each indel from -30 to +15 at each cut, the
//     deletion between two cuts, the donor's sequence) is written as the
//     control's read with that edit applied, and its expected heights at
//     each base are the control's own heights at the base it copies, so that
//     the control's peak-height pattern and dye effects are built in;
//  5. the sample's heights from the first cut to the end of the control's
//     well-read bases are fitted as a non-negative combination of the
//     outcomes (Lawson-Hanson least squares); the fractions are the
//     coefficients over their sum, with intervals from a bootstrap over
//     blocks of bases.
//
// A result is either "ok" or a refusal with a message and no figures:
// "unreadable" (a file could not be read or processed), "bad_input" (a guide
// or donor that is not a DNA or RNA sequence, options out of range),
// "guide_not_found", "no_alignment" (control and sample do not read the same
// sequence before the cut), "weak_control" (too few well-read control bases
// around the cut). Weak but usable reads give a result and a warning that
// names their quality.
//
// Everything is a value: no global state, safe on many threads at once.
#ifndef KWSIGNAL_EDIT_H
#define KWSIGNAL_EDIT_H

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "kwsignal/basecall.h"
#include "kwsignal/export.h"

class KwCap;

namespace kw {

struct Run;
struct ProcessResult;

/// Version of the edit.json layout.
constexpr int kEditSchema = 1;

struct EditOptions {
    /// One or more protospacers, 5'->3' as designed (DNA or RNA letters, any
    /// case, blanks ignored; 15..40 bases each), without the PAM.
    std::vector<std::string> guides;
    /// The repair template of a knock-in, either strand (empty: none). Its
    /// part that aligns to the control's read becomes the "hdr" outcome.
    std::string donor;
    /// The PAM as IUPAC letters (N any base, V not T, R A or G, ...).
    std::string pam = "NGG";
    /// Where the nuclease cuts, in bases, counted on the guide's strand:
    /// negative: the PAM lies 3' of the protospacer and the cut is that many
    /// bases before the protospacer's 3' end (Cas9: -3); positive: the PAM
    /// lies 5' of the protospacer and the cut is that many bases after the
    /// protospacer's 5' start (Cas12a: 18). Range -40..40, not 0.
    int cutOffset = -3;
    int maxDeletion = 30;   ///< longest deletion tried at each cut, 1..60 bases
    int maxInsertion = 15;  ///< longest insertion tried at each cut, 0..30 bases
    /// Bootstrap replicates of the fit (0: no intervals, low = high =
    /// fraction); 0..2000.
    int bootstrap = 200;
    unsigned seed = 1;    ///< seed of the bootstrap's draws
    double level = 0.95;  ///< two-sided level of the intervals, 0.5..0.999
    /// The standard deviation of the fit's model error on a share, 0..0.3:
    /// how far the fitted shares stray from the truth beyond what redrawing
    /// the bases shows (the outcomes' signals are the control's shifted,
    /// which the sample's own run does not follow exactly). Each side of
    /// every interval is widened by it in quadrature with the bootstrap's
    /// spread; 0 leaves the bootstrap's alone. The default holds the true
    /// share at 95 % on synthetic pools made from many sources' runs
    /// (scripts/edit_intervals.py: the leave-one-source-out folds pick
    /// 0.017 to 0.019 for the outcomes' shares, 0.017 to 0.018 for the
    /// edited fraction; one figure serves both). Pools from two runs that
    /// drift apart stray further: a low r2 warns of it.
    double modelError = 0.018;
    /// The charge on each edited outcome's share (0..0.1) when choosing
    /// which outcomes the sample holds; the chosen ones are refitted
    /// without it, so a trace against itself shows no spread of tiny
    /// indels and real shares are not shrunk.
    double sparsity = 0.04;
    /// Outcomes below this fraction are left out of the list (the
    /// unedited sequence is always listed); 0..0.5.
    double reportBelow = 0.005;
    /// Base editing: editRuns and editFiles also report each protospacer
    /// base's shares (EditResult::baseEdits).
    bool baseEdit = false;
};

/// One protospacer base of a base-editing analysis, on the guide's strand.
struct BaseEditPosition {
    std::string guide;      ///< the guide, DNA upper case
    int guidePosition = 0;  ///< 1 = the protospacer's 5' base
    int position = 0;       ///< read base index (control's read when a control is given)
    char reference = 'N';   ///< the unedited base there, guide's strand
    bool aligned = false;   ///< false: no sample base stands for it (shares 0, p-values 1)
    /// A, C, G, T shares of the sample's heights there, guide's strand, 0..1.
    std::array<double, 4> fraction{{0.0, 0.0, 0.0, 0.0}};
    /// A, C, G, T: chance that the trace's noise outside the guides'
    /// windows reaches that share (above the control's share at the same
    /// base when a control is given), 0..1; 1 for the reference base.
    std::array<double, 4> pValue{{1.0, 1.0, 1.0, 1.0}};
};

/// A guide's match in the control's read.
struct GuideSite {
    std::string guide;     ///< the guide as DNA, upper case
    bool reverse = false;  ///< matched on the reverse strand of the read
    int start = 0;         ///< first read base of the protospacer's match (forward strand)
    int mismatches = 0;    ///< bases of the match that differ from the guide
    bool pamFound = false;
    /// The cut lies between read bases cut-1 and cut (control base indices).
    int cut = 0;
};

/// One candidate result of the editing, with its fitted share.
struct EditOutcome {
    /// "wildtype", "deletion", "insertion", "two_cut_deletion" or "hdr".
    std::string kind;
    int size = 0;      ///< bases gained (> 0) or lost (< 0); 0 for the unedited sequence
    int position = 0;  ///< control base index where the edit starts (the cut)
    /// The allele from 10 bases before the edit to 10 after it, as read on
    /// the control's strand; inserted or donor bases in lower case.
    std::string sequence;
    double fraction = 0.0;  ///< share of the sample, 0..1
    /// Interval of the fraction at EditOptions::level: the bootstrap's
    /// spread widened by the fit's model error (see analyseEdit).
    double low = 0.0;
    double high = 0.0;
};

/// The processed channels of one trace around the cut, for pictures.
struct EditTraceWindow {
    double firstSample = 0.0;                     ///< input-file sample of the first value
    std::array<std::vector<double>, 4> channels;  ///< C, A, G, T, one value per input sample
    std::vector<double> basePositions;            ///< input-file samples of the bases shown
    std::string bases;                            ///< their letters
    int firstBase = 0;                            ///< control base index of the first base shown
};

/// How an edit analysis ended: a result, or the refusal's reason (see the
/// top of this file).
enum class EditStatus {
    ok,             ///< a result
    unreadable,     ///< a file could not be read or processed
    badInput,       ///< a guide, donor or option that is not valid
    guideNotFound,  ///< no guide matches the control's read
    noAlignment,    ///< control and sample do not read the same sequence before the cut
    weakControl,    ///< too few well-read control bases around the cut
    weakSample,     ///< the sample reads too few bases after the cut
};

/// "ok", "unreadable", "bad_input", "guide_not_found", "no_alignment",
/// "weak_control" or "weak_sample": the word edit.json, the command line and
/// Python use.
KW_API const char* editStatusName(EditStatus status);
/// Parses the names of editStatusName; false (status untouched) for anything else.
KW_API bool parseEditStatus(const std::string& name, EditStatus& status);

struct EditResult {
    EditStatus status = EditStatus::ok;
    std::string message;  ///< what was done or why not, one sentence
    std::vector<std::string> warnings;
    double editedFraction = 0.0;  ///< 1 - the unedited share
    double editedLow = 0.0;       ///< its interval
    double editedHigh = 0.0;
    double knockoutFraction = 0.0;      ///< frameshifts and indels of 21 bases or more
    double hdrFraction = 0.0;           ///< the donor's outcome
    double r2 = 0.0;                    ///< share of the sample's height variance the fit explains
    std::vector<EditOutcome> outcomes;  ///< by decreasing fraction, unedited included
    /// The most an outcome missing from the list may hold at
    /// EditOptions::level (0..1; 0 without bootstrap replicates): the
    /// model error's reach from a share of 0.
    double unlistedHigh = 0.0;
    std::vector<GuideSite> sites;
    int fitStart = 0;  ///< control bases [fitStart, fitEnd) were fitted
    int fitEnd = 0;
    /// Control base index minus sample base index of the same base before
    /// the first cut.
    int offset = 0;
    /// How far each of the sample's dyes (C, A, G, T; input-file samples)
    /// was moved, on top of its own mobility offsets, to line up with the
    /// control's over the bases before the edits; 0 when the fit read the
    /// calls' heights.
    std::array<double, 4> dyeShifts{{0.0, 0.0, 0.0, 0.0}};
    /// Per control base from discordanceStart: the share of the sample's
    /// height not in the control's base (0 identical, ~0.75 unrelated).
    int discordanceStart = 0;
    std::vector<double> discordance;
    std::string controlRead;  ///< the control's called bases
    std::string sampleRead;   ///< the sample's called bases
    double controlMeanQv = 0.0;
    double sampleMeanQv = 0.0;
    EditTraceWindow controlTrace;  ///< filled by editRuns and editFiles
    EditTraceWindow sampleTrace;
    std::string controlName;  ///< the files, for the report
    std::string sampleName;
    /// With EditOptions::baseEdit: every base of every guide's protospacer.
    std::vector<BaseEditPosition> baseEdits;
};

/// The guide as upper-case DNA (U read as T, blanks dropped); empty with
/// problem set when it holds anything else or has fewer than minLength
/// bases.
KW_API std::string normaliseSequence(const std::string& text, int minLength, std::string& problem);

/// The reverse complement of upper-case IUPAC DNA.
KW_API std::string reverseComplement(const std::string& dna);

/// Where each guide of options cuts the read (matches with up to 2
/// mismatches, the PAM's presence preferred, then fewer mismatches). A guide
/// found nowhere gives no site; problem names it.
KW_API std::vector<GuideSite> findCutSites(const std::string& read, const EditOptions& options,
                                           std::string& problem);

/// A semi-global alignment (free end gaps) of two reads.
struct ReadAlignment {
    int score = 0;
    int matches = 0;
    int columns = 0;  ///< aligned columns, gaps included
    /// Index pairs (a, b) of the aligned (not gapped) columns, by increasing a.
    std::vector<std::pair<int, int>> pairs;
};

/// Aligns a to b with parasail (match 2, mismatch -3, gap open 5, extend 2;
/// N and other codes score as mismatches). Empty reads give an empty alignment.
/// parasail is opened on the first alignment: where it cannot be, this (and
/// every analysis that aligns: analyseEdit, analyseVariants) throws
/// std::runtime_error naming the library and the reason.
KW_API ReadAlignment alignReads(const std::string& a, const std::string& b);

/// The analysis on calls already made, control and sample as callBases
/// gives them. The sample's heights are read off its processed channels
/// at the time each control base is expected there (so that extra or
/// missing calls in the mixed part of its read do not shift the fit);
/// without them (null), at the sample's own called bases.
/// @param sampleProcessed the sample's processed capillary (the KwCap the
///        sample's calls came from, or its separated channels on the same
///        axis, as editRuns gives), or null
/// @param sampleScale its capillary samples per input-file sample (> 0)
/// @param controlProcessed the control's processed capillary, or null; with
///        both, the fit reads the traces themselves (each outcome the
///        control's trace shifted after the cut), not the calls' heights
/// @param controlScale its capillary samples per input-file sample (> 0)
KW_API EditResult analyseEdit(const BaseCalls& control, const BaseCalls& sample,
                              const EditOptions& options, const KwCap* sampleProcessed = nullptr,
                              double sampleScale = 1.0, const KwCap* controlProcessed = nullptr,
                              double controlScale = 1.0);

/// Base editing: for each protospacer base of each site, the shares of
/// each base in the sample and how unlikely its noise makes them. The
/// sites are on the control's read (findCutSites on it) and the control's
/// shares at the same bases are taken off before the comparison; without a
/// control (null) the sites are on the sample's own read.
KW_API std::vector<BaseEditPosition> analyseBaseEdit(const BaseCalls& sample,
                                                     const std::vector<GuideSite>& sites,
                                                     const BaseCalls* control);

/// The analysis on two processed runs, the traces fitted on their
/// separated channels (ProcessResult::separated: a pool's templates add up
/// there, not in the sharpened, normalised ones); adds the trace windows
/// (and the base-editing table when asked for).
KW_API EditResult editRuns(const Run& controlRun, const ProcessResult& control,
                           const Run& sampleRun, const ProcessResult& sample,
                           const EditOptions& options);

/// Reads and processes both files with the default road, then editRuns. A
/// file that cannot be read gives EditStatus::unreadable and its error.
KW_API EditResult editFiles(const std::string& controlPath, const std::string& samplePath,
                            const EditOptions& options);

/// edit.json: status, message, warnings, fractions, r2, outcomes, sites,
/// discordance and schema (pretty-printed, ends in a newline).
KW_API std::string editJson(const EditResult& result);

/// edit.tsv: a header and one row per outcome
/// (kind size position sequence fraction low high).
KW_API std::string editTsv(const EditResult& result);

/// report.html: one self-contained page (inline SVG, no script, nothing
/// fetched) with the traces around the cut, the discordance, the outcomes
/// with their intervals and the summary.
KW_API std::string editReportHtml(const EditResult& result);

/// Writes edit.json, edit.tsv and report.html into dir (created when
/// missing), each atomically. Returns "" or the reason.
[[nodiscard]] KW_API std::string writeEditReport(const std::string& dir, const EditResult& result);

}  // namespace kw

#endif
