// KwTrace: one dye channel of a capillary run.
//
// A trace is a sequence of fluorescence intensity samples in time (arbitrary
// instrument units, relative fluorescence units for raw data), its sampling
// rate in samples per second, a signal window (the inclusive sample range
// signalStartPnt..signalEndPnt that holds useful signal), a noise level and
// a minimum peak height, both in sample units. Every conditioning and
// detection operation works in place on the trace's own samples.
//
// Unless a member says otherwise: sample indices are 0-based and must lie in
// 0..getNumData()-1; the window must lie inside the array; nothing is
// bounds-checked beyond what a member documents.
#ifndef KWSIGNAL_TRACE_H
#define KWSIGNAL_TRACE_H

#include "kwsignal/containers.h"
#include "kwsignal/export.h"

class KwEvent;

class KW_API KwTrace : public KwdbAry {
public:
    // ---- construction and copying ------------------------------------
    /// Empty trace; window 0..0, rate, noise level and minimum height 0.
    KwTrace();
    /// n zero samples; window 0..n-1, other fields 0.
    explicit KwTrace(int n);
    /// n samples copied from p (p stays the caller's); window 0..n-1.
    KwTrace(int n, const double* p);
    /// Samples copied from a; window 0..a.getNumData()-1, other fields 0.
    explicit KwTrace(const KwdbAry& a);
    KwTrace(const KwTrace& t);
    /// Copies t's samples and all five own fields.
    KwTrace& operator=(const KwTrace& t);
    /// Takes t's samples without copying them (t is left without samples) and
    /// its five own fields.
    KwTrace(KwTrace&& t) noexcept;
    KwTrace& operator=(KwTrace&& t) noexcept;
    /// Sets every sample to v (any finite or non-finite double); the window,
    /// rate, noise level and minimum height are unchanged.
    KwTrace& operator=(double v);
    /// Resizes to n zero samples and resets the fields as KwTrace(n) does.
    void init(int n);

    // ---- accessors ----------------------------------------------------
    /// Sampling rate in samples per second (Hz).
    double getSampleRate() const { return sampleRate; }
    void setSampleRate(double hz) { sampleRate = hz; }
    /// Noise level in sample units; -1.0 means no noise maximum was found.
    double getNoiseLevel() const { return noiseLevel; }
    void setNoiseLevel(double v) { noiseLevel = v; }
    /// Smallest height (sample units) counted as a peak.
    double getMinumHeight() const { return minumHeight; }
    int getSignalStartPnt() const { return signalStartPnt; }
    int getSignalEndPnt() const { return signalEndPnt; }
    /// signalEndPnt - signalStartPnt + 1.
    int getSignalLength() const { return signalEndPnt - signalStartPnt + 1; }
    /// Read-only view of the samples (null when empty).
    const double* getData() const { return data; }

    // ---- window, shifting, normalisation -------------------------------
    /// Moves the window start to n (0..numData). When the window had
    /// already been narrowed at the start (current start s > 0) and n > s,
    /// samples s..n-1 are zeroed.
    void setSignalStartPnt(int n);
    /// Moves the window end to n (-1..numData-1). When the window had
    /// already been narrowed at the end (current end e < numData-1) and
    /// n < e, samples n+1..e are zeroed.
    void setSignalEndPnt(int n);
    /// Moves samples first..last (inside the array) by offset places
    /// (positive: later), clipped to the signal window; vacated samples
    /// become 0.
    void shift(int first, int last, int offset);
    /// Subtracts the window's smallest sample from every window sample.
    void zeroMinimum();
    /// Sum of |sample| over the window (over the whole array when
    /// signalEndPnt is 0); 0 for an inverted window.
    double norm1() const;
    /// Scales samples 0..signalEndPnt and the noise level so that the
    /// window's mean absolute sample becomes 1000. Returns the divisor used,
    /// or 1.0 (nothing changed) when the window is all zero.
    double normalizeL1();

    // ---- data files -----------------------------------------------------
    /// Brings n samples taken at 1 Hz to 3n samples at 3 Hz: out[3i] =
    /// in[i], out[3i+1] and out[3i+2] from the quartic through the five
    /// nearest inputs. n >= 5; out holds 3n values. Does not use the trace.
    void interpolateFrom1To3Hz(int n, const double* in, double* out) const;

    // ---- baseline removal -------------------------------------------------
    /// Removes the slowly varying background under the window with a
    /// piecewise-linear line of chords, one baseline window apart.
    /// n: baseline window in units of trunc(5 * sampleRate) samples, >= 1.
    /// Returns 1 on success; 0 with the trace unchanged when the window does
    /// not fit twice into the signal window or is empty.
    int deBaseline(int n);
    /// Second, segment-wise pass: removes triangular (tent) baselines under
    /// wide valleys between near-zero samples (segment window
    /// trunc(6.0000000001 * sampleRate) samples). Does nothing when that
    /// window is shorter than 1 sample.
    void deBaselineSeq();
    /// Index in from+1..to whose chord from `from` has the lowest slope;
    /// `to` when from == to. from <= to, both inside the array.
    int getSteepestPnt(int from, int to) const;

    // ---- smoothing and Mexican-hat filtering ----------------------------
    /// Cosine-weighted moving average over the whole array, clipping
    /// negative results to 0. n: nominal window length in samples, >= 2
    /// (smaller n does nothing). extra: ignored.
    void smoothing(int n, int extra);
    /// Mexican-hat filter over the window whose Gaussian width (standard
    /// deviation, samples, > 0) drifts from startWidth at the window start
    /// to endWidth at its end; only accepted humps survive (see
    /// adoptFilteredData). Needs noiseLevel set beforehand.
    void trippleMexicanHatFilter(double startWidth, double endWidth);
    /// As trippleMexicanHatFilter with one hat width (samples, > 0) per
    /// sample: widths[0] for sample `first`, widths[last-first] for `last`.
    void variableWidthMexicanHatFilter(const double* widths, int first, int last);

    // ---- anomaly clean-up -------------------------------------------------
    /// Zeroes samples 0..trunc(sampleRate*startTime)-1 (startTime in
    /// seconds, >= 0), moves the window start there when it lies later, and
    /// removes deep negative dips when removeNegativePeaks is non-zero.
    void cleaning(double startTime, int removeNegativePeaks);
    /// Replaces stretches of anomalously deep negative dips in the window by
    /// parabolas. fillEnds: non-zero raises the deep end of a section first.
    void deAnomalousNegativePeaks(int fillEnds);
    /// Removes, valley to valley, the few highest peaks of from..to (from <
    /// to, inside the window) when they tower over the others.
    void deAnomalousHighPk(int from, int to);
    /// The sample where the last too-high peak in the first 30 s of the
    /// window has fallen back to its valley; signalStartPnt when none.
    /// Does not change the trace.
    int deAnomalousHighPkAtBeginning();
    /// Repairs straight-line scars that end in a shallow valley.
    void fixScar();
    /// Raises isolated one-sample dips below a tenth of the window maximum
    /// to 95 % of their neighbours' mean.
    void smoothingDips();
    /// Replaces section from..to by a parabola; the end touching the window
    /// edge takes the far end's value. useMinimum: non-zero floors the
    /// parabola's middle at the section's lowest sample, zero at 0.
    void removeSection(int from, int to, int useMinimum);
    /// Replaces samples from+1..to-1 by the parabola through both ends and
    /// a middle point sagging below the chord, never below floorValue
    /// (sample units). Sections of fewer than 3 samples are left alone.
    void replaceWithParabola(int from, int to, double floorValue);

    // ---- noise level and normalisation ------------------------------------
    /// Sets noiseLevel from the amplitude histogram of samples
    /// from..signalEndPnt. Ranges of fewer than 2 samples change nothing.
    void findNoiseLevel(int from);
    /// Sets noiseLevel to the mean of the larger local maxima below
    /// `ceiling` (sample units); -1.0 when there are none.
    void setNoiseLevelForNormalized(double ceiling);
    /// Sets minumHeight, the smallest height worth calling a peak, from the
    /// amplitude histogram of the window.
    void setMinumHeight();
    /// Mean height of the local maxima of from..to above fraction (0..1) of
    /// the range maximum and below ceiling (sample units; <= 0 means no
    /// ceiling); fraction * maximum when none qualifies.
    double averagedPkHeight(int from, int to, double fraction, double ceiling) const;
    /// Divides the window by a smooth Legendre envelope (degree <= order)
    /// through segment peak heights so that peaks come out about `height`
    /// high. endPnt: last sample used to build the envelope; ceiling: as
    /// for averagedPkHeight. Less than one minute of data changes nothing.
    void envelopeNormalize(int order, double height, int endPnt, double ceiling);
    /// count := number of complete excursions of from..to reaching `level`
    /// (sample units); width := their mean width in samples (written only
    /// when count > 0).
    void determinePeakWidthForNormalizedData(int from, int to, double level, int& count,
                                             double& width) const;

    // ---- signal ends ------------------------------------------------------
    /// Moves signalStartPnt past the early events within the first `zone`
    /// (fraction 0..1 of the window) when findStart is non-zero, and
    /// signalEndPnt to the start of the last burst before a long noise tail.
    void markTheEnds(double zone, int findStart);
    /// Finds the first stretch of a..b above threshold scanning in
    /// `direction` (+1 or -1), widened to the valleys around it. Returns 0
    /// (nothing changed) when a >= b, else 1.
    int detectFirstEvent(int& a, int& b, double threshold, int direction);
    /// Moves left and right outward to the nearest valleys whose floor lies
    /// below threshold, or to the window edges.
    void extendBoundaries(int& left, int& right, double threshold) const;
    /// Zeroes every sample outside the window.
    void zeroDataAtEnds();
    /// left/right := last samples, from each end of the window, on the
    /// baseline plateau before a sustained rise.
    void findPlateauRegion(int& left, int& right) const;
    /// Finds a broad raised region of first..last between the steepest rise
    /// and the steepest fall of its block sums (blockSize samples per
    /// block). Returns 1 when one at least minWidth samples wide and at
    /// least ratio times the level before it is found.
    int detectBigTail(int first, int last, int minWidth, int blockSize, double ratio, int& left,
                      int& right) const;

    // ---- event detection ----------------------------------------------------
    /// The first event of startPnt..endPnt (inclusive, at least two samples
    /// inside the array on each side) scanning in `direction` (1 forward,
    /// -1 backward). onsetLevel: a sample above it starts an event;
    /// valleyLevel: a valley below it ends one (sample units); peakWidth:
    /// expected peak width in samples (> 0). An event without samples means
    /// there is none.
    KwEvent getNextEvent(int traceCode, int startPnt, int endPnt, double onsetLevel,
                         double valleyLevel, double peakWidth, int direction) const;
    /// Bisects from fromPnt toward toPnt (either order) while the rise keeps
    /// steepening; spans no longer than halfWidth (samples) are not halved.
    int getInflexionPnt(int fromPnt, int toPnt, double halfWidth) const;
    /// 1 when sample i (inside the window) is a strict local maximum.
    int scanIsMaximum(int i) const;
    /// 1 when sample i (inside the window) is a strict local minimum.
    int scanIsMinimum(int i) const;
    /// Stretch between the next two local minima from pos in `direction`;
    /// returns its highest sample, -1.0 when it runs into the window ends.
    double detectPeak(int pos, int& startPnt, int& endPnt, int direction);
    /// Longest run of from..to at or above `level`; 0 when nothing reaches
    /// it.
    int findWidestEvent(int from, int to, double level, int& startPnt, int& endPnt) const;

    // ---- peaks --------------------------------------------------------------
    /// Replaces samples s+1..e by one Gaussian measured on s..e (s-1 and e+1
    /// must lie inside the array).
    void synthSinglePeak(int s, int e);

protected:
    /// Floors rare, anomalously deep dips block by block (w: block length in
    /// samples, >= 1).
    void deAnomaliousDip(int w);
    /// Widest valley of first..last (first < last) staying below fraction
    /// (0..1) of the running peak height, scanning from last down to first.
    /// Returns its length in samples (0 when none).
    int findWidestGap(int first, int last, double fraction, int& gapFirst, int& gapLast) const;
    /// Kernel of sample pnt (halfWidth + 1 entries) blended from the three
    /// base hats.
    void calculateTapper(int halfWidth, int pnt, double* kernel, const double* midHat,
                         const double* startHat, const double* endHat) const;
    /// Kernel of sample pnt (halfWidth + 1 entries) from the per-sample
    /// widths of first..last.
    void calculateWidow(int pnt, int first, int last, const double* widths, double* kernel,
                        int halfWidth) const;
    /// Writes the window from the filtered values (one per window sample):
    /// keeps humps wider than 0.6 * minWidth samples, rescaled to the
    /// unfiltered height and gated against noiseLevel; zeroes the rest.
    void adoptFilteredData(const double* filtered, double minWidth);

    double sampleRate;   ///< samples per second
    int signalStartPnt;  ///< first sample of the signal window
    int signalEndPnt;    ///< last sample of the signal window (inclusive)
    double noiseLevel;   ///< noise level, sample units
    double minumHeight;  ///< smallest peak height, sample units
};

#endif
