// KwdbTensor, KwdbMatrix and KwdbVector: the small dense linear algebra of the
// separation matrices and the peak-fit normal equations.
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "containers/buffers.h"
#include "kwsignal/containers.h"

namespace {

double maxAbsOf(const double* p, int n) {
    double best = 0.0;
    for (int i = 0; i < n; ++i) best = std::max(best, std::fabs(p[i]));  // NaN never wins
    return best;
}

bool allFinite(const double* p, int n) {
    return std::all_of(p, p + n, [](double v) { return std::isfinite(v); });
}

void swapRows(double* p, int cols, int r1, int r2) {
    if (r1 != r2) std::swap_ranges(p + r1 * cols, p + (r1 + 1) * cols, p + r2 * cols);
}

// Row r -= f * row c, over the columns from `from` on.
void subtractRow(double* p, int cols, int r, int c, double f, int from) {
    for (int j = from; j < cols; ++j) p[r * cols + j] -= f * p[c * cols + j];
}

// Reduces the n x n row-major block a by elimination with partial pivoting and
// applies every row operation to the n x k block rhs as well. Plain Gaussian
// elimination clears below each pivot (a ends upper triangular); Gauss-Jordan
// also clears above it and scales the pivots to 1 (a ends as the identity).
// False when a pivot falls below 1e-300 of the largest element (or is NaN).
// N > 0 fixes the size at compile time (n is then N), so that the loops of
// the small systems the peak fit solves unroll; the operations stay the same.
template <int N = 0>
bool eliminate(double* a, double* rhs, int size, int k, bool jordan) {
    const int n = N > 0 ? N : size;
    const double tol = 1e-300 * maxAbsOf(a, n * n);
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r) {
            if (std::fabs(a[r * n + c]) > std::fabs(a[p * n + c])) p = r;
        }
        if (!(std::fabs(a[p * n + c]) > tol)) return false;
        swapRows(a, n, p, c);
        swapRows(rhs, k, p, c);
        const double pivot = a[c * n + c];
        if (jordan) {
            for (int j = c; j < n; ++j) a[c * n + j] /= pivot;
            for (int j = 0; j < k; ++j) rhs[c * k + j] /= pivot;
        }
        for (int r = jordan ? 0 : c + 1; r < n; ++r) {
            if (r == c) continue;
            const double f = a[r * n + c] / a[c * n + c];
            subtractRow(a, n, r, c, f, c);
            subtractRow(rhs, k, r, c, f, 0);
        }
    }
    return true;
}

// Solves the upper triangular system u * x = b in place of b.
template <int N = 0>
void backSubstitute(const double* u, double* b, int size) {
    const int n = N > 0 ? N : size;
    for (int i = n - 1; i >= 0; --i) {
        double s = b[i];
        for (int j = i + 1; j < n; ++j) s -= u[i * n + j] * b[j];
        b[i] = s / u[i * n + i];
    }
}

}  // namespace

// ---- KwdbTensor --------------------------------------------------------------

KwdbTensor::KwdbTensor() : numElements(0), elem(nullptr) {}

KwdbTensor::KwdbTensor(const KwdbTensor& t)
    : numElements(t.numElements), elem(kw::detail::newCopy(t.numElements, t.elem)) {}

KwdbTensor& KwdbTensor::operator=(const KwdbTensor& t) {
    if (this != &t) kw::detail::assignCopy(elem, numElements, t.elem, t.numElements);
    return *this;
}

KwdbTensor::~KwdbTensor() {
    delete[] elem;
}

void KwdbTensor::allocate(int n) {
    kw::detail::assignZeroed(elem, numElements, n);
}

double KwdbTensor::maxAbsValue() const {
    return maxAbsOf(elem, numElements);
}

KwdbTensor& KwdbTensor::operator+=(const KwdbTensor& t) {
    if (t.numElements != numElements) return *this;
    for (int i = 0; i < numElements; ++i) elem[i] += t.elem[i];
    return *this;
}

void KwdbTensor::beProductOf(double s, const KwdbTensor& t) {
    if (t.numElements != numElements) allocate(t.numElements);  // t is not this here
    for (int i = 0; i < numElements; ++i) elem[i] = s * t.elem[i];
}

// ---- KwdbMatrix --------------------------------------------------------------

KwdbMatrix::KwdbMatrix() : firstRow(0), numRows(0), firstCol(0), numCols(0) {}

KwdbMatrix::KwdbMatrix(int fromRow, int lastRow, int fromCol, int lastCol)
    : firstRow(0), numRows(0), firstCol(0), numCols(0) {
    reshape(fromRow, lastRow, fromCol, lastCol);
}

KwdbMatrix::KwdbMatrix(const KwdbMatrix& m)
    : KwdbTensor(m),
      firstRow(m.firstRow),
      numRows(m.numRows),
      firstCol(m.firstCol),
      numCols(m.numCols) {}

KwdbMatrix& KwdbMatrix::operator=(const KwdbMatrix& m) {
    KwdbTensor::operator=(m);
    firstRow = m.firstRow;
    numRows = m.numRows;
    firstCol = m.firstCol;
    numCols = m.numCols;
    return *this;
}

KwdbMatrix& KwdbMatrix::operator=(double v) {
    std::fill(elem, elem + numElements, v);
    return *this;
}

KwRange KwdbMatrix::getRowRange() const {
    return KwRange(firstRow, firstRow + numRows - 1);
}

void KwdbMatrix::reshape(int fromRow, int lastRow, int fromCol, int lastCol) {
    const bool empty = lastRow < fromRow || lastCol < fromCol;
    firstRow = fromRow;
    firstCol = fromCol;
    numRows = empty ? 0 : lastRow - fromRow + 1;
    numCols = empty ? 0 : lastCol - fromCol + 1;
    allocate(numRows * numCols);
}

void KwdbMatrix::beProductOf(const KwdbMatrix& a, const KwdbMatrix& b) {
    if (a.numCols != b.numRows) return;
    KwdbMatrix p(a.firstRow, a.firstRow + a.numRows - 1, b.firstCol, b.firstCol + b.numCols - 1);
    for (int i = 0; i < p.numRows; ++i) {
        for (int j = 0; j < p.numCols; ++j) {
            double s = 0.0;
            for (int k = 0; k < a.numCols; ++k)
                s += a.elem[i * a.numCols + k] * b.elem[k * b.numCols + j];
            p.elem[i * p.numCols + j] = s;
        }
    }
    *this = p;
}

int KwdbMatrix::beInverseOf(const KwdbMatrix& m) {
    const int n = m.numRows;
    const bool square = m.numRows == m.numCols;
    std::vector<double> a(m.elem, m.elem + m.numElements);
    std::vector<double> inv(square ? a.size() : 0, 0.0);
    for (int i = 0; i < (square ? n : 0); ++i) inv[i * n + i] = 1.0;
    const bool ok =
        square && eliminate(a.data(), inv.data(), n, n, true) && allFinite(inv.data(), n * n);

    // m may be this: its shape is read before the storage is replaced.
    const int rows = m.numRows, cols = m.numCols;
    reshape(m.firstRow, m.firstRow + rows - 1, m.firstCol, m.firstCol + cols - 1);
    if (ok) {
        std::copy(inv.begin(), inv.end(), elem);
        return 1;
    }
    for (int i = 0; i < std::min(rows, cols); ++i) elem[i * cols + i] = 1.0;
    return 0;
}

void KwdbMatrix::beDyadOf(const KwdbVector& u, const KwdbVector& v) {
    const int rows = u.getNumElements(), cols = v.getNumElements();
    reshape(0, rows - 1, 0, cols - 1);
    for (int i = 0; i < numRows; ++i) {
        for (int j = 0; j < numCols; ++j)
            elem[i * numCols + j] = u(u.getFirst() + i) * v(v.getFirst() + j);
    }
}

// ---- KwdbVector --------------------------------------------------------------

KwdbVector::KwdbVector() : first(0) {}

KwdbVector::KwdbVector(int from, int last) : first(from) {
    allocate(last >= from ? last - from + 1 : 0);
}

KwdbVector::KwdbVector(const KwdbVector& v) : KwdbTensor(v), first(v.first) {}

KwdbVector& KwdbVector::operator=(const KwdbVector& v) {
    KwdbTensor::operator=(v);
    first = v.first;
    return *this;
}

KwdbVector& KwdbVector::operator=(double v) {
    std::fill(elem, elem + numElements, v);
    return *this;
}

namespace {

// out[i] := row i of the row-major rows x cols matrix a times v.
void multiply(const double* a, int rows, int cols, const double* v, double* out) {
    for (int i = 0; i < rows; ++i) {
        double s = 0.0;
        for (int k = 0; k < cols; ++k) s += a[i * cols + k] * v[k];
        out[i] = s;
    }
}

}  // namespace

// Applied once per sample index when a capillary is separated, so the common
// case (no aliasing, size already right) writes in place without allocating.
void KwdbVector::beProductOf(const KwdbMatrix& m, const KwdbVector& v) {
    const int rows = m.getNumRows(), cols = m.getNumCols();
    if (cols != v.numElements) return;
    if (&v != this && numElements == rows) {
        multiply(m.getElements(), rows, cols, v.elem, elem);
        first = m.getRowRange().getMin();
        return;
    }
    KwdbVector p(m.getRowRange().getMin(), m.getRowRange().getMax());
    multiply(m.getElements(), rows, cols, v.elem, p.elem);
    *this = p;
}

// Every mode is solved the same way; kwsignal only passes 0. A peak fit
// solves thousands of systems of a few unknowns, one per damped step: those
// are worked on the stack, and this keeps its buffer when its length stays.
int KwdbVector::beSolutionOf(const KwdbMatrix& a, const KwdbVector& b, char /*mode*/) {
    constexpr int kOnStack = 16;
    const int n = b.numElements;
    std::array<double, kOnStack*(kOnStack + 1)> small;
    std::vector<double> large;
    double* work = small.data();
    if (n > kOnStack) {
        large.resize(static_cast<size_t>(n) * (n + 1));
        work = large.data();
    }
    double* x = work + n * n;  // the right-hand side, then the solution
    bool ok = a.getNumRows() == n && a.getNumCols() == n;
    if (ok) {
        std::copy(a.getElements(), a.getElements() + n * n, work);
        std::copy(b.elem, b.elem + n, x);
        // Four unknowns: the damped step of a fit of one peak.
        if (n == 4) {
            ok = eliminate<4>(work, x, n, 1, false);
            if (ok) backSubstitute<4>(work, x, n);
        } else {
            ok = eliminate(work, x, n, 1, false);
            if (ok) backSubstitute(work, x, n);
        }
        ok = ok && allFinite(x, n);
    }
    first = b.first;  // b may be this: its solution is already copied out
    if (numElements != n) allocate(n);
    if (ok)
        std::copy(x, x + n, elem);
    else
        std::fill(elem, elem + n, 0.0);
    return ok ? 1 : 0;
}
