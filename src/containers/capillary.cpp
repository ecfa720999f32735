// KwCap as a container: construction, copying, the window and the operations
// applied to every trace.
#include "kwsignal/capillary.h"

#include "kwsignal/separation.h"

namespace {

// A negative trace count would make the trace array impossible to allocate;
// such a capillary simply holds no traces.
int traceCount(int n) {
    return n > 0 ? n : 0;
}

}  // namespace

KwCap::KwCap()
    : numData(1),
      signalStartPnt(0),
      signalEndPnt(0),
      numTraces(0),
      approxPeakWidth(-1),
      samplingRate(0.0),
      traces(nullptr),
      specSepTable(nullptr) {}

KwCap::KwCap(int n)
    : numData(0),
      signalStartPnt(0),
      signalEndPnt(0),
      numTraces(traceCount(n)),
      approxPeakWidth(-1),
      samplingRate(0.0),
      traces(new KwTrace[numTraces]),
      specSepTable(new KwSpecSepTable(numTraces)) {}

KwCap::KwCap(int n, int m)
    : numData(m),
      signalStartPnt(0),
      signalEndPnt(0),
      numTraces(traceCount(n)),
      approxPeakWidth(-1),
      samplingRate(0.0),
      traces(new KwTrace[numTraces]),
      specSepTable(new KwSpecSepTable(numTraces)) {
    for (int t = 0; t < numTraces; ++t) traces[t].init(m);
}

KwCap::KwCap(int n, int m, double** rows, double rate)
    : numData(m),
      signalStartPnt(0),
      signalEndPnt(m - 1),
      numTraces(traceCount(n)),
      approxPeakWidth(-1),
      samplingRate(rate),
      traces(new KwTrace[numTraces]),
      specSepTable(new KwSpecSepTable(numTraces)) {
    for (int t = 0; t < numTraces; ++t) {
        traces[t] = KwTrace(m, rows[t]);
        traces[t].setSampleRate(rate);
        traces[t].setSignalEndPnt(m - 1);
    }
}

// The rate of a copy follows its source: a copy of a capillary is the same
// run, and the separation code learns on copies at the source's rate.
KwCap::KwCap(const KwCap& c)
    : numData(c.numData),
      signalStartPnt(c.signalStartPnt),
      signalEndPnt(c.signalEndPnt),
      numTraces(c.numTraces),
      approxPeakWidth(c.approxPeakWidth),
      samplingRate(c.samplingRate),
      traces(new KwTrace[c.numTraces]),
      specSepTable(c.specSepTable != nullptr ? new KwSpecSepTable(*c.specSepTable)
                                             : new KwSpecSepTable(c.numTraces)) {
    for (int t = 0; t < numTraces; ++t) traces[t] = c.traces[t];
}

KwCap& KwCap::operator=(const KwCap& c) {
    // Assigning a capillary to itself keeps it as it is (table included).
    if (this == &c) return *this;
    numData = c.numData;
    signalStartPnt = c.signalStartPnt;
    signalEndPnt = c.signalEndPnt;
    approxPeakWidth = c.approxPeakWidth;
    numTraces = c.numTraces;
    delete[] traces;
    // Clamped as in every constructor: the count is read again after the
    // old traces' destructors, which the compiler cannot see leave it alone.
    traces = new KwTrace[traceCount(numTraces)];
    for (int t = 0; t < numTraces; ++t) traces[t] = c.traces[t];
    delete specSepTable;
    specSepTable = new KwSpecSepTable(numTraces);
    return *this;
}

KwCap& KwCap::operator=(double v) {
    for (int t = 0; t < numTraces; ++t) traces[t] = v;
    return *this;
}

KwCap::~KwCap() {
    delete[] traces;
    traces = nullptr;
    delete specSepTable;
    specSepTable = nullptr;
}

void KwCap::setSignalStartPnt(int n) {
    signalStartPnt = n;
    for (int t = 0; t < numTraces; ++t) traces[t].setSignalStartPnt(n);
}

void KwCap::setSignalEndPnt(int n) {
    signalEndPnt = n;
    for (int t = 0; t < numTraces; ++t) traces[t].setSignalEndPnt(n);
}

void KwCap::ReleasePointer(double** rows) {
    if (rows == nullptr) return;
    // The readers hand out pointer arrays of at least four entries, padded
    // with nulls, so visiting four entries is always safe for them.
    for (int t = 0; t < 4; ++t) {
        delete[] rows[t];
        rows[t] = nullptr;
    }
    delete[] rows;
}

void KwCap::normalizeL1(double* factors) {
    for (int t = 0; t < numTraces; ++t) factors[t] = traces[t].normalizeL1();
}

void KwCap::zeroMinimum() {
    for (int t = 0; t < numTraces; ++t) traces[t].zeroMinimum();
}
