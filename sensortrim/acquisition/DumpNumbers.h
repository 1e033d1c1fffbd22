// The numbers of a data dump in the form the tools write them ("%f": digits,
// a point, six decimals), read without the general conversion's cost. Each
// reader gives exactly the value the general one would (strtod for a value,
// strtoul with a base prefix for a time stamp) or declines, and the caller
// then takes the general path.
#pragma once

#include <cstdint>
#include <string_view>

namespace dumpnumbers {

// [-]digits[.digits] with at most 15 significant digits and 22 decimals: the
// digits make an integer a double holds exactly, and dividing it by an exact
// power of ten is one correctly rounded operation, as strtod's result is.
inline bool parseValue(std::string_view text, double& value) {
    static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        ++i;
    uint64_t mantissa = 0;
    int digits = 0, decimals = 0;
    const size_t intStart = i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        mantissa = mantissa * 10 + static_cast<uint64_t>(text[i] - '0');
        if (mantissa != 0)
            ++digits;
    }
    if (i == intStart)
        return false;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            mantissa = mantissa * 10 + static_cast<uint64_t>(text[i] - '0');
            if (mantissa != 0)
                ++digits;
            ++decimals;
        }
    }
    if (i != text.size() || digits > 15 || decimals > 22)
        return false;
    const double magnitude = static_cast<double>(mantissa) / kPowers[decimals];
    value = negative ? -magnitude : magnitude;
    return true;
}

// A time stamp as the dump reader takes it: the integer part of a plain
// decimal number (no sign, no leading zero that would make it octal).
inline bool parseTimestamp(std::string_view text, double& value) {
    size_t i = 0;
    uint64_t whole = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
    if (i == 0 || i > 18 || (text[0] == '0' && i > 1))
        return false;
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        }
    if (i != text.size())
        return false;
    value = static_cast<double>(whole);
    return true;
}

}  // namespace dumpnumbers
