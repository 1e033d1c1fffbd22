#include "trace/Numbers.h"

#include <cerrno>
#include <cstdlib>

namespace tracetools {

bool parseUnsigned(const char* text, int base, unsigned long max, unsigned long& value) {
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+' || *text == ' ' || *text == '\t' ||
        *text == '\n')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, base);
    if (end == text || *end != '\0' || errno == ERANGE || v > max)
        return false;
    value = v;
    return true;
}

}  // namespace tracetools
