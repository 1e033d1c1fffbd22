#include "CatalogDecoder.h"

#include <tinyxml.h>

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Logger.h"
#include "device/Bytes.h"
#include "trace/Numbers.h"
#include "trace/TraceErrors.h"
#include "xml/XmlFile.h"

const char* const kPriorityNames[8] = {"EMERGENCY", "ALERT", "CRITICAL", "ERROR",
                                       "WARNING",   "NOTICE", "INFO",    "DEBUG"};

namespace {

// A formatted piece of a message is at most this long.
constexpr size_t kPieceLimit = 243;

const std::string kUnknownComponent = "UNKNOWN_COMPONENT";

[[noreturn]] void fileFailure() {
    throw tracetools::CollectorException(tracetools::kReadFileFailed);
}

// A hexadecimal attribute (with or without "0x"); fails the load otherwise.
unsigned long hexAttribute(const TiXmlElement* e, const char* name, unsigned long max) {
    unsigned long value = 0;
    if (!tracetools::parseUnsigned(e->Attribute(name), 16, max, value))
        fileFailure();
    return value;
}

const char* textAttribute(const TiXmlElement* e, const char* name) {
    const char* text = e->Attribute(name);
    if (text == nullptr)
        fileFailure();
    return text;
}

// Loads an XML file whose root element has the given name.
const TiXmlElement* loadRoot(TiXmlDocument& doc, const std::string& path, const char* rootName) {
    if (!xmlfile::load(path, doc).ok())
        fileFailure();
    const TiXmlElement* root = doc.RootElement();
    if (root == nullptr || std::strcmp(root->Value(), rootName) != 0)
        fileFailure();
    return root;
}

bool isNumericConversion(char c) {
    // strchr would also find the terminating NUL.
    return c != '\0' && std::strchr("Xcdinopux", c) != nullptr;
}

// A conversion text printf can be given safely with one argument: flags,
// width, precision and length as digits and letters only (no "*" reading
// another argument, no "$" picking one). The length modifier is returned.
bool safeConversion(const std::string& conversion, std::string& length) {
    auto isFlag = [](char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\''; };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    auto isLength = [](char c) { return c == 'h' || c == 'l' || c == 'j' || c == 'z' || c == 't' || c == 'L' || c == 'q'; };
    size_t i = 1;
    while (i < conversion.size() && isFlag(conversion[i]))
        ++i;
    // Widths and precisions past three digits cannot show in a 243-character piece.
    size_t digits = 0;
    for (; i < conversion.size() && isDigit(conversion[i]); ++i)
        ++digits;
    if (digits > 3)
        return false;
    if (i < conversion.size() && conversion[i] == '.') {
        digits = 0;
        for (++i; i < conversion.size() && isDigit(conversion[i]); ++i)
            ++digits;
        if (digits > 3)
            return false;
    }
    const size_t lengthStart = i;
    while (i + 1 < conversion.size() && isLength(conversion[i]))
        ++i;
    length = conversion.substr(lengthStart, i - lengthStart);
    if (length.size() > 2 || (length.size() == 2 && length != "hh" && length != "ll"))
        return false;
    return i + 1 == conversion.size();
}

// The conversion without its length modifier, and with "ll" in its place
// when asked for: the argument handed to printf then has exactly the size the
// conversion reads.
std::string withLength(const std::string& conversion, const std::string& length, const char* replacement) {
    const size_t at = conversion.size() - 1 - length.size();
    return conversion.substr(0, at) + replacement + conversion.back();
}

// The format strings come from the catalogue and the firmware: each
// conversion is checked by safeConversion and given exactly one argument of
// the size it reads, so a format that is not a literal is intended here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void appendPiece(std::string& out, const char* format, ...) {
    char piece[kPieceLimit + 1];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (n > 0)
        out.append(piece, std::min(static_cast<size_t>(n), kPieceLimit));
}
#pragma GCC diagnostic pop

// One numeric conversion of a 4-byte argument, zero-extended to 64 bits.
void formatNumber(std::string& out, std::string conversion, uint32_t argument) {
    if (conversion == "%zu")
        conversion = "%u";
    std::string length;
    if (!safeConversion(conversion, length)) {
        out += conversion;
        return;
    }
    const char kind = conversion.back();
    const uint64_t value = argument;
    const bool wide = !length.empty() && length != "h" && length != "hh";
    std::string plain;
    switch (kind) {
    case 'n':
        // Counts nothing and never writes through its argument.
        return;
    case 'p':
        plain = withLength(conversion, length, "");
        appendPiece(out, plain.c_str(), reinterpret_cast<void*>(static_cast<uintptr_t>(value)));
        return;
    case 'c':
        plain = withLength(conversion, length, "");
        appendPiece(out, plain.c_str(), static_cast<int>(static_cast<unsigned char>(argument)));
        return;
    case 'd':
    case 'i':
        if (wide) {
            plain = withLength(conversion, length, "ll");
            appendPiece(out, plain.c_str(), static_cast<long long>(value));
        } else {
            appendPiece(out, conversion.c_str(), static_cast<int>(argument));
        }
        return;
    default:
        if (wide) {
            plain = withLength(conversion, length, "ll");
            appendPiece(out, plain.c_str(), static_cast<unsigned long long>(value));
        } else {
            appendPiece(out, conversion.c_str(), static_cast<unsigned>(argument));
        }
        return;
    }
}

// A string argument: "corrupted string" when the result, within the
// argument's length, holds a "%" that is not one of a doubled pair.
void formatString(std::string& out, const std::string& conversion, const char* argument, size_t argumentLength) {
    std::string length;
    if (!safeConversion(conversion, length)) {
        out += conversion;
        return;
    }
    const std::string plain = withLength(conversion, length, "");
    std::string piece;
    appendPiece(piece, plain.c_str(), argument);
    const size_t limit = std::min(argumentLength, piece.size());
    for (size_t i = 0; i < limit; ++i) {
        if (piece[i] != '%')
            continue;
        if (i + 1 < piece.size() && piece[i + 1] == '%') {
            ++i;
            continue;
        }
        out += "corrupted string";
        return;
    }
    out += piece;
}

}  // namespace

void CatalogDecoder::Init(const std::string& catalogPath, const std::string& componentPath) {
    VERBOSE_TRACE();
    for (auto& row : components)
        for (auto& slot : row)
            slot.name.clear();
    loadComponents(componentPath);
    loadCatalog(catalogPath);
}

void CatalogDecoder::loadComponents(const std::string& path) {
    TiXmlDocument doc;
    const TiXmlElement* root = loadRoot(doc, path, "components");
    majors.clear();
    for (const TiXmlElement* major = root->FirstChildElement(); major; major = major->NextSiblingElement()) {
        if (std::strcmp(major->Value(), "major_component") != 0)
            fileFailure();
        _component record;
        record.name = textAttribute(major, "string");
        record.value = static_cast<unsigned>(hexAttribute(major, "value", 0xFFFFFFFFul));
        majors.push_back(record);
        for (const TiXmlElement* sub = major->FirstChildElement(); sub; sub = sub->NextSiblingElement()) {
            if (std::strcmp(sub->Value(), "sub_component") != 0)
                fileFailure();
            const char* name = textAttribute(sub, "string");
            const unsigned long value = hexAttribute(sub, "value", 0xFFFFFFFFul);
            // A message names its component in two nibbles: a value above 15
            // has no slot and can never be traced, so it is left out.
            if (record.value > 15 || value > 15)
                continue;
            components[record.value][value].name = name;
        }
    }
}

void CatalogDecoder::loadCatalog(const std::string& path) {
    TiXmlDocument doc;
    const TiXmlElement* root = loadRoot(doc, path, "catalog");
    catalog.clear();
    firstEntry.clear();
    for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (std::strcmp(e->Value(), "catalog_entry") != 0)
            fileFailure();
        _catalogEntry entry;
        entry.id = static_cast<uint32_t>(hexAttribute(e, "id", 0xFFFFFFFFul));
        entry.format = textAttribute(e, "string");
        firstEntry.emplace(entry.id, catalog.size());
        catalog.push_back(std::move(entry));
    }
}

const std::string& CatalogDecoder::componentName(uint8_t component) const {
    const std::string& name = components[component >> 4][component & 0x0F].name;
    return name.empty() ? kUnknownComponent : name;
}

bool CatalogDecoder::expand(const char* format, size_t formatLength, const uint8_t* arguments,
                            size_t argumentsLength, std::string& out) {
    bool complete = true;
    const doxi::ByteView block(arguments, argumentsLength);
    size_t next = 0;  // the argument pointer
    for (size_t i = 0; i < formatLength; ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        std::string conversion = "%";
        size_t j = i + 1;
        bool ended = false;
        for (; j < formatLength; ++j) {
            const char c = format[j];
            if (c == '%') {
                if (format[j - 1] == '%')
                    out += '%';
                ended = true;
                break;
            }
            conversion += c;
            if (isNumericConversion(c)) {
                uint32_t argument = 0;
                if (!block.u32(next, argument)) {
                    out += "<missing argument>";
                    complete = false;
                } else {
                    next += 4;
                    formatNumber(out, conversion, argument);
                }
                ended = true;
                break;
            }
            if (c == 's') {
                const uint8_t* start = arguments + next;
                const void* nul = std::memchr(start, '\0', argumentsLength - next);
                if (next >= argumentsLength) {
                    out += "<missing argument>";
                    complete = false;
                } else if (nul == nullptr) {
                    out += "<string argument without its end>";
                    next = argumentsLength;
                    complete = false;
                } else {
                    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - start);
                    formatString(out, conversion, reinterpret_cast<const char*>(start), length);
                    next += length + 1;
                }
                ended = true;
                break;
            }
        }
        // A conversion the format string ends in the middle of is kept as text.
        if (!ended)
            out += conversion;
        i = j;
    }
    return complete;
}

bool CatalogDecoder::Decode(const tracepkt::TraceMessage& message, std::string& text) const {
    text.clear();
    if (message.available < message.bufferLength) {
        char reason[128];
        std::snprintf(reason, sizeof reason, "Message truncated: %zu of %u payload bytes were read\n",
                      message.available, static_cast<unsigned>(message.bufferLength));
        text = reason;
        return false;
    }
    std::string body;
    bool complete = true;
    switch (message.type) {
    case 2:
        BufToHexString(message.payload, message.available, body);
        break;
    case 1: {
        uint32_t id = 0;
        if (!doxi::ByteView(message.payload, message.available).u32(0, id)) {
            text = "Catalogued message without its catalog ID\n";
            return false;
        }
        const auto found = firstEntry.find(id);
        if (found == firstEntry.end()) {
            char reason[64];
            std::snprintf(reason, sizeof reason, "Invalid catalog ID: 0x%x\n", id);
            text = reason;
            return false;
        }
        const std::string& format = catalog[found->second].format;
        complete = expand(format.data(), format.size(), message.payload + 4, message.available - 4, body);
        break;
    }
    case 0: {
        const void* nul = std::memchr(message.payload, '\0', message.available);
        if (nul == nullptr) {
            text = "Inline format string without its terminating NUL\n";
            return false;
        }
        const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - message.payload);
        complete = expand(reinterpret_cast<const char*>(message.payload), length, message.payload + length + 1,
                          message.available - length - 1, body);
        break;
    }
    default:
        text = "Unsupported trace message type: " + std::to_string(message.type) + "\n";
        return false;
    }
    char prefix[96];
    std::snprintf(prefix, sizeof prefix, "[%s:%" PRIu64 ":", kPriorityNames[message.priority & 7],
                  message.timestamp);
    text.reserve(body.size() + 64);
    text += prefix;
    text += componentName(message.component);
    text += "] ";
    text += body;
    return complete;
}

void CatalogDecoder::BufToHexString(const uint8_t* data, size_t length, std::string& text) {
    static const char digits[] = "0123456789abcdef";
    auto printable = [](uint8_t c) { return c >= '!' && c <= '~' ? static_cast<char>(c) : '.'; };
    for (size_t line = 0; line < length; line += 16) {
        const size_t count = std::min<size_t>(16, length - line);
        for (size_t k = 0; k < 16; ++k) {
            if (k < count) {
                text += digits[data[line + k] >> 4];
                text += digits[data[line + k] & 15];
                text += ' ';
            } else {
                text += "   ";
            }
        }
        // The character cells of a short last line past the data stay blank.
        for (size_t k = 0; k < 16; ++k)
            text += k < count ? printable(data[line + k]) : ' ';
        text += '\n';
    }
}
