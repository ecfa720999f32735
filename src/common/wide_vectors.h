// The loops that run along the samples, compiled a second time for
// processors with AVX2 (four doubles to a vector), the version chosen once
// when the library is loaded. Fused multiply-adds stay out of both, and
// sums are taken in the order written in both, so that every result is the
// same to the last bit on every processor. Clones need the loader's
// indirect functions (ELF); a build for the machine at hand (-march with
// AVX2) has the wide vectors everywhere already. A public class's method
// called from other files keeps one definition and clones a helper with its
// loop: declared in its header without the clones and defined with them,
// the link-time optimiser would read it as two different functions.
#ifndef KWSIGNAL_SRC_COMMON_WIDE_VECTORS_H
#define KWSIGNAL_SRC_COMMON_WIDE_VECTORS_H

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__) && \
    !defined(__AVX2__)
#define KW_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define KW_WIDE_VECTORS
#endif

namespace kw::detail {

/// The sum of term(i) over i = first..last (none when last < first) in four
/// interleaved partial sums, lane (i - first) mod 4, added as (s0 + s1) +
/// (s2 + s3) once the last whole group of four is in, the samples after it
/// then one by one: a sum taken sample by sample cannot be split into
/// vectors, this one can. The order is fixed here, so every processor still
/// gets the same bits; against the sum in sample order it differs by
/// rounding alone, a few units in the last place of the largest partial sum.
template <class Term>
inline double laneSum(int first, int last, const Term& term) {
    double lane[4] = {0.0, 0.0, 0.0, 0.0};
    int i = first;
    for (; i + 3 <= last; i += 4)
        for (int u = 0; u < 4; ++u) lane[u] += term(i + u);
    double sum = (lane[0] + lane[1]) + (lane[2] + lane[3]);
    for (; i <= last; ++i) sum += term(i);
    return sum;
}

}  // namespace kw::detail

#endif
