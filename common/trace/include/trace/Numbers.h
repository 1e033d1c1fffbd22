// Numbers written in the trace tools' XML files.
#pragma once

namespace tracetools {

// The whole text as an unsigned number of the base (16 accepts a "0x"
// prefix), at most max. False for an empty text, a sign, a leading blank,
// trailing characters or a value out of range.
bool parseUnsigned(const char* text, int base, unsigned long max, unsigned long& value);

}  // namespace tracetools
