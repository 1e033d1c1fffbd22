#include "CalibrationXml.h"

#include "Exceptions.h"
#include "FileUtil.h"
#include "Sensor.h"
#include "XmlUtil.h"
#include "xml/XmlFile.h"

using namespace xmlutil;

namespace {

// An integer attribute of a Sensor or CalibrationData element.
int rangedAttribute(const TiXmlElement* e, const char* attribute, const char* missingName, long long max) {
    const char* text = e->Attribute(attribute);
    long long value = 0;
    if (text == nullptr || !parseInteger(text, value))
        throw CalibrationException(std::string("XML parsing error. Missing field ") + missingName +
                                   ". Line: " + row(e));
    if (value < 0 || value > max)
        throw CalibrationException(std::string("XML parsing error. ") + attribute +
                                   " has invalid value. Line: " + row(e));
    return static_cast<int>(value);
}

}  // namespace

void CalibrationXml::serialize(const std::string& path, const std::vector<std::shared_ptr<Sensor>>& sensors,
                                 bool firmwareRecords) {
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", ""));
    TiXmlElement* root = new TiXmlElement("TSY");
    doc.LinkEndChild(root);
    TiXmlElement* calibration = new TiXmlElement("Calibration");
    root->LinkEndChild(calibration);
    for (const auto& sensor : sensors)
        if (std::unique_ptr<TiXmlElement> element = sensor->serialize(firmwareRecords))
            calibration->LinkEndChild(element.release());

    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makePath(path.substr(0, slash)))
        throw CalibrationException("Failed to create path " + path);
    if (!xmlfile::save(doc, path))
        throw CalibrationException("Failed to write to file " + path);
}

std::vector<std::shared_ptr<Sensor>> CalibrationXml::deSerialize(const std::string& path) {
    // Directories, unreadable files and files nested too deeply to parse
    // safely are refused before TinyXML reads them.
    TiXmlDocument doc;
    const xmlfile::Result loaded = xmlfile::load(path, doc, TIXML_ENCODING_UNKNOWN);
    if (loaded.status == xmlfile::Status::CannotOpen)
        throw CalibrationException("Failed to open XML input file");
    if (!loaded.ok())
        throw CalibrationException("Failed to load XML input file. " + loaded.description +
                                   " Line:" + std::to_string(loaded.row));
    TiXmlElement* root = doc.FirstChildElement();
    if (root == nullptr || std::string(root->Value()) != "TSY")
        throw CalibrationException("Failed to load XML input file. TSY root node could not be located");
    TiXmlElement* calibration = root->FirstChildElement("Calibration");
    if (calibration == nullptr)
        throw CalibrationException("Failed to load XML input file. Calibration node could not be located");
    std::vector<std::shared_ptr<Sensor>> sensors;
    for (TiXmlElement* e = calibration->FirstChildElement(); e; e = e->NextSiblingElement())
        sensors.push_back(deSerialize(e));
    return sensors;
}

std::shared_ptr<Sensor> CalibrationXml::deSerialize(TiXmlElement* element) {
    if (std::string(element->Value()) != "Sensor")
        throw CalibrationException("Failed to load XML input file. Invalid Sensor node name. Line: " + row(element));
    _sc_sensor_luid luid;
    luid.sensorType = static_cast<uint16_t>(rangedAttribute(element, "SensorTypeId", "SensorTypeId", 65535));
    luid.subType = static_cast<uint16_t>(rangedAttribute(element, "SubTypeId", "SubTypeId", 65535));
    luid.vendorId = static_cast<uint16_t>(rangedAttribute(element, "VendorId", "VendorId", 65535));
    luid.instance = static_cast<uint8_t>(rangedAttribute(element, "InstanceId", "InstanceId", 255));
    luid.flags = static_cast<uint8_t>(rangedAttribute(element, "Flags", "flags", 255));

    std::shared_ptr<Sensor> sensor = Sensor::allocateSensor(luid);
    if (!sensor)
        throw CalibrationException("XML parsing error. Invalid luid. Line: " + row(element));

    TiXmlElement* data = element->FirstChildElement();
    if (data == nullptr || std::string(data->Value()) != "CalibrationData")
        throw CalibrationException("Failed to load XML input file. Invalid CalibrationData node name. Line: " +
                                   row(data ? data : element));
    const int version = rangedAttribute(data, "Version", "Version", 255);
    const int formatId = rangedAttribute(data, "FormatId", "FormatId", 255);

    const bool w = data->FirstChildElement("WhiteNoise") != nullptr;
    const bool s = data->FirstChildElement("AxisMapping") || data->FirstChildElement("Matrix") ||
                   data->FirstChildElement("Scale") || data->FirstChildElement("ScaleFactor");
    const bool i = w || s || data->FirstChildElement("Offset");
    const bool t = data->FirstChildElement("Steps") != nullptr;
    TiXmlElement* custom = data->FirstChildElement("OEMCustomData");
    const bool o = custom != nullptr;
    const std::string l = sensor->getLuidString();
    const int category = sensor->getSensorType();

    if (i && category != 1)
        throw CalibrationException("XML parsing error. Sensor " + l +
                                   " was not recognized as Inertial sensor. Invalid calibration format");
    if ((w && s) || (w && (luid.flags & 0x02)) || (s && (luid.flags & 0x01)))
        throw CalibrationException("XML parsing error. Sensor " + l + " has invalid format");
    if (t && category != 2)
        throw CalibrationException("XML parsing error. Sensor " + l +
                                   " was not recognized as Ambient Light sensor. Invalid calibration format" +
                                   ". Line: " + row(data));
    if (o && (i || t))
        throw CalibrationException("XML parsing error. Multiple data for sensor " + l + ". Line: " + row(data));
    if (!o && !i && !t)
        throw CalibrationException("XML parsing error. No calibration data was specified for sensor " + l +
                                   ". Line: " + row(data));

    if (o) {
        const char* lengthText = custom->Attribute("DataLength");
        long long length = 0;
        if (lengthText == nullptr || !parseInteger(lengthText, length))
            throw CalibrationException("XML parsing error. Missing field DataLength. Line: " + row(custom));
        std::vector<unsigned char> record = {static_cast<unsigned char>(formatId), static_cast<unsigned char>(version)};
        if (length > 0) {
            const std::string text = textOf(custom);
            if (text.size() % 2 != 0 || static_cast<long long>(text.size() / 2) != length)
                throw CalibrationException("XML parsing error. BinData size does not match declared length. Line: " +
                                           row(custom));
            if (!fromHex(text, record))
                throw CalibrationException("XML parsing error. Invalid hexadecimal data in OEMCustomData. Line: " +
                                           row(custom));
        }
        if ((formatId & 0x80) || category == 0) {
            sensor->setScaling(record);
            return sensor;
        }
        // A standard format as raw bytes: a record the firmware held that
        // did not fit its sensor, saved as it was. It is refused as it was.
        try {
            sensor->setScaling(record);
        } catch (const CalibrationException& e) {
            // The record's own refusal as it stands, where it lies on a line of its own.
            throw CalibrationException(std::string(e.what()) + "\nSensor: " + l + ", OEMCustomData. Line: " +
                                       row(custom));
        }
        return sensor;
    }
    sensor->parse(TiXmlHandle(data), formatId, version);
    return sensor;
}
