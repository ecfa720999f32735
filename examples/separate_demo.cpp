// A first look at kwsignal: build a two-dye capillary from plain arrays, mix
// the dyes the way an instrument's overlapping emission spectra do, and undo
// the mixing with a separation matrix.
#include <cmath>
#include <cstdio>

#include <kwsignal/kwsignal.h>

namespace {

// Exposes the capillary's matrix application, which the library keeps for
// classes built on KwCap.
class DemoCap : public KwCap {
public:
    using KwCap::KwCap;
    using KwCap::specSep;
};

void print(const char* title, const KwCap& cap, const int* samples, int count) {
    std::printf("%s\n  sample      C         A\n", title);
    for (int j = 0; j < count; ++j)
        std::printf("  %6d %9.2f %9.2f\n", samples[j], cap(0, samples[j]), cap(1, samples[j]));
}

}  // namespace

int main() {
    const int n = 60;
    double c[n], a[n];
    for (int i = 0; i < n; ++i) {
        // One peak per dye; each leaks 20 % of itself into the other channel.
        const double pc = 100.0 * std::exp(-0.5 * (i - 20) * (i - 20) / 9.0);
        const double pa = 80.0 * std::exp(-0.5 * (i - 40) * (i - 40) / 9.0);
        c[i] = pc + 0.2 * pa;
        a[i] = pa + 0.2 * pc;
    }
    double* rows[2] = {c, a};
    DemoCap cap(2, n, rows, 3.0);
    const int shown[] = {20, 30, 40};
    print("Mixed channels (each dye leaks 20 % into the other):", cap, shown, 3);

    // The inverse of the mixing matrix separates the dyes again.
    KwdbMatrix mixing(0, 1, 0, 1);
    mixing(0, 0) = 1.0;
    mixing(0, 1) = 0.2;
    mixing(1, 0) = 0.2;
    mixing(1, 1) = 1.0;
    KwSpecSepTable separation(2);
    separation.beInverseOf(mixing);
    cap.specSep(separation);
    print("After applying the separation matrix:", cap, shown, 3);
    return 0;
}
