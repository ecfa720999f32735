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
#include <type_traits>

namespace kw::detail {

namespace detail {

constexpr double kPowersOf10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
// The nearest doubles to 10^-1 .. 10^-5, for placing a number's leading digit.
constexpr double kNegativePowersOf10[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5};
constexpr uint64_t kUnsignedPowersOf10[] = {1u,
                                            10u,
                                            100u,
                                            1000u,
                                            10000u,
                                            100000u,
                                            1000000u,
                                            10000000u,
                                            100000000u,
                                            1000000000u,
                                            10000000000u,
                                            100000000000u,
                                            1000000000000u,
                                            10000000000000u,
                                            100000000000000u,
                                            1000000000000000u,
                                            10000000000000000u,
                                            100000000000000000u,
                                            1000000000000000000u,
                                            10000000000000000000u};
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the two digits of n (0..99) just before *first.
template <typename Unsigned>
inline void putPair(char*& first, Unsigned n) {
    first -= 2;
    std::memcpy(first, kDigitPairs + 2 * n, 2);
}

// Writes the last `count` digits of v just before end, two at a time.
template <int count, typename Unsigned>
inline void putLastDigits(char* end, Unsigned v) {
    if constexpr (count >= 2) {
        putPair(end, v % 100);
        putLastDigits<count - 2>(end, static_cast<Unsigned>(v / 100));
    } else if constexpr (count == 1) {
        end[-1] = static_cast<char>('0' + v % 10);
    }
}

// The number of decimal digits of v (1 for 0).
template <typename Unsigned>
inline int decimalLength(Unsigned v) {
    // Most numbers written are short: those lengths without a loop.
    if (v < 100) return v < 10 ? 1 : 2;
    if (v < 10000) return v < 1000 ? 3 : 4;
    int n = 5;
    while (n < 20 && v >= kUnsignedPowersOf10[n]) ++n;
    return n;
}

// Writes v in decimal at p; returns the end.
template <typename Unsigned>
inline char* writeDigits(char* p, Unsigned v) {
    char* const end = p + decimalLength(v);
    char* first = end;
    for (; v >= 100; v /= 100) putPair(first, v % 100);
    if (v >= 10)
        putPair(first, v);
    else
        *--first = static_cast<char>('0' + v);
    return end;
}

// The same, in 32-bit arithmetic where v allows.
inline char* writeDigits64(char* p, uint64_t v) {
    return v >> 32 == 0 ? writeDigits(p, static_cast<uint32_t>(v)) : writeDigits(p, v);
}

// |v| x 10^decimals rounded to the nearest integer when that product is
// below 2^40 and not near a rounding tie: the product rounded to double
// then lies within 2^-14 of the exact product, so unless its fraction is
// within 2^-13 of one half the nearest integer to either is the same, the
// one the exact conversion rounds to. False when the exact conversion must
// decide (also for NaN and infinities).
inline bool roundedDigits(double scaled, uint64_t& digits) {
    if (!(scaled < 0x1p40)) return false;
    digits = static_cast<uint64_t>(scaled);
    const double fraction = scaled - static_cast<double>(digits);
    if (std::fabs(fraction - 0.5) <= 0x1p-13) return false;
    digits += fraction > 0.5 ? 1 : 0;
    return true;
}

// writeFixed for a number of decimals known when compiled; nullptr when
// the exact conversion must decide. At most 24 characters.
template <int decimals>
inline char* fixedFast(char* p, double v) {
    constexpr uint64_t unit = kUnsignedPowersOf10[decimals];
    uint64_t digits = 0;
    if (v != 0.0 && !roundedDigits(std::fabs(v) * kPowersOf10[decimals], digits)) return nullptr;
    if (std::signbit(v)) *p++ = '-';
    if (digits == 0) {  // the commonest sample outside a signal window
        static constexpr char kZero[] = "0.000000000";
        std::memcpy(p, kZero, decimals == 0 ? 1 : decimals + 2);
        return p + (decimals == 0 ? 1 : decimals + 2);
    }
    const uint64_t whole = digits / unit;
    p = writeDigits64(p, whole);
    if constexpr (decimals > 0) {
        *p = '.';
        p += decimals + 1;
        putLastDigits<decimals>(p, static_cast<uint32_t>(digits - whole * unit));
    }
    return p;
}

// fixedFast for a count of decimals known only when run (0..9; nullptr for
// any other); a constant count folds to its own case.
template <int decimals = 0>
inline char* fixedFastFor(char* p, double v, int count) {
    if constexpr (decimals > 9)
        return nullptr;
    else
        return count == decimals ? fixedFast<decimals>(p, v)
                                 : fixedFastFor<decimals + 1>(p, v, count);
}

// The digits of printf's "%.*g" (precision 1..12) for a finite nonzero |v|
// within 1e-5..1e15: `digits` holds exactly `precision` digits, the
// leading one at 10^exponent. False where the exact conversion must decide.
inline bool generalDigits(double a, int precision, uint64_t& digits, int& exponent) {
    if (!(a >= 1e-5 && a < 1e15)) return false;
    // The binary exponent places the leading decimal digit to within one.
    uint64_t bits = 0;
    std::memcpy(&bits, &a, sizeof bits);
    const int binary = static_cast<int>(bits >> 52) - 1023;
    int e = binary >= 0 ? (binary * 1233) >> 12 : -((-binary * 1233 + 4095) >> 12);
    const double next = e + 1 >= 0 ? kPowersOf10[e + 1] : kNegativePowersOf10[-(e + 1)];
    if (a >= next) ++e;
    // Scaled by an exact power of ten in one rounding; a leading digit
    // misplaced by a power of ten near 10^-k (not a double) shows as a digit
    // count out of range, except where the rounded digits are the same.
    const int k = precision - 1 - e;
    const double scaled = k >= 0 ? a * kPowersOf10[k] : a / kPowersOf10[-k];
    if (!roundedDigits(scaled, digits)) return false;
    const uint64_t low = kUnsignedPowersOf10[precision - 1];
    if (digits < low || digits > 10 * low) return false;
    if (digits == 10 * low) {  // rounded up to the next power of ten
        digits = low;
        ++e;
    }
    exponent = e;
    return true;
}

// writeGeneral where it can be sure; nullptr where the exact conversion
// must decide. At most 24 characters.
inline char* generalFast(char* p, double v, int precision) {
    if (v == 0.0) {
        if (std::signbit(v)) *p++ = '-';
        *p = '0';
        return p + 1;
    }
    uint64_t digits = 0;
    int x = 0;
    if (precision < 1 || precision > 12 || !generalDigits(std::fabs(v), precision, digits, x))
        return nullptr;
    // The significant digits without the trailing zeros printf drops.
    int n = precision;
    while (n > 1 && digits % 10 == 0) digits /= 10, --n;
    char text[16];
    writeDigits64(text, digits);
    if (std::signbit(v)) *p++ = '-';
    if (x < -4 || x >= precision) {  // d.ddde+XX
        *p++ = text[0];
        if (n > 1) {
            *p++ = '.';
            std::memcpy(p, text + 1, static_cast<std::size_t>(n - 1));
            p += n - 1;
        }
        *p++ = 'e';
        *p++ = x < 0 ? '-' : '+';
        const int ax = x < 0 ? -x : x;
        *p++ = static_cast<char>('0' + ax / 10);
        *p++ = static_cast<char>('0' + ax % 10);
        return p;
    }
    if (x < 0) {  // 0.000ddd
        *p++ = '0';
        *p++ = '.';
        for (int i = -1; i > x; --i) *p++ = '0';
        std::memcpy(p, text, static_cast<std::size_t>(n));
        return p + n;
    }
    // ddd.ddd: the whole part holds x + 1 digits, zeros beyond the significant ones.
    const int whole = x + 1;
    for (int i = 0; i < whole; ++i) *p++ = i < n ? text[i] : '0';
    if (n > whole) {
        *p++ = '.';
        std::memcpy(p, text + whole, static_cast<std::size_t>(n - whole));
        p += n - whole;
    }
    return p;
}

}  // namespace detail

/// The longest text writeFixed writes: -DBL_MAX in full with nine decimals.
constexpr std::size_t kMaxFixedChars = 320;
/// The longest text writeGeneral writes.
constexpr std::size_t kMaxGeneralChars = 32;

/// Writes v at p as printf("%.*f", decimals, v) writes it in the C locale,
/// decimals 0..9: rounded to nearest with ties to even on the exact binary
/// value, a minus sign on every negative value (also one that rounds to
/// zero, and -0.0), "nan", "-nan", "inf", "-inf" for the others. p must
/// have room for kMaxFixedChars; returns the end of what was written.
inline char* writeFixed(char* p, double v, int decimals) {
    char* end = detail::fixedFastFor(p, v, decimals);
    if (end != nullptr) return end;
    return std::to_chars(p, p + kMaxFixedChars, v, std::chars_format::fixed, decimals).ptr;
}

/// Writes v at p as printf("%.*g", precision, v) writes it, precision
/// 1..17; p must have room for kMaxGeneralChars. Returns the end.
inline char* writeGeneral(char* p, double v, int precision) {
    char* end = detail::generalFast(p, v, precision);
    if (end != nullptr) return end;
    return std::to_chars(p, p + kMaxGeneralChars, v, std::chars_format::general, precision).ptr;
}

/// Writes an integer as printf's %d, %ld, %zu, ... write it; returns the end.
template <typename Int>
char* writeInt(char* p, Int v) {
    static_assert(std::is_integral_v<Int>, "an integer");
    uint64_t magnitude = static_cast<uint64_t>(v);
    if constexpr (std::is_signed_v<Int>) {
        if (v < 0) {
            *p++ = '-';
            magnitude = 0 - magnitude;
        }
    }
    return detail::writeDigits64(p, magnitude);
}

/// Appends v as writeFixed writes it.
inline void appendFixed(std::string& out, double v, int decimals) {
    char buf[kMaxFixedChars];
    out.append(buf, static_cast<std::size_t>(writeFixed(buf, v, decimals) - buf));
}

/// Appends v as writeGeneral writes it.
inline void appendGeneral(std::string& out, double v, int precision) {
    char buf[kMaxGeneralChars];
    out.append(buf, static_cast<std::size_t>(writeGeneral(buf, v, precision) - buf));
}

/// Appends an integer as writeInt writes it.
template <typename Int>
void appendInt(std::string& out, Int v) {
    char buf[24];
    out.append(buf, static_cast<std::size_t>(writeInt(buf, v) - buf));
}

/// Text put together in a block on the stack and appended to a string a
/// block at a time: the report files are tens of thousands of short
/// pieces, and appending each to the string costs more than writing it.
/// Everything put is in the string once flush() has run (the destructor
/// runs it); the string must not be touched otherwise meanwhile.
class TextBlock {
public:
    explicit TextBlock(std::string& out) : out_(out) {}
    TextBlock(const TextBlock&) = delete;
    TextBlock& operator=(const TextBlock&) = delete;
    ~TextBlock() { flush(); }

    void flush() {
        out_.append(block_, static_cast<std::size_t>(next_ - block_));
        next_ = block_;
    }
    TextBlock& put(char c) {
        room(1);
        *next_++ = c;
        return *this;
    }
    TextBlock& put(const char* s, std::size_t n) {
        if (n > sizeof block_ / 2) {
            flush();
            out_.append(s, n);
            return *this;
        }
        room(n);
        std::memcpy(next_, s, n);
        next_ += n;
        return *this;
    }
    TextBlock& put(const std::string& s) { return put(s.data(), s.size()); }
    TextBlock& put(const char* s) { return put(s, std::strlen(s)); }
    TextBlock& fixed(double v, int decimals) {
        room(kMaxFixedChars);
        next_ = writeFixed(next_, v, decimals);
        return *this;
    }
    TextBlock& general(double v, int precision) {
        room(kMaxGeneralChars);
        next_ = writeGeneral(next_, v, precision);
        return *this;
    }
    template <typename Int>
    TextBlock& integer(Int v) {
        room(24);
        next_ = writeInt(next_, v);
        return *this;
    }
    /// Room for n characters (at most a block) written from the
    /// pointer returned; done(end) takes them.
    char* reserve(std::size_t n) {
        room(n);
        return next_;
    }
    void done(char* end) { next_ = end; }

private:
    void room(std::size_t n) {
        if (static_cast<std::size_t>(block_ + sizeof block_ - next_) < n) flush();
    }

    std::string& out_;
    char block_[8192];
    char* next_ = block_;
};

}  // namespace kw::detail

#endif
