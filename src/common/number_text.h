// Numbers appended to text exactly as printf writes them, without printf.
// The report files and the plot hold tens of thousands of numbers each, and
// printf's reading of its format and its arbitrary-precision conversion
// cost about as much as the whole road; every function here gives the
// same characters as the printf conversion it names, so the files stay the
// same byte for byte.
#ifndef KWSIGNAL_SRC_COMMON_NUMBER_TEXT_H
#define KWSIGNAL_SRC_COMMON_NUMBER_TEXT_H

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace kw::detail {

namespace detail {

constexpr double kPowersOf10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the two digits of n (0..99) just before *first.
inline void putPair(char*& first, uint64_t n) {
    first -= 2;
    std::memcpy(first, kDigitPairs + 2 * n, 2);
}

// Writes 0 with `decimals` decimals (0..9) at p; returns the end.
inline char* writeZero(char* p, int decimals) {
    static constexpr char kZero[] = "0.000000000";
    const int n = decimals == 0 ? 1 : decimals + 2;
    std::memcpy(p, kZero, static_cast<std::size_t>(n));
    return p + n;
}

// The usual case of writeFixed: |v| x 10^decimals below 2^40 and not near
// a rounding tie. The product rounded to double then lies within 2^-14 of
// the exact product, so unless its fraction is within 2^-13 of one half
// the nearest integer to either is the same, the one printf rounds to.
// Returns the end of the text written to buf (at most 24 characters), or
// nullptr when the exact conversion must decide.
inline char* fixedFast(char* buf, double v, int decimals) {
    char* p = buf;
    if (v == 0.0) {  // the commonest sample outside a signal window
        if (std::signbit(v)) *p++ = '-';
        return writeZero(p, decimals);
    }
    const double scaled = std::fabs(v) * kPowersOf10[decimals];
    if (!(scaled < 0x1p40)) return nullptr;  // also NaN
    uint64_t digits = static_cast<uint64_t>(scaled);
    const double fraction = scaled - static_cast<double>(digits);
    if (std::fabs(fraction - 0.5) <= 0x1p-13) return nullptr;
    digits += fraction > 0.5 ? 1 : 0;
    if (std::signbit(v)) *p++ = '-';
    if (digits == 0) return writeZero(p, decimals);  // rounds to zero
    // The digits from the last, two at a time where they can: the decimals,
    // the point, the whole part (at least one digit).
    char text[24];
    char* first = text + sizeof text;
    int k = decimals;
    for (; k >= 2; k -= 2, digits /= 100) putPair(first, digits % 100);
    if (k == 1) {
        *--first = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    if (decimals > 0) *--first = '.';
    for (; digits >= 100; digits /= 100) putPair(first, digits % 100);
    if (digits >= 10)
        putPair(first, digits);
    else
        *--first = static_cast<char>('0' + digits);
    const std::size_t n = static_cast<std::size_t>(text + sizeof text - first);
    std::memcpy(p, first, n);
    return p + n;
}

}  // namespace detail

/// The longest text writeFixed writes: -DBL_MAX in full with nine decimals.
constexpr std::size_t kMaxFixedChars = 320;

/// Writes v at p as printf("%.*f", decimals, v) writes it in the C locale,
/// decimals 0..9: rounded to nearest with ties to even on the exact binary
/// value, a minus sign on every negative value (also one that rounds to
/// zero, and -0.0), "nan", "-nan", "inf", "-inf" for the others. p must
/// have room for kMaxFixedChars; returns the end of what was written.
inline char* writeFixed(char* p, double v, int decimals) {
    char* end = detail::fixedFast(p, v, decimals);
    if (end != nullptr) return end;
    return std::to_chars(p, p + kMaxFixedChars, v, std::chars_format::fixed, decimals).ptr;
}

/// Appends v as writeFixed writes it.
inline void appendFixed(std::string& out, double v, int decimals) {
    char buf[kMaxFixedChars];
    out.append(buf, static_cast<std::size_t>(writeFixed(buf, v, decimals) - buf));
}

/// Appends v as printf("%.*g", precision, v) writes it, precision 1..17.
inline void appendGeneral(std::string& out, double v, int precision) {
    char buf[32];
    const char* end =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision).ptr;
    out.append(buf, static_cast<std::size_t>(end - buf));
}

/// Appends an integer as printf's %d, %ld, %zu, ... write it.
template <typename Int>
void appendInt(std::string& out, Int v) {
    char buf[24];
    out.append(buf, static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, v).ptr - buf));
}

}  // namespace kw::detail

#endif
