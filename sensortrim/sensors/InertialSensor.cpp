#include "InertialSensor.h"

#include <cmath>
#include <cstdint>

#include "Console.h"
#include "Exceptions.h"
#include "XmlUtil.h"

using namespace xmlutil;

namespace {

const char* const kAxisNames[9] = {"XX", "XY", "XZ", "YX", "YY", "YZ", "ZX", "ZY", "ZZ"};
const char* const kMatrixNames[9] = {"Mat11", "Mat12", "Mat13", "Mat21", "Mat22", "Mat23", "Mat31", "Mat32", "Mat33"};
const char* const kOffsetNames[3] = {"OffsetX", "OffsetY", "OffsetZ"};

CalibrationException unexpected(const TiXmlElement* element) {
    return CalibrationException(std::string("XML parsing error. Unexpected element ") + element->Value() +
                                ". Line: " + row(element));
}

// The record's vendor data length, 0 when the record has no room for it.
size_t vendorLength(const std::vector<unsigned char>& record) {
    return record.size() >= staticrecord::kSize ? readU16(record, staticrecord::kVendorLength) : 0;
}

}  // namespace

InertialSensor::InertialSensor(const _sc_sensor_luid& id) : Sensor(id) {
    category = 1;
    numFields = 3;
    if (luid.flags & 0x02) {
        formatId = 0;
        minDataSize = maxDataSize = static_cast<int>(staticrecord::kSize);
    } else if (luid.flags & 0x01) {
        formatId = 1;
        minDataSize = 12;
        maxDataSize = 66;
    }
}

bool InertialSensor::validateDataFormat(std::vector<unsigned char>& record) {
    try {
        return Sensor::validateDataFormat(record);
    } catch (const CalibrationException&) {
        // A static record may carry vendor data beyond its fixed size.
        if (!record.empty() && record[0] == formatId && record.size() >= staticrecord::kSize &&
            record.size() == static_cast<size_t>(maxDataSize) + vendorLength(record))
            return false;
        throw;
    }
}

void InertialSensor::setOriginalScaling(std::vector<unsigned char> record) {
    if (record.size() < 2)
        throw CalibrationException("Invalid calibration data size");
    if ((luid.flags & 0x01) && record[0] != formatId) {
        consoleOut() << "Warning: Dynamic sensor calibration data is outdated. Ignoring the dynamic " << getName()
                  << std::endl;
        return;
    }
    if ((luid.flags & 0x01) && importedNoise) {
        validateDataFormat(record);
        storeOriginalScaling(record);
        setWhiteNoise(importedWhiteNoise);
        return;
    }
    Sensor::setOriginalScaling(std::move(record));
}

void InertialSensor::setWhiteNoise(double noise) {
    if ((luid.flags & 0x03) == 0)
        throw CalibrationException("Internal error. Invalid operation was performed");
    if (!originalPresent || originalScaling.empty())
        throw CalibrationException("Error. No original scaling for dynamic sensor " + getName());
    if (originalScaling.size() < 6)
        throw CalibrationException("Invalid calibration data size");
    std::vector<unsigned char> record = originalScaling;
    // Truncate to an unsigned 32-bit value; out-of-range values saturate.
    uint32_t value = 0;
    if (noise >= 4294967295.0)
        value = 0xFFFFFFFFu;
    else if (noise > 0)
        value = static_cast<uint32_t>(noise);
    writeU32(record, 2, value);
    scaling = record;
}

uint32_t InertialSensor::compressAxisMapping(const Matrix& mapping) {
    if (mapping.getRows() != 3 || mapping.getCols() != 3)
        throw MathException("Error from compressAxisMapping, expected a 3X3 matrix");
    uint32_t word = 0;
    for (int k = 0; k < 9; ++k) {
        const double v = mapping[k / 3][k % 3];
        const uint32_t bits = v == 1.0 ? 0x1u : v == -1.0 ? 0x3u : 0x0u;
        word |= bits << (2 * k);
    }
    return word;
}

Matrix InertialSensor::decompressAxisMapping(uint32_t word) {
    Matrix m(3, 3);
    for (int k = 0; k < 9; ++k) {
        const uint32_t bits = (word >> (2 * k)) & 0x3u;
        m[k / 3][k % 3] = bits & 0x2u ? static_cast<double>(bits) - 4.0 : static_cast<double>(bits);
    }
    return m;
}

uint32_t InertialSensor::recordAxisMapping(const std::vector<unsigned char>& record) {
    return readU32(record, staticrecord::kAxisMapping) & 0xFFFFFFu;
}

std::vector<unsigned char> InertialSensor::getStaticDefault() const {
    if (!(luid.flags & 0x02))
        throw CalibrationException("Internal error: not implemented");
    std::vector<unsigned char> record(staticrecord::kSize, 0);
    record[0] = static_cast<unsigned char>(formatId);
    for (int i = 0; i < 3; ++i)
        writeU16(record, staticrecord::kMatrix + 2 * static_cast<size_t>(4 * i), 1);
    writeU16(record, staticrecord::kScaleFactor, 1);
    writeU32(record, staticrecord::kAxisMapping, 0x10101);
    return record;
}

void InertialSensor::parse(TiXmlHandle node, int importedFormat, int version) {
    TiXmlElement* data = node.ToElement();
    if (data == nullptr)
        throw CalibrationException("Invalid calibration data");
    if (importedFormat != formatId)
        throw CalibrationException("XML parsing error. Unsupported format of calibration data. Line: " + row(data));
    if (luid.flags & 0x02) {
        std::vector<unsigned char> record = parseStaticBody(data);
        record[0] = static_cast<unsigned char>(importedFormat);
        record[1] = static_cast<unsigned char>(version);
        setScaling(record);
        return;
    }
    if (luid.flags & 0x01) {
        const TiXmlElement* noise = data->FirstChildElement("WhiteNoise");
        if (noise == nullptr || noise->GetText() == nullptr)
            throw CalibrationException("XML parsing error. Missing white noise value");
        // The record holds an unsigned 32-bit value, and export writes it so;
        // a negative one, as files written as signed numbers hold a value of
        // 2^31 or more, is that value's bits read unsigned (as a scale factor's are).
        const std::string text = textOf(noise);
        long long value = 0;
        if (!parseInteger(text, value) || value < INT32_MIN || value > UINT32_MAX)
            throw CalibrationException("Conversion error. Value " + text + " is not a valid number");
        if (value < 0)
            value += 4294967296LL;
        importedWhiteNoise = static_cast<double>(value);
        importedNoise = true;
        return;
    }
    throw CalibrationException("XML parsing error. Unknown format of calibration data. Line: " + row(data));
}

std::vector<unsigned char> InertialSensor::parseStaticBody(TiXmlElement* data) {
    std::vector<unsigned char> record = getStaticDefault();

    if (TiXmlElement* axes = data->FirstChildElement("AxisMapping")) {
        Matrix mapping(3, 3);
        int count = 0;
        for (TiXmlElement* e = axes->FirstChildElement(); e && count < 9; e = e->NextSiblingElement(), ++count) {
            if (std::string(e->Value()) != kAxisNames[count])
                throw unexpected(e);
            const int32_t v = toInt32(textOf(e));
            if (v < -1 || v > 1)
                throw CalibrationException(std::string("XML parsing error. Invalid value for axis element ") +
                                           e->Value() + ". Line: " + row(e) + "\nSensor: " + getLuidString());
            mapping[count / 3][count % 3] = v;
        }
        if (count < 9)
            throw CalibrationException("Axes mapping number of values was invalid. Line: " + row(axes));
        writeU32(record, staticrecord::kAxisMapping, compressAxisMapping(mapping));
    }

    if (TiXmlElement* matrix = data->FirstChildElement("Matrix")) {
        int count = 0;
        for (TiXmlElement* e = matrix->FirstChildElement(); e; e = e->NextSiblingElement(), ++count) {
            const std::string elementName = e->Value();
            const bool isEntry = count < 9 && elementName == kMatrixNames[count];
            const bool isFactor = count == 9 && elementName == "ScaleFactor";
            if (!isEntry && !isFactor)
                throw unexpected(e);
            const int32_t v = toInt32(textOf(e));
            // The entries are signed 16-bit values; the scale factor is an
            // unsigned one, written so on export (and signed by older files).
            if (v < -32768 || v > (isFactor ? 65535 : 32767))
                throw CalibrationException("XML parsing error. Invalid value for element " + elementName +
                                           ". Line: " + row(e));
            const size_t offset = isEntry ? staticrecord::kMatrix + 2 * static_cast<size_t>(count)
                                          : staticrecord::kScaleFactor;
            writeU16(record, offset, static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFFu));
        }
        if (count < 9) {
            const TiXmlNode* first = matrix->FirstChildElement();
            throw CalibrationException("XML parsing error. Invalid number of fields in scaling matrix. Line: " +
                                       row(first ? first : matrix));
        }
    }

    if (TiXmlElement* offsets = data->FirstChildElement("Offset")) {
        int count = 0;
        for (TiXmlElement* e = offsets->FirstChildElement(); e && count < 3; e = e->NextSiblingElement(), ++count) {
            if (std::string(e->Value()) != kOffsetNames[count])
                throw unexpected(e);
            writeU32(record, staticrecord::kOffsets + 4 * static_cast<size_t>(count),
                     static_cast<uint32_t>(toInt32(textOf(e))));
        }
        if (count < 3)
            throw CalibrationException("XML parsing error. Invalid number of offset elements. Line: " + row(offsets));
    }

    if (TiXmlElement* vendor = data->FirstChildElement("VendorData"))
        writeU16(record, staticrecord::kVendorLength, readVendorData(vendor, record, false));
    return record;
}

void InertialSensor::linkDataNode(TiXmlElement* node, const std::vector<unsigned char>& record, unsigned long size) {
    if (record.empty() || size != record.size() || record[0] != formatId)
        throw CalibrationException("XML parsing error. Unsupported format of calibration data");
    if (luid.flags & 0x02) {
        linkStaticData(node, record);
    } else if (luid.flags & 0x01) {
        if (record.size() < 6)
            throw CalibrationException("Invalid calibration data");
        node->LinkEndChild(textElement("WhiteNoise", std::to_string(readU32(record, 2))));
    } else {
        linkCustomData(node, record);
    }
}

void InertialSensor::linkStaticData(TiXmlElement* node, const std::vector<unsigned char>& record) {
    const size_t vendor = vendorLength(record);
    if (record.size() < staticrecord::kSize || record.size() < staticrecord::kVendorData + vendor)
        throw CalibrationException("Invalid calibration data");

    // Bits "10" decode as -2, a value the import refuses: the record is
    // written as the firmware holds it, and the export says it will not
    // import back.
    const Matrix mapping = decompressAxisMapping(readU32(record, staticrecord::kAxisMapping));
    for (int k = 0; k < 9; ++k)
        if (mapping[k / 3][k % 3] < -1 && exportProblem.empty())
            exportProblem = std::string("its axis mapping reads -2 at ") + kAxisNames[k] +
                            ", which an import refuses";
    TiXmlElement* axes = new TiXmlElement("AxisMapping");
    for (int k = 0; k < 9; ++k)
        axes->LinkEndChild(textElement(kAxisNames[k], std::to_string(static_cast<int>(mapping[k / 3][k % 3]))));
    node->LinkEndChild(axes);

    TiXmlElement* matrix = new TiXmlElement("Matrix");
    for (int k = 0; k < 9; ++k)
        matrix->LinkEndChild(
            textElement(kMatrixNames[k], std::to_string(readI16(record, staticrecord::kMatrix + 2 * static_cast<size_t>(k)))));
    matrix->LinkEndChild(textElement("ScaleFactor", std::to_string(readU16(record, staticrecord::kScaleFactor))));
    node->LinkEndChild(matrix);

    TiXmlElement* offsets = new TiXmlElement("Offset");
    for (int k = 0; k < 3; ++k)
        offsets->LinkEndChild(
            textElement(kOffsetNames[k], std::to_string(readI32(record, staticrecord::kOffsets + 4 * static_cast<size_t>(k)))));
    node->LinkEndChild(offsets);

    if (vendor != 0) {
        TiXmlElement* v = textElement("VendorData", toHex(&record[staticrecord::kVendorData], vendor));
        v->SetAttribute("DataLength", static_cast<int>(vendor));
        node->LinkEndChild(v);
    }
}
