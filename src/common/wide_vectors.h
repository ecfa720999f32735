// The loops that run along the samples, compiled a second time for
// processors with AVX2 (four doubles to a vector), the version chosen once
// when the library is loaded. Fused multiply-adds stay out of both, and
// sums are taken in the order written in both, so that every result is the
// same to the last bit on every processor. Clones need the loader's
// indirect functions (ELF); a build for the machine at hand (-march with
// AVX2) has the wide vectors everywhere already.
#ifndef KWSIGNAL_SRC_COMMON_WIDE_VECTORS_H
#define KWSIGNAL_SRC_COMMON_WIDE_VECTORS_H

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__) && \
    !defined(__AVX2__)
#define KW_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define KW_WIDE_VECTORS
#endif

#endif
