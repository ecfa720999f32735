// Estimation of a separation matrix from a capillary's own data: measure the
// cross-talk left, invert a damped form of it, apply the inverse to a
// working copy, and repeat; plus normalisation, damping and text output of
// the matrix.
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "common/cap_access.h"
#include "common/learning_window.h"
#include "common/sample_index.h"
#include "kwsignal/capillary.h"
#include "kwsignal/separation.h"

void KwSpecSepTable::normalizeXTalkMatrix() {
    const KwRange rows = getRowRange();
    const int n = rows.getMax() - rows.getMin() + 1;
    if (n < 1) return;
    KwdbMatrix mixing(0, n - 1, 0, n - 1);
    mixing.beInverseOf(*this);
    for (int q = 0; q < n; ++q) {
        const double d = mixing(q, q);
        // A dye that does not show in its own channel cannot be scaled to
        // it; its column of the mixing matrix is left as it is.
        if (d == 0.0 || !std::isfinite(d)) continue;
        for (int r = 0; r < n; ++r) mixing(r, q) /= d;
    }
    beInverseOf(mixing);
}

void KwSpecSepTable::damping(double factor) {
    const int n = getNumChnls();
    for (int r = 0; r < n; ++r)
        for (int q = 0; q < n; ++q)
            if (r != q) (*this)(r, q) *= factor;
}

void KwSpecSepTable::output(const char* fileName) const {
    std::FILE* f = fileName != nullptr ? std::fopen(fileName, "w") : nullptr;
    if (f == nullptr) {
        std::fprintf(stderr, "cannot write separation matrix to %s\n",
                     fileName != nullptr ? fileName : "(no file name)");
        return;
    }
    const int n = getRowRange().getMax() + 1;
    for (int r = 0; r < n; ++r) {
        for (int q = 0; q < n; ++q) std::fprintf(f, "%f ", (*this)(r, q));
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

namespace {

constexpr int kMaxIterations = 15;
constexpr double kPlainDamping[kMaxIterations] = {0.7, 0.6, 0.6, 0.6, 0.6, 0.5, 0.5, 0.5,
                                                  0.4, 0.4, 0.4, 0.3, 0.3, 0.3, 0.3};
constexpr double kRobustDamping[kMaxIterations] = {0.8, 0.7, 0.6, 0.6, 0.6, 0.5, 0.5, 0.5,
                                                   0.4, 0.4, 0.4, 0.3, 0.3, 0.3, 0.3};

// Applies a matrix to every sample vector of a working copy.
using ApplyFn = void (*)(KwCap&, const KwdbMatrix&);

// Measures the cross-talk left in the working copy into xtalk. Returns false
// when the measurement fails; otherwise residual is the largest
// off-diagonal ratio.
bool measureResidual(KwCrossTalkTable& xtalk, const KwCap& work, bool robust, double& residual) {
    if (robust) {
        residual = xtalk.measureFrom1(work);
        return !(residual < 0.0);
    }
    if (xtalk.measureFrom(work) == 0) return false;
    for (int r = 0; r < xtalk.getNumRows(); ++r) xtalk(r, r) = 0.0;
    residual = xtalk.maxAbsValue();
    return true;
}

// inv := the inverse of the measured cross-talk, damped so that it corrects
// only part of it: the plain estimation damps the cross-talk before
// inverting, the robust one the inverse itself.
void dampedInverse(KwCrossTalkTable& xtalk, KwdbMatrix& inv, double damp, bool robust) {
    const int n = xtalk.getNumRows();
    if (robust) {
        inv.beInverseOf(xtalk);
        for (int r = 0; r < n; ++r)
            for (int q = 0; q < n; ++q)
                if (r != q) inv(r, q) *= damp;
        return;
    }
    for (int r = 0; r < n; ++r)
        for (int q = 0; q < n; ++q) xtalk(r, q) *= damp;
    for (int r = 0; r < n; ++r) xtalk(r, r) = 1.0;
    inv.beInverseOf(xtalk);
}

// The iterations shared by both estimations on a prepared working copy whose
// channels were divided by norm[]. table receives the product of the damped
// inverses with the smallest residual, in the units of the original data.
int estimate(KwSpecSepTable& table, KwCap& work, const std::vector<double>& norm, double tolerance,
             double acceptFactor, bool robust, ApplyFn apply) {
    const int n = work.getNumTraces();
    KwCrossTalkTable xtalk(n);
    KwdbMatrix inv(0, n - 1, 0, n - 1);
    KwdbMatrix tmp(0, n - 1, 0, n - 1);
    KwdbMatrix bestMatrix;
    double best = 1.0;
    bool ok = true;
    for (int k = 0; k < kMaxIterations; ++k) {
        double residual = 0.0;
        if (!measureResidual(xtalk, work, robust, residual)) {
            ok = false;
            break;
        }
        if (residual < tolerance && (robust || k > 0)) {
            best = residual;
            // Data already clean at the first look need no correction: the
            // robust estimation then settles on the identity.
            if (k == 0) {
                table = KwdbMatrix(0, n - 1, 0, n - 1);
                for (int r = 0; r < n; ++r) table(r, r) = 1.0;
            }
            bestMatrix = table;
            break;
        }
        dampedInverse(xtalk, inv, (robust ? kRobustDamping : kPlainDamping)[k], robust);
        if (k == 0) {
            table = inv;
        } else {
            tmp = table;
            table.beProductOf(inv, tmp);
        }
        if (residual < best) {
            best = residual;
            bestMatrix = table;
        }
        apply(work, inv);
    }

    if (bestMatrix.getNumElements() == 0) return 0;
    table = bestMatrix;
    for (int r = 0; r < n; ++r)
        for (int q = 0; q < n; ++q) table(r, q) /= norm[q];
    if (!ok) {
        if (robust) table.normalizeXTalkMatrix();
        return 0;
    }
    table.normalizeXTalkMatrix();
    return acceptFactor * tolerance > best ? 1 : 0;
}

}  // namespace

int KwSpecSepTable::setup(const KwCap& cap, int startPnt, int endPnt, double tolerance,
                          double acceptFactor) {
    const int n = cap.getNumTraces();
    // A capillary without traces has nothing to separate.
    if (n < 1) return 0;
    KwCap work(cap);
    std::vector<double> norm(n);
    work.normalizeL1(norm.data());
    work.setSignalStartPnt(startPnt);
    work.setSignalEndPnt(endPnt);
    return estimate(*this, work, norm, tolerance, acceptFactor, false,
                    [](KwCap& c, const KwdbMatrix& m) { c.specSep(m); });
}

int KwSpecSepTable::setup1(const KwCap& cap, int startPnt, int endPnt, double tolerance,
                           double acceptFactor, double rate) {
    return kw::detail::setupRobust(*this, cap, startPnt, endPnt,
                                   kw::detail::learningWindowSamples(rate, cap.getNumData()),
                                   tolerance, acceptFactor, rate);
}

int kw::detail::setupRobust(KwSpecSepTable& table, const KwCap& cap, int startPnt, int endPnt,
                            int window, double tolerance, double acceptFactor, double rate) {
    const int n = cap.getNumTraces();
    if (n < 1) return 0;
    const double windowEnd = static_cast<double>(startPnt) + window;
    KwCap work(cap);
    work.setSignalStartPnt(startPnt);
    work.setSignalEndPnt(windowEnd < endPnt ? static_cast<int>(windowEnd) : endPnt);
    std::vector<double> norm(n);
    work.normalizeL1(norm.data());
    work.smoothing(kw::detail::truncToRange(3.0 * rate + 0.5, 0, std::numeric_limits<int>::max()));
    return estimate(table, work, norm, tolerance, acceptFactor, true,
                    [](KwCap& c, const KwdbMatrix& m) { kw::detail::CapAccess::specSep(c, m); });
}
