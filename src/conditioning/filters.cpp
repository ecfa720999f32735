// The linear filters of a trace: cosine-weighted smoothing and the
// Mexican-hat filters, whose output is cut into humps and rescaled to the
// heights of the unfiltered trace.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "common/gaussian.h"
#include "common/sample_range.h"
#include "common/symmetric_convolution.h"
#include "common/wide_vectors.h"
#include "kwsignal/capillary.h"
#include "kwsignal/platform.h"
#include "kwsignal/trace.h"

namespace {

// Mexican hat (negative second derivative of a Gaussian) at offset k, given
// the square and the cube of its width.
double hat(double s2, double s3, int k) {
    const double k2 = static_cast<double>(k) * k;
    return (s2 - k2) * std::exp(-k2 / (2.0 * s2)) / (s3 * kw::detail::kRootTwoPi);
}

// One-sided kernel hat(s, 0..halfWidth).
void fillHat(double s2, double s3, int halfWidth, double* kernel) {
    for (int k = 0; k <= halfWidth; ++k) kernel[k] = hat(s2, s3, k);
}

// Half-width of the kernel for a hat width: trunc(4 s), at least 1.
// Kept as a double so that an absurd width cannot overflow an int before it
// is compared with the window.
double halfWidthFor(double width) {
    const double n = std::trunc(4.0 * width);
    return n < 1.0 ? 1.0 : n;
}

bool isPositiveWidth(double w) {
    return w > 0.0 && std::isfinite(w);
}

// The weights of the start and the end hat at a sample: they taper from the
// start of the window S to its end E.
double startHatWeight(int S, int E, int pnt) {
    return (E - pnt) / (static_cast<double>(E) - S + 1);
}
double endHatWeight(int S, int E, int pnt) {
    return (pnt - S) / (static_cast<double>(E) - S + 1);
}

// One kernel entry blended from the three hats' entries.
double blendedHat(double startHat, double endHat, double midHat, double startWeight,
                  double endWeight) {
    return startHat * startWeight + endHat * endWeight + midHat;
}

// A hat filter needs a window of at least 2N samples inside the array, so
// that the mirrored head and tail do not overlap and every mirrored read
// stays inside the window. A shorter window cannot hold the hat: the filter
// then leaves the trace unchanged rather than filter with a truncated
// kernel whose response no longer resembles the hat.
bool windowHoldsKernel(const KwTrace& t, double halfWidth) {
    const int start = t.getSignalStartPnt();
    const int end = t.getSignalEndPnt();
    if (!kw::detail::isSampleRange(t, start, end)) return false;
    return 2.0 * halfWidth <= static_cast<double>(end) - start + 1.0;
}

// Reads sample j around the window start..end: samples before `mirrorBelow`
// are mirrored about start, samples after end about end, the rest are read
// directly.
struct MirroredSamples {
    const double* data;
    int start;
    int end;
    int mirrorBelow;
    double operator()(int j) const {
        if (j < mirrorBelow) return data[2 * start - j];
        if (j > end) return data[2 * end - j];
        return data[j];
    }
};

// Symmetric convolution of the one-sided kernel (0..halfWidth) at sample i.
double convolveAt(const MirroredSamples& x, int i, const double* kernel, int halfWidth) {
    if (i - halfWidth >= x.mirrorBelow && i + halfWidth <= x.end) {
        const double* d = x.data + i;
        double sum = kernel[0] * d[0];
        for (int k = 1; k <= halfWidth; ++k) sum += kernel[k] * (d[-k] + d[k]);
        return sum;
    }
    double sum = kernel[0] * x(i);
    for (int k = 1; k <= halfWidth; ++k) sum += kernel[k] * (x(i - k) + x(i + k));
    return sum;
}

// Last position of the hump of the filtered signal f that starts at j:
// after its rise, at the first valley or the first value at or below zero;
// end - 1 when the window (0..end) runs out first.
int humpLast(const double* f, int j, int end, bool falling) {
    for (int k = j; k <= end - 1; ++k) {
        if (!falling) {
            if (f[k + 1] < f[k]) falling = true;
            continue;
        }
        if (f[k + 1] >= f[k] || f[k + 1] <= 0.0) return f[k] > 0.0 ? k : k - 1;
    }
    return end - 1;
}

// Scale that brings the filtered top of a hump to the unfiltered height
// there, faded out linearly between 3 and 1 noise levels and zero below.
double humpScale(double topF, double topX, double noise) {
    double scale = topF > 0.0 ? topX / topF : 0.0;
    if (topX < noise) {
        scale = 0.0;
    } else if (topX < 3.0 * noise) {
        scale = scale * (topX - noise) / (3.0 * noise - noise);
    }
    return scale;
}

}  // namespace

KW_WIDE_VECTORS void KwTrace::smoothing(int n, int /*extra*/) {
    const int h = n / 2;
    // With n < 2 there is no weight at all; such a window smooths nothing.
    if (h < 1 || numData < 1) return;
    // Offsets beyond the array never contribute, so no more weights than
    // samples are needed, however wide the nominal window.
    const int numWeights = h < numData ? h : numData;
    std::vector<double> w(numWeights);
    for (int k = 0; k < numWeights; ++k) w[k] = std::cos(0.5 * kwPi * k / h);
    const std::vector<double> copy(data, data + numData);
    for (int i = 0; i < numData; ++i) {
        const int lo = i - (numWeights - 1) > 0 ? i - (numWeights - 1) : 0;
        const int hi = i + (numWeights - 1) < numData - 1 ? i + (numWeights - 1) : numData - 1;
        double sumW = 0.0;
        double sumWX = 0.0;
        for (int j = lo; j <= hi; ++j) {
            const double wj = w[j > i ? j - i : i - j];
            sumW += wj;
            sumWX += wj * copy[j];
        }
        data[i] = sumWX < 0.0 ? 0.0 : sumWX / sumW;
    }
}

KW_WIDE_VECTORS void KwTrace::trippleMexicanHatFilter(double startWidth, double endWidth) {
    if (!isPositiveWidth(startWidth) || !isPositiveWidth(endWidth)) return;
    const double halfWidth = halfWidthFor(endWidth);
    if (!windowHoldsKernel(*this, halfWidth)) return;
    const int N = static_cast<int>(halfWidth);
    const int S = signalStartPnt;
    const int E = signalEndPnt;

    const double a = startWidth;
    const double b = endWidth;
    const double ab = a * b;
    std::vector<double> startHat(N + 1), endHat(N + 1), midHat(N + 1), kernel(N + 1);
    fillHat(a * a, a * a * a, N, startHat.data());
    fillHat(b * b, b * b * b, N, endHat.data());
    fillHat(ab, ab * std::sqrt(ab), N, midHat.data());

    // Near the window's ends the kernel reads samples mirrored about
    // whichever end it would cross, sample by sample.
    const MirroredSamples x{data, S, E, S};
    // Every sample of the window is written below, head, tail and middle:
    // the buffers are not zeroed first.
    const std::unique_ptr<double[]> filtered(new double[E - S + 1]);
    auto mirrored = [&](int first, int last) {
        for (int i = first; i <= last; ++i) {
            calculateTapper(N, i, kernel.data(), midHat.data(), startHat.data(), endHat.data());
            filtered[i - S] = convolveAt(x, i, kernel.data(), N);
        }
    };
    const int headLast = std::min(E, S + N - 1);
    const int tailFirst = std::max(headLast + 1, E - N + 1);
    mirrored(S, headLast);
    mirrored(tailFirst, E);

    // In between every read lies inside the window: the same kernels, each
    // sample's weights worked out once, applied along the samples.
    const int first = headLast + 1;
    const int count = tailFirst - first;
    if (count > 0) {
        const std::unique_ptr<double[]> startWeight(new double[count]),
            endWeight(new double[count]);
        for (int u = 0; u < count; ++u) {
            startWeight[u] = startHatWeight(S, E, first + u);
            endWeight[u] = endHatWeight(S, E, first + u);
        }
        const double* sh = startHat.data();
        const double* eh = endHat.data();
        const double* mh = midHat.data();
        const double* sw = startWeight.get();
        const double* ew = endWeight.get();
        const auto weight = [=](int k, int u) {
            return blendedHat(sh[k], eh[k], mh[k], sw[u], ew[u]);
        };
        kw::detail::convolveSymmetricFast(data + first, count, N, weight,
                                          filtered.get() + (first - S));
    }
    adoptFilteredData(filtered.get(), startWidth);
}

void KwTrace::variableWidthMexicanHatFilter(const double* widths, int first, int last) {
    if (widths == nullptr || last < first) return;
    // A hat needs a positive width; one unusable width anywhere makes the
    // whole width profile suspect, so the trace is then left unchanged.
    for (int j = 0; j <= last - first; ++j)
        if (!isPositiveWidth(widths[j])) return;
    const double n1 = halfWidthFor(widths[0]);
    const double n2 = halfWidthFor(widths[last - first]);
    const double halfWidth = n1 > n2 ? n1 : n2;
    if (!windowHoldsKernel(*this, halfWidth)) return;
    const int N = static_cast<int>(halfWidth);
    const int N1 = static_cast<int>(n1);
    const int S = signalStartPnt;
    const int E = signalEndPnt;

    // The head (S .. S+N1-1) mirrors about S and the tail (E-N+1 .. E) about
    // E. The middle reads the array directly, reaching up to N - N1 samples
    // before S with the wider tail kernel; where those samples would lie
    // before the start of the array they are mirrored about S instead.
    const MirroredSamples mirrored{data, S, E, S};
    const MirroredSamples direct{data, S, E, 0};
    std::vector<double> kernel(N + 1);
    std::vector<double> filtered(E - S + 1);
    for (int i = S; i <= E; ++i) {
        calculateWidow(i, first, last, widths, kernel.data(), N);
        const bool inMiddle = i >= S + N1 && i <= E - N;
        filtered[i - S] = convolveAt(inMiddle ? direct : mirrored, i, kernel.data(), N);
    }
    adoptFilteredData(filtered.data(), widths[0]);
}

void KwTrace::calculateTapper(int halfWidth, int pnt, double* kernel, const double* midHat,
                              const double* startHat, const double* endHat) const {
    const double startWeight = startHatWeight(signalStartPnt, signalEndPnt, pnt);
    const double endWeight = endHatWeight(signalStartPnt, signalEndPnt, pnt);
    for (int k = 0; k <= halfWidth; ++k)
        kernel[k] = blendedHat(startHat[k], endHat[k], midHat[k], startWeight, endWeight);
}

void KwTrace::calculateWidow(int pnt, int first, int last, const double* widths, double* kernel,
                             int halfWidth) const {
    int j = pnt - first;
    if (j < 0) j = 0;
    if (j > last - first) j = last - first;
    const double s = widths[j];
    fillHat(s * s, s * s * s, halfWidth, kernel);
}

void KwTrace::adoptFilteredData(const double* filtered, double minWidth) {
    if (!kw::detail::isSampleRange(*this, signalStartPnt, signalEndPnt)) return;
    // Positions are counted from the window start: filtered[r] and x[r]
    // belong to sample signalStartPnt + r, and e is the window end.
    const double* F = filtered;
    double* x = data + signalStartPnt;
    const int e = signalEndPnt - signalStartPnt;

    int j = 0;
    while (j < e - 1 && F[j] <= 0.0) ++j;
    for (int r = 0; r < j; ++r) x[r] = 0.0;

    bool falling = j + 1 <= e && F[j + 1] <= F[j];
    while (j < e - 1) {
        const int last = humpLast(F, j, e, falling);
        falling = false;
        if (last - j + 1 <= 0.6 * minWidth) {
            for (int r = j; r <= last; ++r) x[r] = 0.0;
        } else if (last >= j) {
            int top = j;
            for (int r = j + 1; r <= last; ++r)
                if (F[r] > F[top]) top = r;
            const double scale = humpScale(F[top], x[top], noiseLevel);
            for (int r = j; r <= last; ++r) {
                const double v = F[r] * scale;
                x[r] = v < 0.0 ? 0.0 : v;
            }
        }
        int g = last + 1;
        while (g < e && (F[g] <= 0.0 || F[g + 1] == F[g])) ++g;
        for (int r = last + 1; r < g; ++r) x[r] = 0.0;
        // A non-finite filtered value can end a hump before it starts and
        // stop the gap at once; always move on by at least one sample.
        j = g > j ? g : j + 1;
    }
    x[e] = 0.0;
}

void KwCap::smoothing(int n) {
    for (int t = 0; t < numTraces; ++t) traces[t].smoothing(n, 0);
}

void KwCap::trippleMexicanHatFilter(double startWidth, double endWidth) {
    for (int t = 0; t < numTraces; ++t) traces[t].trippleMexicanHatFilter(startWidth, endWidth);
}
