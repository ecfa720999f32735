// KwCap: the traces of one capillary and its system separation matrix.
//
// A capillary holds numTraces traces of numData samples each (trace codes
// 0..3 stand for C, A, G, T; some files carry two traces), the sampling rate
// in samples per second, a signal window and one KwSpecSepTable. It owns its
// traces and its table. Trace codes and sample indices passed to its members
// are not validated: callers keep them in 0..numTraces-1 and 0..numData-1.
#ifndef KWSIGNAL_CAPILLARY_H
#define KWSIGNAL_CAPILLARY_H

#include "kwsignal/containers.h"
#include "kwsignal/export.h"
#include "kwsignal/trace.h"

class KwSpecSepTable;
namespace kw {
namespace detail {
struct CapAccess;
}
}  // namespace kw

class KW_API KwCap {
    // The separation table's estimation applies matrices to working copies
    // of a capillary through the protected specSep(const KwdbMatrix&).
    friend class KwSpecSepTable;
    // The library's default road separates and levels whole capillaries
    // through the same protected operations.
    friend struct kw::detail::CapAccess;

public:
    // ---- construction, copying ----------------------------------------------
    /// No traces, no table; 1 sample, window 0..0, rate 0.
    KwCap();
    /// n empty traces and a KwSpecSepTable(n); 0 samples, rate 0.
    explicit KwCap(int n);
    /// n traces of m zero samples (trace windows 0..m-1; the capillary's own
    /// window stays 0..0), rate 0.
    KwCap(int n, int m);
    /// n traces of m samples copied from rows[0..n-1] (rows stay the
    /// caller's), rate `rate` (samples per second) on the capillary and every
    /// trace, window 0..m-1.
    KwCap(int n, int m, double** rows, double rate);
    /// Copies traces, window, rate, approximate peak width and the table.
    KwCap(const KwCap& c);
    /// Copies samples, window and peak width; the table becomes a fresh
    /// KwSpecSepTable(numTraces) and the rate is kept. Self-assignment is a
    /// no-op.
    KwCap& operator=(const KwCap& c);
    /// Sets every sample of every trace to v.
    KwCap& operator=(double v);
    ~KwCap();

    // ---- access -------------------------------------------------------------
    int getNumData() const { return numData; }
    int getSignalStartPnt() const { return signalStartPnt; }
    int getSignalEndPnt() const { return signalEndPnt; }
    int getNumTraces() const { return numTraces; }
    /// Sampling rate, samples per second.
    double getSamplingRate() const { return samplingRate; }
    /// Stores the approximate peak width in samples (kept for the caller).
    void setApproxiamtePeakWidth(int w) { approxPeakWidth = w; }
    /// Trace `code` inside the capillary; the capillary keeps ownership.
    KwTrace* getPnterToTrace(int code) { return &traces[code]; }
    const KwTrace* getPnterToTrace(int code) const { return &traces[code]; }
    /// Sample s of trace `code`.
    double operator()(int code, int s) const { return traces[code][s]; }
    void setValue(int code, int s, double v) { traces[code][s] = v; }
    /// The system separation matrix (numTraces x numTraces).
    const KwSpecSepTable& getSystemSSM() const { return *specSepTable; }

    /// Sets the capillary's window start to n and calls every trace's
    /// setSignalStartPnt(n) (with its zeroing rule).
    void setSignalStartPnt(int n);
    /// Sets the capillary's window end to n and calls every trace's
    /// setSignalEndPnt(n).
    void setSignalEndPnt(int n);
    /// Frees a row array handed out by the file readers: rows[0..3] (always
    /// four entries; null entries are skipped) and then the pointer array.
    /// Null rows is ignored.
    void ReleasePointer(double** rows);
    /// factors[i] := trace i's normalizeL1() divisor; factors holds
    /// numTraces values.
    void normalizeL1(double* factors);

    // ---- data files -------------------------------------------------------
    /// Writes the capillary as an export text file ("%f " per sample),
    /// replacing any file at path. When the file cannot be opened for
    /// writing nothing is written and nothing is reported: the call simply
    /// returns. Errors while writing are not checked either.
    void output(char* path) const;
    /// Reads a four-trace export file into traces 0..3 (the capillary must
    /// hold at least four traces). `second` is ignored. When the file cannot
    /// be opened, holds no header, or declares more samples than its size
    /// could hold, the capillary is left exactly as it was and nothing is
    /// reported; so it is when the capillary has fewer than four traces.
    void input(char* path, char* second);
    /// Reads a point file into new arrays *x and *y (caller frees with
    /// delete[]); rate := 1.0. Returns the number of points (0 when the
    /// file cannot be read).
    int read(const char* path, double& rate, double** x, double** y) const;
    /// Reads a processed, line-count or indexed file into a new row array
    /// (caller frees). Returns the processed file's last header integer, 0
    /// otherwise. An unknown first word stops the process (exit 911). A
    /// file that cannot be opened (or is empty, or declares more numbers
    /// than its size could hold) gives numTraces = numData = 0, *rows =
    /// null, rate 0.0 and 0.
    int read(const char* path, int& numTraces, int& numData, double& rate, double*** rows) const;
    /// As read(), then brings 1 Hz data to 3 Hz. A file that cannot be
    /// opened gives what read() gives for it: numTraces = numData = 0,
    /// *rows = null, rate 0.0 and 0. An unknown first word stops the
    /// process (exit 911), as in read().
    int input(const char* path, int& numTraces, int& numData, double& rate, double*** rows) const;
    /// Reads four channels of a run-data file (path with its last three
    /// characters replaced by "qrd") into a new row array; rate 1.75.
    /// Returns 0.
    int input2(const char* path, int& numTraces, int& numData, double& rate, double*** rows) const;

    // ---- channel dominance ----------------------------------------------------
    /// The channel with the largest sample at pnt (ties: lowest code).
    int getDominantTraceCode(int pnt) const;
    /// The smallest sample value at pnt over all channels.
    double minIntensity(int pnt) const;
    /// Most probable ratio x_chnl / x_refChnl over the window samples where
    /// refChnl exceeds a fifth of its maximum; ratios >= ratioLimit are
    /// ignored. 1.0 when chnl == refChnl; 0.0 when nothing can be measured;
    /// never negative.
    double mostProbableRatioOf(int chnl, int refChnl, double ratioLimit) const;
    /// Picks the free channel (chosen[k] == 0) whose dominant samples point
    /// most consistently in one direction, marks it chosen and returns it;
    /// -1 when none qualifies. Rescales every window sample vector to unit
    /// length (zero vectors are left as they are).
    int getMostStrikingChnl(int* chosen) const;

    // ---- separation matrix --------------------------------------------------
    /// specSepTable(r, q) := ssm[r][q] for r, q in 0..numTraces-1.
    void setSystemSSM(const float** ssm);

    // ---- conditioning, every trace in order of trace code --------------------
    /// deBaseline(n) on every trace; 0 at the first trace that fails (later
    /// traces untouched), 1 otherwise.
    int deBaseline(int n);
    /// smoothing(n, 0) on every trace.
    void smoothing(int n);
    /// trippleMexicanHatFilter(startWidth, endWidth) on every trace.
    void trippleMexicanHatFilter(double startWidth, double endWidth);
    /// cleaning(startTime, removeNegativePeaks) on every trace.
    void cleaning(double startTime, int removeNegativePeaks);
    /// Envelope-normalises every trace to a common target height (0.6 times
    /// the largest sample in the first fifth of any window). endPnt: last
    /// sample used to build the envelopes. Returns the target height.
    double envelopeNormalize(int endPnt);

protected:
    /// Second channel at pnt: the largest positive channel other than
    /// `dominant` above threshold; -1 when none.
    int getSecondDominantChnl(int pnt, int dominant, double threshold) const;
    /// zeroMinimum() on every trace.
    void zeroMinimum();
    /// Replaces every sample vector x (whole traces) by m * x; m is
    /// numTraces x numTraces.
    void specSep(const KwdbMatrix& m);
    /// Learns a separation matrix from the capillary's own data and applies
    /// it. tolerance: target remaining cross-talk (ratio, e.g. 0.01);
    /// fileName: text file for the matrix, or null; ssm: numTraces rows of
    /// numTraces floats receiving the matrix, or null; acceptFactor:
    /// multiple of tolerance accepted at the end; useRobust: 0 for the plain
    /// estimation, else the robust one. Returns 1 when applied; 0 with the
    /// capillary unchanged.
    int specSep(double tolerance, const char* fileName, float** ssm, double acceptFactor,
                int useRobust);
    /// Refines the system matrix on this capillary and applies the refined
    /// matrix, returned in ssm (required). Returns 1 when applied; 0 with
    /// the capillary and ssm unchanged (also for a null ssm).
    int specSep(double tolerance, double acceptFactor, float** ssm);
    /// fixScar() on every trace.
    void fixScar();
    /// setNoiseLevelForNormalized(ceiling) on every trace.
    void setNoiseLevelForNormalized(double ceiling);

    int numData;                   ///< samples per trace
    int signalStartPnt;            ///< first sample of the window
    int signalEndPnt;              ///< last sample of the window (inclusive)
    int numTraces;                 ///< number of traces
    int approxPeakWidth;           ///< approximate peak width, samples; -1 unset
    double samplingRate;           ///< samples per second
    KwTrace* traces;               ///< owned array of numTraces traces
    KwSpecSepTable* specSepTable;  ///< owned system separation matrix
};

#endif
