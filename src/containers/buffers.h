// Owned double buffers of the array layer: allocation with new[], every
// element zeroed or copied, and a null pointer for an empty buffer.
#ifndef KWSIGNAL_SRC_CONTAINERS_BUFFERS_H
#define KWSIGNAL_SRC_CONTAINERS_BUFFERS_H

#include <algorithm>

namespace kw::detail {

/// n doubles, all 0.0; null when n <= 0.
inline double* newZeroed(int n) {
    return n > 0 ? new double[n]() : nullptr;
}

/// The element count a requested size gives: a negative request gives none.
inline int countOf(int n) {
    return n > 0 ? n : 0;
}

/// A copy of p[0..n-1]; null when n <= 0. A null p gives zeros. A buffer
/// about to be overwritten is not zeroed first: traces are copied often.
inline double* newCopy(int n, const double* p) {
    if (p == nullptr || n <= 0) return newZeroed(n);
    double* q = new double[n];
    std::copy(p, p + n, q);
    return q;
}

/// buf (holding count doubles) becomes a copy of src[0..n-1]; the copy is made
/// before buf is released, so src may be buf itself.
inline void assignCopy(double*& buf, int& count, const double* src, int n) {
    double* q = newCopy(n, src);
    delete[] buf;
    buf = q;
    count = countOf(n);
}

/// buf (holding count doubles) becomes n zeros.
inline void assignZeroed(double*& buf, int& count, int n) {
    delete[] buf;
    buf = newZeroed(n);
    count = countOf(n);
}

}  // namespace kw::detail

#endif
