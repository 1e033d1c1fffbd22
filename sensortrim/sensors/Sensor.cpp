#include "Sensor.h"

#include <cstdio>

#include "Accelerometer.h"
#include "AmbientLight.h"
#include "Exceptions.h"
#include "Gyroscope.h"
#include "InertialSensor.h"
#include "Magnetometer.h"
#include "Matrix.h"
#include "SDT.h"
#include "XmlUtil.h"
#include "cmdline/CmdLineArguments.h"

namespace {

// A log node's name as an XML element name: some names the run log uses
// ("Gyro-Mag diff", "Dip Angle STD") hold blanks, which would make the whole
// log file unreadable; they become underscores.
std::string elementNameOf(std::string name) {
    for (char& c : name)
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            c = '_';
    return name;
}

}  // namespace

std::string luidToString(const _sc_sensor_luid& luid) {
    return luidHexKey(luid);
}

const char* const ACCELEROMETER = "Accelerometer";
const char* const GYROSCOPE = "Gyroscope";
const char* const MAGNETOMER = "Magnetometer";
const char* const AMBIENT = "AmbientLightSensor";

std::string AxisName(int axis) {
    switch (axis) {
    case 0: return "X";
    case 1: return "Y";
    case 2: return "Z";
    default: return "";
    }
}

Sensor::Sensor(const _sc_sensor_luid& id) : luid(id) {}

std::shared_ptr<Sensor> Sensor::allocateSensor(const _sc_sensor_luid& luid) {
    const unsigned type = luid.sensorType;
    switch (type) {
    case 65:
        return std::make_shared<AmbientLight>(luid);
    case 115:
        return std::make_shared<Accelerometer>(luid);
    case 118:
        return std::make_shared<Gyroscope>(luid);
    case 125:
    case 527:
        return std::make_shared<Magnetometer>(luid);
    default:
        break;
    }
    const bool inertial = type == 113 || type == 114 || type == 116 || type == 117 || (type >= 119 && type <= 124) ||
                          type == 126 || (type >= 129 && type <= 141) || type == 577 || type == 578 || type == 591;
    if (inertial)
        return std::make_shared<InertialSensor>(luid);
    return std::make_shared<GenericSensor>(luid);
}

std::string Sensor::getName() {
    return isPrimary() ? name : name + "_2";
}

bool Sensor::validateDataFormat(std::vector<unsigned char>& record) {
    if (record.empty())
        throw CalibrationException("Invalid calibration data size");
    if (static_cast<int8_t>(record[0]) < 0)
        return true;
    if (record[0] != formatId)
        throw CalibrationException("Unsupported format of " + name + " Sensor calibration data");
    checkDataSize(record);
    return true;
}

void Sensor::checkDataSize(const std::vector<unsigned char>& record) const {
    const size_t size = record.size();
    if ((minDataSize != 0 && size < static_cast<size_t>(minDataSize)) ||
        (maxDataSize != 0 && size > static_cast<size_t>(maxDataSize)))
        throw CalibrationException("Invalid calibration data size");
}

void Sensor::storeOriginalScaling(const std::vector<unsigned char>& record) {
    originalScaling = record;
    originalPresent = true;
}

void Sensor::setOriginalScaling(std::vector<unsigned char> record) {
    // Every record carries its format and version bytes; anything shorter is no record.
    if (record.size() < 2)
        throw CalibrationException("Invalid calibration data size");
    validateDataFormat(record);
    storeOriginalScaling(record);
}

void Sensor::setScaling(std::vector<unsigned char> record) {
    if (record.size() < 2)
        throw CalibrationException("Invalid calibration data size");
    validateDataFormat(record);
    scaling = std::move(record);
}

void Sensor::initSDTCalibrationData(SDT& sdt) {
    setOriginalScaling(sdt.getCalibrationData(luid));
}

std::string Sensor::getHingeConfig() const {
    switch (hinge) {
    case 0: return "BOTTOM";
    case 1: return "TOP";
    case 2: return "LEFT";
    case 3: return "RIGHT";
    default: return "";
    }
}

void Sensor::setHingeConfig(const std::string& text) {
    if (CompareStringCaseSensitive(text, "TOP"))
        hinge = 1;
    else if (CompareStringCaseSensitive(text, "BOTTOM"))
        hinge = 0;
    else if (CompareStringCaseSensitive(text, "LEFT"))
        hinge = 2;
    else if (CompareStringCaseSensitive(text, "RIGHT"))
        hinge = 3;
}

void Sensor::linkCustomData(TiXmlElement* node, const std::vector<unsigned char>& record) {
    const size_t length = record.size() >= 2 ? record.size() - 2 : 0;
    TiXmlElement* custom = xmlutil::textElement("OEMCustomData", length ? xmlutil::toHex(&record[2], length) : "");
    custom->SetAttribute("DataLength", static_cast<int>(length));
    node->LinkEndChild(custom);
}

void Sensor::keepFirmwareRecord(const std::vector<unsigned char>& record, const std::string& problem) {
    originalScaling = record;
    originalPresent = true;
    recordProblem = problem;
}

std::unique_ptr<TiXmlElement> Sensor::serialize(bool firmwareRecord) {
    exportProblem.clear();
    const std::vector<unsigned char>* record = &scaling;
    bool kept = false;
    if (firmwareRecord || scaling.empty()) {
        if (originalScaling.empty() || !originalPresent)
            return nullptr;
        record = &originalScaling;
        kept = !recordProblem.empty();
    }
    if (record->empty())
        return nullptr;

    std::unique_ptr<TiXmlElement> element(new TiXmlElement("Sensor"));
    element->SetAttribute("SensorTypeId", luid.sensorType);
    element->SetAttribute("SubTypeId", luid.subType);
    element->SetAttribute("VendorId", luid.vendorId);
    element->SetAttribute("InstanceId", luid.instance);
    element->SetAttribute("Flags", luid.flags);
    TiXmlElement* data = new TiXmlElement("CalibrationData");
    element->LinkEndChild(data);
    // A record of one byte has no version: it is written as 0.
    data->SetAttribute("Version", record->size() > 1 ? (*record)[1] : 0);
    data->SetAttribute("FormatId", (*record)[0]);
    if (record->size() < 2) {
        linkCustomData(data, *record);
        exportProblem = "the firmware holds 1 byte, no version: it imports back as 2 bytes";
    } else if ((*record)[0] & 0x80) {
        linkCustomData(data, *record);
    } else if (kept) {
        // A record that does not fit its sensor goes out as the bytes the
        // firmware holds; the import refuses it as the firmware's was.
        linkCustomData(data, *record);
        exportProblem = recordProblem;
    } else {
        linkDataNode(data, *record, record->size());
    }
    return element;
}

void Sensor::checkCreateLog() {
    if (log != nullptr)
        return;
    logRoot.reset(new TiXmlElement("Sensor"));
    logRoot->SetAttribute("LUID", getLuidString());
    logRoot->SetAttribute("Type", name);
    std::string unit;
    try {
        unit = Conversions::toString(samplingUnit);
    } catch (const MathException&) {
        unit = "unknown";
    }
    logRoot->SetAttribute("SamplingUnit", unit);
    logRoot->SetAttribute("Success", "false");
    logRoot->SetAttribute("IsPrimary", isPrimary() ? "true" : "false");
    log = logRoot.get();
}

void Sensor::logFailure(const std::string& reason) {
    checkCreateLog();
    std::string text = reason;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    logRoot->SetAttribute("Success", "false");
    logRoot->SetAttribute("FailureReason", text);
}

void Sensor::pushLog(const std::string& elementName) {
    checkCreateLog();
    TiXmlElement* child = new TiXmlElement(elementNameOf(elementName));
    log->LinkEndChild(child);
    savedLog = log;
    log = child;
}

void Sensor::popLog() {
    if (savedLog != nullptr)
        log = savedLog;
}


void Sensor::addToLog(TiXmlElement* element, const std::string& values, const std::string& comment) {
    checkCreateLog();
    if (!comment.empty())
        log->LinkEndChild(new TiXmlComment(comment.c_str()));
    if (element != nullptr) {
        element->LinkEndChild(xmlutil::textElement("Values", values));
        log->LinkEndChild(element);
    }
}

void Sensor::addToLog(const Vector& v, const std::string& elementName, const std::string& comment) {
    TiXmlElement* element = new TiXmlElement(elementNameOf(elementName));
    element->SetAttribute("Rows", "1");
    element->SetAttribute("Cols", v.size());
    addToLog(element, v.printArr(), comment);
}

void Sensor::addToLog(const Matrix& m, const std::string& elementName, const std::string& comment) {
    TiXmlElement* element = new TiXmlElement(elementNameOf(elementName));
    element->SetAttribute("Rows", m.getRows());
    element->SetAttribute("Cols", m.getCols());
    addToLog(element, m.printArr(), comment);
}

void Sensor::addToLog(const double& value, const std::string& elementName, const std::string& comment) {
    char text[400];
    std::snprintf(text, sizeof text, "%.6f", value);
    addToLog(new TiXmlElement(elementNameOf(elementName)), text, comment);
}

void Sensor::addToLog(const std::string& elementName, const std::string& values, const std::string& comment,
                      const std::string& attr1, const std::string& value1, const std::string& attr2,
                      const std::string& value2) {
    TiXmlElement* element = new TiXmlElement(elementNameOf(elementName));
    if (!attr1.empty() && !value1.empty())
        element->SetAttribute(attr1, value1);
    if (!attr2.empty() && !value2.empty())
        element->SetAttribute(attr2, value2);
    addToLog(element, values, comment);
}

void Sensor::addCommentToLog(const std::string& text) {
    addToLog(nullptr, "", text);
}

void GenericSensor::parse(TiXmlHandle, int, int) {
    throw CalibrationException("Error. No calibration data format is available");
}

void GenericSensor::linkDataNode(TiXmlElement* node, const std::vector<unsigned char>&, unsigned long) {
    linkCustomData(node, scaling.empty() ? originalScaling : scaling);
}

bool GenericSensor::validateDataFormat(std::vector<unsigned char>& record) {
    if (record.empty())
        throw CalibrationException("Invalid calibration data size");
    if (static_cast<int8_t>(record[0]) < 0)
        return true;
    if (record[0] > 2)
        throw CalibrationException("Unsupported format of " + name + " Sensor calibration data");
    checkDataSize(record);
    return true;
}
