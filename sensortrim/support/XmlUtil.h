// Small helpers for the calibration XML: strict integers, hex byte texts,
// little-endian record fields and line numbers.
#pragma once

#include <tinyxml.h>

#include "device/Bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace xmlutil {

// The whole text as a decimal integer; false for anything else.
bool parseInteger(const std::string& text, long long& value);
// The whole text as a 32-bit signed decimal integer; throws CalibrationException
// "Conversion error. Value <text> is not a valid number" otherwise.
int32_t toInt32(const std::string& text);
// Text of an element ("" when it has none).
std::string textOf(const TiXmlElement* element);
// "Line: " suffix value: the element's row in its document.
std::string row(const TiXmlNode* node);

using doxi::toHex;
// Pairs of hex digits (either case) to bytes; false on any other character.
bool fromHex(const std::string& text, std::vector<uint8_t>& out);

// Element holding a text child.
TiXmlElement* textElement(const std::string& name, const std::string& text);

// Reads a "VendorData" element: its "DataLength" attribute and as many bytes
// of hex text; appends the 16-bit length (when withLength) and the bytes.
// Returns the length. Throws CalibrationException with the element's line.
uint16_t readVendorData(const TiXmlElement* vendor, std::vector<uint8_t>& record, bool withLength);

// Little-endian record fields.
using doxi::readI16;
using doxi::readI32;
using doxi::readU16;
using doxi::readU32;
using doxi::writeU16;
using doxi::writeU32;

}  // namespace xmlutil
