// The numeric array layer every kwsignal class rests on: arrays of doubles,
// small dense matrices and vectors, integer ranges, point sets with
// polynomial and Legendre fits.
//
// The systems solved here are small (4 x 4 separation matrices, the
// (3N+1) x (3N+1) normal equations of a peak fit), so the layer is plain,
// dependency-free and favours clarity over blocking or vectorisation.
//
// Conventions shared by every class:
//  - indices are 0-based and every range "first..last" includes both ends;
//  - newly sized arrays, matrices and vectors start at 0.0;
//  - copies are deep; assignment to itself is harmless.
#ifndef KWSIGNAL_CONTAINERS_H
#define KWSIGNAL_CONTAINERS_H

#include "kwsignal/export.h"

/// Array of doubles; base of KwTrace, which reads `numData` and `data`
/// directly.
class KW_API KwdbAry {
public:
    /// Empty array (0 samples, null data).
    KwdbAry();
    /// n samples, all 0.0. n: sample count, >= 0 (a negative n gives an
    /// empty array).
    explicit KwdbAry(int n);
    /// n samples copied from p[0..n-1]; p stays the caller's and may be null
    /// only when n is 0.
    KwdbAry(int n, const double* p);
    KwdbAry(const KwdbAry& a);
    KwdbAry& operator=(const KwdbAry& a);
    /// Takes a's samples without copying them; a is left empty.
    KwdbAry(KwdbAry&& a) noexcept;
    KwdbAry& operator=(KwdbAry&& a) noexcept;
    ~KwdbAry();

    /// Resizes to n samples (n >= 0; negative gives 0); every sample becomes
    /// 0.0, the old contents are discarded.
    void init(int n);
    /// Writable sample i, 0 <= i < getNumData(); not bounds-checked.
    double& operator[](int i) { return data[i]; }
    double operator[](int i) const { return data[i]; }
    int getNumData() const { return numData; }
    /// Largest sample of first..last (inclusive, 0 <= first <= last <
    /// getNumData()). An empty or inverted range gives -1e300.
    double getMaxData(int first, int last) const;
    /// Smallest sample of first..last (inclusive). An empty or inverted range
    /// gives 1e300.
    double getMinData(int first, int last) const;
    /// Sum of |sample| over all samples (0.0 for an empty array).
    double norm1() const;
    /// Most frequent value, counted in bins of `width` (same unit as the
    /// samples, > 0). Bins start at the smallest element: bin b holds values
    /// in [min + b*width, min + (b+1)*width). The fullest bin wins, ties go
    /// to the lowest bin, and the result is the mean of the elements of that
    /// bin (more exact than the bin centre when the bin is wide). An empty
    /// array gives 0.0; a width that is not > 0 (or not finite) puts every
    /// element into one bin, so the result is the mean. Non-finite elements
    /// are ignored.
    double mostProbableValue(double width) const;

protected:
    int numData;   ///< number of samples
    double* data;  ///< the samples, index 0..numData-1 (null when empty)
};

/// Dense block of doubles; common base of KwdbMatrix and KwdbVector.
class KW_API KwdbTensor {
public:
    KwdbTensor();
    KwdbTensor(const KwdbTensor& t);
    KwdbTensor& operator=(const KwdbTensor& t);
    ~KwdbTensor();

    int getNumElements() const { return numElements; }
    /// Read-only view of the elements (row-major for matrices); null when
    /// there are none.
    const double* getElements() const { return elem; }
    /// Largest |element|; 0.0 when there are no elements.
    double maxAbsValue() const;
    /// Element-wise sum; the two tensors must have the same element count
    /// (a mismatch leaves this unchanged).
    KwdbTensor& operator+=(const KwdbTensor& t);
    /// This becomes s * t (element-wise scaling); takes t's element count
    /// when the counts differ (shape is kept only when they match).
    void beProductOf(double s, const KwdbTensor& t);

protected:
    /// Replaces the storage by n zero elements.
    void allocate(int n);

    int numElements;  ///< number of elements
    double* elem;     ///< the elements, row-major for matrices
};

class KwRange;
class KwdbVector;

/// Dense matrix of doubles with inclusive index ranges; kwsignal always uses
/// 0..n-1.
class KW_API KwdbMatrix : public KwdbTensor {
public:
    /// No elements (getNumElements() == 0).
    KwdbMatrix();
    /// Rows firstRow..lastRow and columns firstCol..lastCol, all 0.0. An
    /// inverted range gives a matrix without elements.
    KwdbMatrix(int firstRow, int lastRow, int firstCol, int lastCol);
    KwdbMatrix(const KwdbMatrix& m);
    /// Deep copy; takes m's shape.
    KwdbMatrix& operator=(const KwdbMatrix& m);
    /// Fills every element with v.
    KwdbMatrix& operator=(double v);

    /// Writable element (row, col); not bounds-checked.
    double& operator()(int row, int col) {
        return elem[(row - firstRow) * numCols + (col - firstCol)];
    }
    double operator()(int row, int col) const {
        return elem[(row - firstRow) * numCols + (col - firstCol)];
    }

    int getNumRows() const { return numRows; }
    int getNumCols() const { return numCols; }
    /// The row index range firstRow..lastRow.
    KwRange getRowRange() const;

    using KwdbTensor::beProductOf;
    /// This becomes a * b (a's rows, b's columns; a's column count must
    /// equal b's row count, otherwise this is left unchanged). Safe when
    /// this is a or b.
    void beProductOf(const KwdbMatrix& a, const KwdbMatrix& b);
    /// This becomes m^-1 by Gauss-Jordan elimination with partial pivoting.
    /// Returns 1 on success. Returns 0 for a singular (pivot of magnitude
    /// below 1e-300 relative to the largest element) or non-square matrix;
    /// this then holds the identity of m's shape, so callers that do not
    /// check the result go on with finite values. Safe when this is m.
    int beInverseOf(const KwdbMatrix& m);
    /// This becomes the outer product u * v^T (u's length rows, v's length
    /// columns, index ranges 0..len-1).
    void beDyadOf(const KwdbVector& u, const KwdbVector& v);

protected:
    void reshape(int firstRow, int lastRow, int firstCol, int lastCol);

    int firstRow, numRows, firstCol, numCols;
};

/// Column vector of doubles with an inclusive index range; kwsignal always
/// uses 0..n-1.
class KW_API KwdbVector : public KwdbTensor {
public:
    KwdbVector();
    /// Elements first..last, all 0.0. An inverted range gives no elements.
    KwdbVector(int first, int last);
    KwdbVector(const KwdbVector& v);
    KwdbVector& operator=(const KwdbVector& v);
    /// Fills every element with v.
    KwdbVector& operator=(double v);

    /// Writable element i; not bounds-checked.
    double& operator()(int i) { return elem[i - first]; }
    double operator()(int i) const { return elem[i - first]; }
    int getFirst() const { return first; }
    int getLast() const { return first + numElements - 1; }

    using KwdbTensor::beProductOf;
    /// This becomes m * v (m's row count elements). m's column count must
    /// equal v's length, otherwise this is left unchanged. Safe when this
    /// is v.
    void beProductOf(const KwdbMatrix& m, const KwdbVector& v);
    /// This becomes x with a * x = b, by Gaussian elimination with partial
    /// pivoting (mode 0, the only mode). Returns 1 on success; 0 when a is
    /// singular or the sizes do not match, this then holding zeros of b's
    /// length.
    int beSolutionOf(const KwdbMatrix& a, const KwdbVector& b, char mode);

protected:
    int first;
};

/// Inclusive integer range min..max.
class KW_API KwRange {
public:
    /// The default range is 0..0 (length 1).
    KwRange() : minV(0), maxV(0) {}
    KwRange(int lo, int hi) : minV(lo), maxV(hi) {}
    void setMin(int v) { minV = v; }
    void setMax(int v) { maxV = v; }
    int getMin() const { return minV; }
    int getMax() const { return maxV; }
    /// max - min + 1.
    int getLength() const { return maxV - minV + 1; }

private:
    int minV, maxV;
};

/// Set of n points (x, y) with interpolation and least-squares fits.
class KW_API KwXY {
public:
    /// n points, all (0, 0). n >= 0.
    explicit KwXY(int n);
    KwXY(const KwXY& p);
    KwXY& operator=(const KwXY& p);
    ~KwXY();

    int getNumPoints() const { return numPoints; }
    /// Writable coordinates of point i, 0 <= i < n; not bounds-checked.
    double& x(int i) { return xs[i]; }
    double& y(int i) { return ys[i]; }
    double x(int i) const { return xs[i]; }
    double y(int i) const { return ys[i]; }

    /// y := the value at abscissa `at` of the polynomial of degree count-1
    /// through points first..first+count-1 (Neville's algorithm); dy :=
    /// an error estimate (the last correction). The points must lie inside
    /// the set and have distinct x. Returns 1; 0 (y, dy = 0) when count < 1
    /// or the range leaves the set or two x coincide.
    int polynomInterpolat(double at, double& y, double& dy, int first, int count) const;
    /// Least-squares Legendre series of the given degree (>= 0) through all
    /// points. The points' x range [xmin, xmax] is mapped linearly onto
    /// low..high (inside -1..1) before fitting, so that
    ///   y(x) ~ sum_j coef[j] * LegPol(j, u(x)),
    ///   u(x) = low + (x - xmin) * (high - low) / (xmax - xmin).
    /// coef must hold degree + 1 values. The degree is lowered to n - 1 when
    /// there are fewer points than coefficients (higher coefficients are set
    /// to 0). flag is reserved and must be 0. Returns 1 on success, 0 when
    /// there is no point or the normal equations are singular (coef then all
    /// 0).
    int LegendreFit(int degree, double* coef, double low, double high, int flag) const;

private:
    int numPoints;
    double* xs;
    double* ys;
};

/// Legendre polynomial of degree k (k >= 0; negative k gives 0.0) at x,
/// by the three-term recurrence.
KW_API double LegPol(int k, double x);

#endif
