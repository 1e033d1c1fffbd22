#include "XmlUtil.h"

#include <cerrno>
#include <cstdlib>

#include "Exceptions.h"

namespace xmlutil {

bool parseInteger(const std::string& text, long long& value) {
    if (text.empty())
        return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (end == begin || *end != '\0' || errno == ERANGE)
        return false;
    // strtoll skips leading blanks; the whole text must be the number.
    if (text[0] == ' ' || text[0] == '\t' || text[0] == '\n' || text[0] == '\r')
        return false;
    value = v;
    return true;
}

int32_t toInt32(const std::string& text) {
    long long v = 0;
    if (!parseInteger(text, v) || v < INT32_MIN || v > INT32_MAX)
        throw CalibrationException("Conversion error. Value " + text + " is not a valid number");
    return static_cast<int32_t>(v);
}

std::string textOf(const TiXmlElement* element) {
    const char* text = element ? element->GetText() : nullptr;
    return text ? text : "";
}

std::string row(const TiXmlNode* node) {
    return std::to_string(node ? node->Row() : 0);
}

bool fromHex(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0)
        return false;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

TiXmlElement* textElement(const std::string& name, const std::string& text) {
    TiXmlElement* element = new TiXmlElement(name);
    element->LinkEndChild(new TiXmlText(text));
    return element;
}

uint16_t readVendorData(const TiXmlElement* vendor, std::vector<uint8_t>& record, bool withLength) {
    const char* lengthText = vendor->Attribute("DataLength");
    if (lengthText == nullptr)
        throw CalibrationException("XML parsing error. Missing field DataLength. Line: " + row(vendor));
    long long length = 0;
    if (!parseInteger(lengthText, length) || length < 0 || length > 0xFFFF)
        throw CalibrationException("XML parsing error. DataLength has invalid value. Line: " + row(vendor));
    const std::string text = textOf(vendor);
    if (text.size() != 2 * static_cast<size_t>(length))
        throw CalibrationException("XML parsing error. VendorData size does not match declared length. Line: " +
                                   row(vendor));
    std::vector<uint8_t> bytes;
    if (!fromHex(text, bytes))
        throw CalibrationException("XML parsing error. Invalid hexadecimal data in VendorData. Line: " + row(vendor));
    if (withLength)
        doxi::putU16(record, static_cast<uint16_t>(length));
    record.insert(record.end(), bytes.begin(), bytes.end());
    return static_cast<uint16_t>(length);
}

}  // namespace xmlutil
