// Colour (spectral) separation: the cross-talk table measured from a
// capillary, and the separation matrix estimated from it.
//
// A separation matrix M maps the vector x of channel values at one sample
// index to the separated dye intensities y = M x; its inverse is the mixing
// matrix, whose column q is what pure dye q looks like in the channels. A
// cross-talk table holds, in column d, the spectrum of dye d scaled so that
// its own channel reads 1.0.
#ifndef KWSIGNAL_SEPARATION_H
#define KWSIGNAL_SEPARATION_H

#include "kwsignal/containers.h"
#include "kwsignal/export.h"

class KwCap;

/// Separation matrix of a capillary: numTraces x numTraces doubles, rows
/// and columns indexed 0..n-1.
class KW_API KwSpecSepTable : public KwdbMatrix {
public:
    /// Empty matrix (no elements).
    KwSpecSepTable();
    /// n x n matrix of zeros (n >= 0).
    explicit KwSpecSepTable(int n);
    KwSpecSepTable(const KwSpecSepTable& t);
    KwSpecSepTable& operator=(const KwSpecSepTable& t);
    KwSpecSepTable& operator=(const KwdbMatrix& m);
    /// Fills every element with v.
    KwSpecSepTable& operator=(double v);

    /// Learns a separation matrix from cap (not modified) by repeatedly
    /// measuring the plain cross-talk, inverting a damped form of it and
    /// applying it to a working copy. startPnt..endPnt: learning window
    /// (sample indices inside cap); tolerance: remaining cross-talk at
    /// which to stop (ratio, > 0, e.g. 0.01); acceptFactor: the final
    /// residual must be below acceptFactor * tolerance. Returns 1 when the
    /// table holds an accepted matrix; 0 otherwise (discard the table).
    int setup(const KwCap& cap, int startPnt, int endPnt, double tolerance, double acceptFactor);
    /// As setup with the robust measurement, on a smoothed working copy
    /// whose window is at most max(1000 s, a fifth of the run) long.
    /// rate: samples per second of cap (> 0).
    int setup1(const KwCap& cap, int startPnt, int endPnt, double tolerance, double acceptFactor,
               double rate);
    /// Rescales the matrix so that each dye keeps its own-channel
    /// intensity (every column of the inverse gets 1.0 on its diagonal).
    void normalizeXTalkMatrix();
    /// Multiplies every off-diagonal element by factor (e.g. 0.8).
    void damping(double factor);
    /// Writes the matrix as text, one row per line, each element as "%f ".
    /// A file that cannot be created is reported on stderr.
    void output(const char* fileName) const;

protected:
    /// Number of rows (channels).
    int getNumChnls() const;
};

/// Cross-talk table: element (k, d) is the ratio of channel k to channel d
/// on the samples of dye d.
class KW_API KwCrossTalkTable : public KwdbMatrix {
public:
    /// 4 x 4 table of zeros.
    KwCrossTalkTable();
    /// n x n table of zeros.
    explicit KwCrossTalkTable(int n);
    KwCrossTalkTable(const KwCrossTalkTable& t);
    KwCrossTalkTable& operator=(const KwCrossTalkTable& t);
    /// Fills every element with v.
    KwCrossTalkTable& operator=(double v);

    /// Plain measurement over cap's signal window: each sample goes to the
    /// dye dominating it; column d is the most probable ratio over dye d's
    /// samples. Returns 1; 0 (table unchanged) when some channel dominates
    /// no sample of the window.
    int measureFrom(const KwCap& cap);
    /// Robust measurement on the strong samples only, one dye at a time.
    /// Returns the largest off-diagonal ratio (>= 0), or -1.0 when the
    /// measurement failed (window under 100 samples, a channel without
    /// peaks, a dye without samples).
    double measureFrom1(const KwCap& cap);
};

#endif
