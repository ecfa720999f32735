// The simulators' random numbers: std::mt19937, whose output the language
// fixes, turned into uniform and normal deviates here rather than by the
// standard distributions (whose algorithms differ between standard
// libraries), so a seed gives the same run everywhere.
#ifndef KWSIGNAL_LIBRARY_RANDOM_H
#define KWSIGNAL_LIBRARY_RANDOM_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

namespace kw {

class SimulationRandom {
public:
    explicit SimulationRandom(uint32_t seed) : gen(seed) {}

    /// Uniform in [0, 1) with 53 random bits.
    double uniform() {
        const uint64_t a = gen() >> 5;
        const uint64_t b = gen() >> 6;
        return (static_cast<double>(a) * 67108864.0 + static_cast<double>(b)) / 9007199254740992.0;
    }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int index(int n) { return std::min(n - 1, static_cast<int>(uniform() * n)); }
    /// Standard normal deviate (Box-Muller).
    double normal() {
        const double u = 1.0 - uniform();  // (0, 1]: the logarithm stays finite
        const double v = uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * 3.14159265358979323846 * v);
    }

private:
    std::mt19937 gen;
};

}  // namespace kw

#endif
