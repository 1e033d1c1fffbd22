// Imports arbitrary bytes as a calibration XML document, and exports what was read.
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "Exceptions.h"
#include "SDT.h"
#include "Sensor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TiXmlDocument doc;
    doc.Parse(text.c_str());
    if (doc.Error())
        return 0;
    TiXmlElement* root = doc.FirstChildElement("TSY");
    TiXmlElement* calibration = root ? root->FirstChildElement("Calibration") : nullptr;
    if (calibration == nullptr)
        return 0;
    SDT sdt;
    for (TiXmlElement* e = calibration->FirstChildElement(); e; e = e->NextSiblingElement()) {
        try {
            std::shared_ptr<Sensor> sensor = sdt.deSerialize(e);
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
