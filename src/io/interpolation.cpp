// Bringing traces sampled at 1 Hz to the 3 Hz the processing expects.
#include "kwsignal/containers.h"
#include "kwsignal/trace.h"

// Each new sample comes from the quartic through the five nearest inputs,
// centred where possible; the last two extrapolate past the last input.
// With fewer than five inputs the polynomial runs through all of them (one
// input gives a constant), so short files still come out three times as
// long without reaching past the input.
void KwTrace::interpolateFrom1To3Hz(int n, const double* in, double* out) const {
    if (n <= 0) return;
    KwXY points(n);
    for (int i = 0; i < n; ++i) {
        points.x(i) = i;
        points.y(i) = in[i];
    }
    const int count = n < 5 ? n : 5;
    for (int i = 0; i < n; ++i) {
        int k = i - 2;
        if (k < 0) k = 0;
        if (k > n - count) k = n - count;
        double y = 0.0;
        double dy = 0.0;
        out[3 * i] = in[i];
        points.polynomInterpolat(i + 1.0 / 3.0, y, dy, k, count);
        out[3 * i + 1] = y;
        points.polynomInterpolat(i + 2.0 / 3.0, y, dy, k, count);
        out[3 * i + 2] = y;
    }
}
