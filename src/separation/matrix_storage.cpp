// The separation matrix as a container, the capillary's system matrix and
// the application of a matrix to every sample vector of a capillary.
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

void KwCap::specSep(const KwdbMatrix& m) {
    // A matrix of another size than the capillary's channel count cannot be
    // applied sample by sample; leave the data as it is.
    if (numTraces == 0 || m.getNumRows() != numTraces || m.getNumCols() != numTraces) return;
    const int n = traces[0].getNumData();
    KwdbVector x(0, numTraces - 1);
    KwdbVector y(0, numTraces - 1);
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < numTraces; ++k) x(k) = traces[k][i];
        y.beProductOf(m, x);
        for (int k = 0; k < numTraces; ++k) traces[k][i] = y(k);
    }
}
