// The numbers of a data dump in the form the tools write them ("%f": digits,
// a point, six decimals), read without the general conversion's cost. Each
// reader gives exactly the value the general one would (strtod for a value,
// generalTimestamp below for a time stamp) or declines, and the caller
// then takes the general path. A reader starts at text and stops at the first
// character that is not part of the number, which it returns; nullptr means
// declined.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace dumpnumbers {

inline bool isDigit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// -magnitude where negative, without a branch: the sign of a reading near
// zero is a toss-up the processor cannot predict. The magnitude is never
// negative, so setting its sign bit negates it (0 becomes -0, as strtod
// reads "-0").
inline double withSign(double magnitude, bool negative) {
    uint64_t bits;
    __builtin_memcpy(&bits, &magnitude, 8);
    bits |= static_cast<uint64_t>(negative) << 63;
    double value;
    __builtin_memcpy(&value, &bits, 8);
    return value;
}

// [-]digits[.digits] with at most 15 significant digits and 22 decimals: the
// digits make an integer a double holds exactly, and dividing it by an exact
// power of ten is one correctly rounded operation, as strtod's result is.
// This form counts the significant digits one by one (leading zeros are not).
inline const char* parseLongValue(const char* text, const char* end, double& value) {
    const char* p = text;
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    uint64_t mantissa = 0;
    int digits = 0, decimals = 0;
    const char* intStart = p;
    for (; p < end && isDigit(*p); ++p) {
        mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
        digits += mantissa != 0;
    }
    if (p == intStart)
        return nullptr;
    if (p < end && *p == '.') {
        for (++p; p < end && isDigit(*p); ++p) {
            mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
            digits += mantissa != 0;
            ++decimals;
        }
    }
    if (digits > 15 || decimals > 22)
        return nullptr;
    value = withSign(static_cast<double>(mantissa) / kPowersOfTen[decimals], negative);
    return p;
}

// The six digits after the point at point, as "%f" writes them, read as
// one eight-byte word: the digit before the point and the point itself
// become two leading zeros. False where any of the six is not a digit.
inline bool sixDecimals(const char* point, uint64_t& value) {
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
    return false;
#endif
    uint64_t word;
    __builtin_memcpy(&word, point - 1, 8);
    // The first character in the lowest byte: the digit and the point there.
    word = (word & ~uint64_t(0xffff)) | 0x3030;
    const uint64_t high = 0xf0f0f0f0f0f0f0f0ull;
    if (((word & high) | (((word + 0x0606060606060606ull) & high) >> 4)) != 0x3333333333333333ull)
        return false;
    // Pairs, then fours, then all eight digits, each by one multiplication.
    word = ((word & 0x0f0f0f0f0f0f0f0full) * 2561) >> 8;
    word = ((word & 0x00ff00ff00ff00ffull) * 6553601) >> 16;
    value = ((word & 0x0000ffff0000ffffull) * 42949672960001ull) >> 32;
    return true;
}

// The same; a number of at most 15 digits in all (as "%f" writes them) is
// read without counting, anything longer by parseLongValue.
inline const char* parseValue(const char* text, const char* end, double& value) {
    const char* p = text;
    const bool negative = p < end && *p == '-';
    p += negative;
    const char* intStart = p;
    uint64_t mantissa = 0;
    for (; p < end && isDigit(*p); ++p)
        mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    const long intDigits = p - intStart;
    if (intDigits == 0)
        return nullptr;
    long decimals = 0;
    if (p < end && *p == '.') {
        uint64_t six = 0;
        if (end - p >= 7 && (end - p == 7 || !isDigit(p[7])) && sixDecimals(p, six)) {
            mantissa = mantissa * 1000000 + six;
            p += 7;
            decimals = 6;
        } else {
            const char* fracStart = ++p;
            for (; p < end && isDigit(*p); ++p)
                mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
            decimals = p - fracStart;
        }
    }
    if (intDigits + decimals > 15)
        return parseLongValue(text, end, value);
    value = withSign(static_cast<double>(mantissa) / kPowersOfTen[decimals], negative);
    return p;
}

// The fraction of a time stamp, from the point at p: "%f" writes
// microseconds, which a turn's integral needs (a millisecond is a tenth of a
// report's interval at 100 Hz). Nine digits count, a nanosecond; any more are
// passed over. Leaves p after the digits.
inline double timeFraction(const char*& p, const char* end) {
    uint64_t digits = 0;
    int count = 0;
    for (++p; p < end && isDigit(*p); ++p)
        if (count < 9) {
            digits = digits * 10 + static_cast<uint64_t>(*p - '0');
            ++count;
        }
    return static_cast<double>(digits) / kPowersOfTen[count];
}

// A time stamp as the dump reader takes it: a plain decimal number (no sign,
// no leading zero that would make its integer part octal), its fraction
// included.
inline const char* parseTimestamp(const char* text, const char* end, double& value) {
    const char* p = text;
    uint64_t whole = 0;
    for (; p < end && isDigit(*p); ++p)
        whole = whole * 10 + static_cast<uint64_t>(*p - '0');
    const long length = p - text;
    if (length == 0 || length > 18 || (*text == '0' && length > 1))
        return nullptr;
    double fraction = 0;
    if (p < end && *p == '.') {
        // Six decimals as "%f" writes them are read as one word.
        uint64_t six = 0;
        if (end - p >= 7 && (end - p == 7 || !isDigit(p[7])) && sixDecimals(p, six)) {
            fraction = static_cast<double>(six) / kPowersOfTen[6];
            p += 7;
        } else {
            fraction = timeFraction(p, end);
        }
    }
    value = static_cast<double>(whole) + fraction;
    return p;
}

// A time stamp in any form the general reader takes: the leading unsigned
// integer as strtoul reads it with a base prefix ("0x" hexadecimal, a leading
// "0" octal), and where that integer is written in decimal, its fraction.
inline double generalTimestamp(const char* text, const char* end) {
    char* stop = nullptr;
    const double whole = static_cast<double>(std::strtoul(text, &stop, 0));
    const char* p = stop;
    bool decimal = p > text && !(*text == '0' && p - text > 1);
    for (const char* c = text; decimal && c < p; ++c)
        decimal = isDigit(*c);
    if (!decimal || p >= end || *p != '.')
        return whole;
    return whole + timeFraction(p, end);
}

// The number of line ends in [text, text + size), eight bytes at a time.
inline size_t countLineEnds(const char* text, size_t size) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kLow = 0x7f7f7f7f7f7f7f7full;
    size_t count = 0, i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        __builtin_memcpy(&word, text + i, 8);
        const uint64_t x = word ^ (kOnes * '\n');
        // The high bit of each byte that was a line end.
        const uint64_t zero = ~(((x & kLow) + kLow) | x | kLow);
        // Their sum, gathered in the top byte by one multiplication.
        count += static_cast<size_t>(((zero >> 7) * kOnes) >> 56);
    }
    for (; i < size; ++i)
        count += text[i] == '\n';
    return count;
}

}  // namespace dumpnumbers
