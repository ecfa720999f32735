// SCF version 3.00, the trace format of the Staden package and the one
// most trace viewers and assemblers read: a 128-byte header, the four
// channels (A, C, G, T, each whole, as second differences of 16-bit
// samples), then the bases as arrays (positions, the four per-letter
// probabilities, the letters, three spare bytes each) and text comments.
// Every number is big-endian.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/wide_vectors.h"
#include "kwsignal/basecall.h"
#include "kwsignal/capillary.h"

namespace kw {
namespace {

constexpr uint32_t kHeaderBytes = 128;
// SCF stores the channels A, C, G, T; the capillary's trace codes are
// C, A, G, T.
constexpr int kScfToTrace[4] = {1, 0, 2, 3};

// The file is written through a cursor into a string sized for it whole:
// a channel is tens of thousands of samples, two bytes each.
char* put32(char* p, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) *p++ = static_cast<char>((v >> shift) & 0xff);
    return p;
}

// The channels' common range over the signal window: every channel is
// scaled alike so that their heights stay comparable in a viewer. The
// lowest and highest finite samples are kept in four lanes, so that each
// comparison waits for the one four samples before it, not the one before;
// the extremes of a set do not depend on the order they are sought in.
void channelRange(const KwCap& cap, int from, int to, double& lo, double& hi) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    double low[4] = {kInfinity, kInfinity, kInfinity, kInfinity};
    double high[4] = {-kInfinity, -kInfinity, -kInfinity, -kInfinity};
    auto take = [&](double v, int lane) {
        const bool finite = v - v == 0.0;  // false for NaN and infinities
        const double forLow = finite ? v : kInfinity, forHigh = finite ? v : -kInfinity;
        low[lane] = forLow < low[lane] ? forLow : low[lane];
        high[lane] = forHigh > high[lane] ? forHigh : high[lane];
    };
    for (int t = 0; t < 4; ++t) {
        const double* x = cap.getPnterToTrace(t)->getData();
        int s = from;
        for (; s + 3 <= to; s += 4)
            for (int lane = 0; lane < 4; ++lane) take(x[s + lane], lane);
        for (; s <= to; ++s) take(x[s], 0);
    }
    lo = std::min({low[0], low[1], low[2], low[3]});
    hi = std::max({high[0], high[1], high[2], high[3]});
    if (!(hi > lo)) lo = 0.0, hi = 1.0;
}

// A processed sample on the 16-bit scale of lo..hi (0 for a sample that is
// not finite, which is put at lo before scaling: the loop over a channel
// then has no branch and runs in wide vectors).
inline uint16_t sampleOf(double v, double lo, double hi) {
    const double finite = v - v == 0.0 ? v : lo;  // v - v is NaN for NaN and infinities
    const double scaled = (finite - lo) / (hi - lo) * 65535.0;
    // std::max(0.0, std::min(65535.0, scaled)), spelt as the comparisons
    // those make (a NaN comes out at the top, as there).
    const double below = scaled < 65535.0 ? scaled : 65535.0;
    return static_cast<uint16_t>(static_cast<int>(0.0 < below ? below : 0.0));
}

// One channel's samples, one per input-file sample, on the 16-bit scale.
KW_WIDE_VECTORS void channelSamples(const double* x, int last, int samples, double scale, double lo,
                                    double hi, uint16_t* value) {
    if (scale == 1.0)
        for (int i = 0; i < samples; ++i) value[i] = sampleOf(x[i], lo, hi);
    else
        for (int i = 0; i < samples; ++i)
            value[i] =
                sampleOf(x[std::min(last, static_cast<int>(std::lround(i * scale)))], lo, hi);
}

// The samples as second differences modulo 2^16 (the difference of
// consecutive differences, those before the first sample taken as zero):
// smooth traces then compress well. Big-endian.
KW_WIDE_VECTORS void putSecondDifferences(const uint16_t* value, int samples, char* out) {
    auto put = [out](int i, int d) {
        const unsigned u = static_cast<unsigned>(d);  // two's complement: d modulo 2^16 below
        out[2 * i] = static_cast<char>((u >> 8) & 0xff);
        out[2 * i + 1] = static_cast<char>(u & 0xff);
    };
    if (samples > 0) put(0, value[0]);
    if (samples > 1) put(1, value[1] - 2 * value[0]);
    for (int i = 2; i < samples; ++i) put(i, value[i] - 2 * value[i - 1] + value[i - 2]);
}

char* putChannel(char* out, const KwCap& cap, int trace, int samples, double scale, double lo,
                 double hi, std::vector<uint16_t>& value) {
    value.resize(static_cast<size_t>(samples));
    channelSamples(cap.getPnterToTrace(trace)->getData(), cap.getNumData() - 1, samples, scale, lo,
                   hi, value.data());
    putSecondDifferences(value.data(), samples, out);
    return out + 2 * samples;
}

char* putBases(char* out, const BaseCalls& calls, int samples) {
    const std::vector<BaseCall>& bases = calls.bases;
    for (const BaseCall& b : bases) {
        const double p = std::isfinite(b.position) ? std::lround(b.position) : 0.0;
        out = put32(out, static_cast<uint32_t>(std::max(0.0, std::min<double>(samples - 1, p))));
    }
    const char* letters = "ACGT";
    for (int k = 0; k < 4; ++k)
        for (const BaseCall& b : bases) {
            const bool pure = b.base == 'A' || b.base == 'C' || b.base == 'G' || b.base == 'T';
            const int qv = std::max(0, std::min(255, b.qv));
            *out++ = static_cast<char>(!pure || b.base == letters[k] ? qv : 0);
        }
    for (const BaseCall& b : bases) *out++ = b.base;
    return std::fill_n(out, 3 * bases.size(), '\0');
}

}  // namespace

std::string scfFile(const KwCap& processed, const BaseCalls& calls, const CallInputs& in,
                    const std::string& name) {
    const double scale =
        in.coordinateScale > 0.0 && std::isfinite(in.coordinateScale) ? in.coordinateScale : 1.0;
    const bool traces = processed.getNumTraces() >= 4 && processed.getNumData() > 0;
    const int samples =
        traces ? static_cast<int>(std::floor((processed.getNumData() - 1) / scale)) + 1 : 0;
    std::string comments = "NAME=";
    for (char c : name) comments += c == '\n' || c == '\r' || c == '\0' ? '_' : c;
    comments += "\nSRC=kwsignal\n";
    comments += '\0';

    const uint32_t basesOffset = kHeaderBytes + 4u * 2u * static_cast<uint32_t>(samples);
    const uint32_t numBases = static_cast<uint32_t>(calls.bases.size());
    const uint32_t commentsOffset = basesOffset + 12u * numBases;
    std::string out(commentsOffset + comments.size(), '\0');
    char* p = std::copy_n(".scf", 4, &out[0]);
    for (uint32_t v : {static_cast<uint32_t>(samples), kHeaderBytes, numBases, 0u, 0u, basesOffset,
                       static_cast<uint32_t>(comments.size()), commentsOffset})
        p = put32(p, v);
    p = std::copy_n("3.00", 4, p);
    p = put32(p, 2);  // bytes per sample
    p = put32(p, 0);  // code set (unused)
    p = put32(p, 0);  // private data: none
    p = put32(p, commentsOffset + static_cast<uint32_t>(comments.size()));
    p = &out[kHeaderBytes];  // the rest of the header is zero

    if (traces) {
        const int last = processed.getNumData() - 1;
        const int from = std::max(0, std::min(last, in.windowStart));
        const int to = std::max(from, std::min(last, in.windowEnd));
        double lo = 0.0, hi = 1.0;
        channelRange(processed, from, to, lo, hi);
        std::vector<uint16_t> value;
        for (int t : kScfToTrace) p = putChannel(p, processed, t, samples, scale, lo, hi, value);
    }
    p = putBases(p, calls, std::max(samples, 1));
    std::copy(comments.begin(), comments.end(), p);
    return out;
}

}  // namespace kw
