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

char* put16(char* p, uint16_t v) {
    *p++ = static_cast<char>(v >> 8);
    *p++ = static_cast<char>(v & 0xff);
    return p;
}

// The channels' common range over the signal window: every channel is
// scaled alike so that their heights stay comparable in a viewer.
void channelRange(const KwCap& cap, int from, int to, double& lo, double& hi) {
    lo = std::numeric_limits<double>::infinity();
    hi = -std::numeric_limits<double>::infinity();
    for (int t = 0; t < 4; ++t)
        for (int s = from; s <= to; ++s) {
            const double v = cap(t, s);
            if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
        }
    if (!(hi > lo)) lo = 0.0, hi = 1.0;
}

// One channel as 16-bit samples, one per input-file sample, stored as
// second differences modulo 2^16 (the difference of consecutive
// differences): smooth traces then compress well.
char* putChannel(char* out, const KwCap& cap, int trace, int samples, double scale, double lo,
                 double hi) {
    const int last = cap.getNumData() - 1;
    const double* x = cap.getPnterToTrace(trace)->getData();
    auto sampleOf = [lo, hi](double v) {
        const double scaled = std::isfinite(v) ? (v - lo) / (hi - lo) * 65535.0 : 0.0;
        return static_cast<uint16_t>(std::max(0.0, std::min(65535.0, scaled)));
    };
    // Most samples outside the signal window are zero (either sign: the
    // same 16-bit sample).
    const uint16_t zero = sampleOf(0.0);
    uint16_t prevValue = 0, prevDelta = 0;
    for (int i = 0; i < samples; ++i) {
        const int s = scale == 1.0 ? i : std::min(last, static_cast<int>(std::lround(i * scale)));
        const double v = x[s];
        const uint16_t value = v == 0.0 ? zero : sampleOf(v);
        const uint16_t delta = static_cast<uint16_t>(value - prevValue);
        out = put16(out, static_cast<uint16_t>(delta - prevDelta));
        prevValue = value;
        prevDelta = delta;
    }
    return out;
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
        for (int t : kScfToTrace) p = putChannel(p, processed, t, samples, scale, lo, hi);
    }
    p = putBases(p, calls, std::max(samples, 1));
    std::copy(comments.begin(), comments.end(), p);
    return out;
}

}  // namespace kw
