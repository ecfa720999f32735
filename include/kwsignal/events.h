// Events (a peak or a group of overlapping peaks on one trace) with their
// humps, and the Gaussian peak record fitted to them.
//
// An event-local index is a trace sample index minus the event's outer start
// (outerBounds[0]); event-local index 0 is the event's first sample.
#ifndef KWSIGNAL_EVENTS_H
#define KWSIGNAL_EVENTS_H

#include "kwsignal/containers.h"
#include "kwsignal/export.h"

class KwPeak;

/// One hump (local maximum) of an event. A node does not own its successor.
/// Its accessors serve the library's own hump walks.
class KW_API KwHump {
public:
    KwHump() : valleyLocatn(-1), apexLocatn(-1), next(nullptr) {}
    int getApexLocatn() const { return apexLocatn; }
    void setApexLocatn(int v) { apexLocatn = v; }
    int getValleyLocatn() const { return valleyLocatn; }
    void setValleyLocatn(int v) { valleyLocatn = v; }
    KwHump* getNext() const { return next; }
    void setNext(KwHump* h) { next = h; }

private:
    int valleyLocatn;  ///< event-local index of the lowest sample before the apex
    int apexLocatn;    ///< trace index until finishUp, event-local after
    KwHump* next;
};

/// Singly linked list of humps, owned by the list.
class KW_API KwHumpList {
public:
    KwHumpList();
    KwHumpList(const KwHumpList& src);
    /// Deep copy; self-assignment leaves the list unchanged.
    KwHumpList& operator=(const KwHumpList& src);
    ~KwHumpList();

    /// Appends a hump whose apex is at trace index `locatn`.
    void addApexGlobalLocatn(int locatn);
    /// Puts the humps in ascending order, turns apexes into event-local
    /// indices (offset: the event's outer start) and finds each hump's
    /// valley in eventSamples.
    void finishUp(int offset, double* eventSamples);
    int getNumHumps() const { return numHumps; }
    /// First hump (null when empty); walk on with getNext().
    KwHump* getFisrtHump() const { return firstHump; }

protected:
    /// Reverses a descending chain (only the first two nodes are compared).
    void putItInOrder();

private:
    void clear();

    int numHumps;
    KwHump* firstHump;
    KwHump* lastHump;
};

/// One event of a trace: bounds, a private copy of its samples, extremes,
/// humps and the range of its number of peaks.
class KW_API KwEvent {
public:
    /// Bounds 0, 0; no samples; trace code 4 (no channel); extremes 1e100
    /// and -1e100; no humps.
    KwEvent();
    KwEvent(const KwEvent& e);
    /// Deep copy; self-assignment leaves the event unchanged.
    KwEvent& operator=(const KwEvent& e);
    ~KwEvent();

    /// Fills the event from trace samples traceData: bounds from outer[0..1]
    /// and inner[0..1] (trace indices, outer[0] <= outer[1], inside
    /// traceData), a copy of the outer span, its extremes and the finished
    /// humps. An outer width of 1 leaves the event without samples. The
    /// double argument is ignored.
    void setup(int traceCode, int* outerBounds, int* innerBounds, double level,
               const double* traceData);

    /// Sample at event-local index i; not bounds-checked.
    double operator[](int i) const { return samples[i]; }
    double& operator[](int i) { return samples[i]; }
    /// 1 when the event holds samples.
    int dataExist() const { return samples != nullptr ? 1 : 0; }
    double getMaxData() const { return maxData; }
    double getMinData() const { return minData; }
    int getTraceCode() const { return traceCode; }
    /// Appends a hump at trace index `locatn`.
    void addApexGlobalLocatn(int locatn) { humps.addApexGlobalLocatn(locatn); }
    int getMaxNumPeaks() const { return numPeaks.getMax(); }
    int getMinNumPeaks() const { return numPeaks.getMin(); }
    int getNumPeaks() const { return numPeaks.getMax(); }
    int sureAboutNumPeaks() const { return numPeaks.getMax() == numPeaks.getMin() ? 1 : 0; }
    void setMaxNumPeaks(int n) { numPeaks.setMax(n); }
    void setMinNumPeaks(int n) { numPeaks.setMin(n); }
    int getNumHumps() const { return humps.getNumHumps(); }
    /// Minimum and maximum number of peaks := number of humps.
    void setNumPksBeNumHumps();
    int getStartPnt() const { return outerBounds[0]; }
    /// k = 0 (start) or 1 (end), trace indices.
    int getOuterBounds(int k) const { return outerBounds[k]; }
    int getOuterWidth() const { return outerBounds[1] - outerBounds[0] + 1; }
    int getInnerBounds(int k) const { return innerBounds[k]; }
    int getInnerWidth() const { return innerBounds[1] - innerBounds[0] + 1; }
    /// Sum of (sample - minData) over the event (sample units x samples).
    double getArea() const;
    /// Trace index of the event's first highest sample.
    int getSummitPosition() const;
    /// First hump after setup (null when none).
    KwHump* getFisrtHump() const { return humps.getFisrtHump(); }

    /// Fits getMinNumPeaks() Gaussians (>= number of humps) to the event
    /// by damped Gauss-Newton least squares with a common base, writing
    /// peaks[0..N-1] sorted by centre. The event must hold samples and at
    /// least one hump.
    void peakFit(KwPeak* peaks) const;
    /// The initial estimate of peakFit only (base and variance 0).
    void peakFit1(KwPeak* peaks) const;

protected:
    /// Event-local index between lo and hi where the samples cross value
    /// (false-position search).
    int pointWithValueCloseTo(double value, int lo, int hi) const;

private:
    int outerBounds[2];
    int innerBounds[2];
    int summitPosition;
    int traceCode;
    double minData;
    double maxData;
    KwHumpList humps;
    double* samples;
    KwRange numPeaks;
};

/// One Gaussian peak on one trace: value(x) = height * exp(-(x - locatn)^2 /
/// (2 sigma^2)) + base, x a sample index.
class KW_API KwPeak {
public:
    /// All fields 0 except sigma = -1.0.
    KwPeak();

    double getLocatn() const { return locatn; }
    double getHeight() const { return height; }
    double getSigma() const { return sigma; }
    double getBase() const { return base; }
    double getVariance() const { return variance; }
    int getStartPnt() const { return startPnt; }
    int getEndPnt() const { return endPnt; }
    int getTraceCode() const { return traceCode; }
    /// Centre, fractional trace index.
    void setLocatn(double v) { locatn = v; }
    /// Gaussian height, sample units.
    void setHeight(double v) { height = v; }
    /// Standard deviation, samples.
    void setSigma(double v) { sigma = v; }
    /// Constant offset under the peak, sample units.
    void setBase(double v) { base = v; }
    /// Fit quality (relative residual); -1.0 when none.
    void setVariance(double v) { variance = v; }
    void setStartPnt(int v) { startPnt = v; }
    void setEndPnt(int v) { endPnt = v; }
    void setTraceCode(int v) { traceCode = v; }

    /// height / (2 sigma).
    double getNarrowness() const;
    /// sigma * height * 2.5066283 (the Gaussian's area; base not included).
    double getArea() const;
    /// (height - base) * (endPnt - startPnt + 1) * 0.5.
    double getApproximateArea() const;
    /// Splits the peak into two narrower neighbours half a sample either
    /// side; returns the new right-hand one (caller deletes), null when the
    /// span is shorter than 3 samples.
    KwPeak* split();
    /// Adds the curve into buffer[startPnt..endPnt] (buffer indexed by trace
    /// index). The int argument is ignored.
    void synthetic(double* buffer, int n) const;

private:
    int startPnt;
    int endPnt;
    int traceCode;
    double variance;
    double height;
    double locatn;
    double sigma;
    double base;
};

#endif
