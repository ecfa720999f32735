// Row arrays as the capillary's file readers hand them out, and the empty
// result of a file that cannot be read.
#ifndef KWSIGNAL_SRC_IO_ROWS_H
#define KWSIGNAL_SRC_IO_ROWS_H

namespace kw::detail {

/// A row array of numTraces rows of numData zero samples (numTraces >= 1,
/// numData >= 0). The pointer array always has at least four entries, the
/// ones past numTraces null, because KwCap::ReleasePointer visits rows[0..3]
/// whatever the trace count: a one-, two- or three-trace array can then be
/// released there without reading past its end. Every row is a new double[]
/// and the pointer array a new double*[], so both are freed with delete[].
inline double** newRowArray(int numTraces, int numData) {
    const int numPtrs = numTraces > 4 ? numTraces : 4;
    double** rows = new double*[numPtrs]();
    for (int t = 0; t < numTraces; ++t) rows[t] = new double[numData]();
    return rows;
}

/// Frees a row array of numTraces rows made by newRowArray (null is
/// ignored).
inline void deleteRowArray(double** rows, int numTraces) {
    if (rows == nullptr) return;
    for (int t = 0; t < numTraces; ++t) delete[] rows[t];
    delete[] rows;
}

/// The outputs of a reader that found nothing it could read: no traces, no
/// samples, no rows.
inline void clearRows(int& numTraces, int& numData, double*** rows) {
    numTraces = 0;
    numData = 0;
    *rows = nullptr;
}

}  // namespace kw::detail

#endif
