// Imports arbitrary bytes as a calibration XML document, and exports what was read.
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "CalibrationXml.h"
#include "Exceptions.h"
#include "Sensor.h"
#include "xml/XmlFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The tool's own loader: documents nested too deeply are refused before parsing.
    TiXmlDocument doc;
    if (!xmlfile::parse(text, doc).ok())
        return 0;
    TiXmlElement* root = doc.FirstChildElement("TSY");
    TiXmlElement* calibration = root ? root->FirstChildElement("Calibration") : nullptr;
    if (calibration == nullptr)
        return 0;
    for (TiXmlElement* e = calibration->FirstChildElement(); e; e = e->NextSiblingElement()) {
        try {
            std::shared_ptr<Sensor> sensor = CalibrationXml::deSerialize(e);
            try {
                sensor->serialize(false);
            } catch (const CalibrationException&) {
            }
        } catch (const CalibrationException&) {
        } catch (const MathException&) {
        }
    }
    return 0;
}
