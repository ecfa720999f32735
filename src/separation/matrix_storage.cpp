// The separation matrix as a container, the capillary's system matrix and
// the application of a matrix to every sample vector of a capillary.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "common/wide_vectors.h"
#include "kwsignal/capillary.h"
#include "kwsignal/separation.h"

KwSpecSepTable::KwSpecSepTable() : KwdbMatrix() {}

KwSpecSepTable::KwSpecSepTable(int n) : KwdbMatrix(0, n - 1, 0, n - 1) {}

KwSpecSepTable::KwSpecSepTable(const KwSpecSepTable& t) = default;

KwSpecSepTable& KwSpecSepTable::operator=(const KwSpecSepTable& t) {
    KwdbMatrix::operator=(t);
    return *this;
}

KwSpecSepTable& KwSpecSepTable::operator=(const KwdbMatrix& m) {
    KwdbMatrix::operator=(m);
    return *this;
}

KwSpecSepTable& KwSpecSepTable::operator=(double v) {
    KwdbMatrix::operator=(v);
    return *this;
}

int KwSpecSepTable::getNumChnls() const {
    return getRowRange().getLength();
}

void KwCap::setSystemSSM(const float** ssm) {
    if (ssm == nullptr) return;
    for (int r = 0; r < numTraces; ++r)
        for (int q = 0; q < numTraces; ++q) (*specSepTable)(r, q) = ssm[r][q];
}

namespace {

// Sample indices separated together: the separated block of every channel
// stays in the first-level cache until it is written back.
constexpr int kSepBlock = 256;

// y[0..len-1] := row r of the nt x nt row-major matrix a applied to the
// sample vectors x[0..nt-1][0..len-1], summed over the channels in order
// from zero as a matrix-vector product sums them.
void separatedRow(const double* a, int nt, int r, const double* const* x, int len, double* y) {
    std::fill(y, y + len, 0.0);
    for (int q = 0; q < nt; ++q) {
        const double c = a[r * nt + q];
        const double* xq = x[q];
        for (int i = 0; i < len; ++i) y[i] += c * xq[i];
    }
}

// The nt x nt row-major matrix a applied to the first n samples of the nt
// traces. Every channel of a sample is replaced from the values before the
// call, so a block is separated for all channels before any is written
// back. Cloned for wide vectors here rather than in KwCap::specSep.
KW_WIDE_VECTORS void separateTraces(const double* a, KwTrace* traces, int nt, int n) {
    std::vector<double> block(static_cast<std::size_t>(nt) * kSepBlock);
    std::vector<const double*> x(nt);
    for (int first = 0; first < n; first += kSepBlock) {
        const int len = std::min(kSepBlock, n - first);
        for (int k = 0; k < nt; ++k) x[k] = &traces[k][first];
        for (int r = 0; r < nt; ++r) separatedRow(a, nt, r, x.data(), len, &block[r * kSepBlock]);
        for (int r = 0; r < nt; ++r) {
            const double* y = &block[r * kSepBlock];
            std::copy(y, y + len, &traces[r][first]);
        }
    }
}

}  // namespace

void KwCap::specSep(const KwdbMatrix& m) {
    // A matrix of another size than the capillary's channel count cannot be
    // applied sample by sample; leave the data as it is.
    if (numTraces == 0 || m.getNumRows() != numTraces || m.getNumCols() != numTraces) return;
    separateTraces(m.getElements(), traces, numTraces, traces[0].getNumData());
}
