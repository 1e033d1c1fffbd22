// The calibration XML file (root "TSY"): every sensor's record written out
// for a backup, and read back for an import.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Sensor;
class TiXmlElement;

class CalibrationXml {
public:
    // Writes the file; with firmwareRecords the firmware records are written
    // instead of the new ones. Missing folders of the path are made.
    static void serialize(const std::string& path, const std::vector<std::shared_ptr<Sensor>>& sensors,
                          bool firmwareRecords);
    // Reads a file: one sensor per "Sensor" element, in file order.
    static std::vector<std::shared_ptr<Sensor>> deSerialize(const std::string& path);
    static std::shared_ptr<Sensor> deSerialize(TiXmlElement* element);
};
