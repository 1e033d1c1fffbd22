// Data dump files (one CSV file per sensor) and the ALS configuration file.
#pragma once

#include <fstream>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SensorData.h"
#include "Units.h"

class Sensor;

using SensorDump = std::map<std::shared_ptr<Sensor>, std::vector<SensorData>>;

struct AlsConfiguration {
    int delayTime = 5;
    std::vector<int> values;
};

class CsvParser {
public:
    // One dump file per sensor, in the order of sensors. With readLuid the LUID
    // of each file is stored into its sensor.
    SensorDump readFromFile(const std::string& basePath, const std::vector<std::shared_ptr<Sensor>>& sensors,
                            bool readLuid);
    void writeToFile(const std::string& basePath, const SensorDump& dump);
    static bool dumpExists(const std::string& folder, const std::string& prefix, const std::string& sensorName);
    static std::string getSuffixedPath(const std::string& basePath, const std::string& sensorName);

    void readConfigFile(const std::string& path, AlsConfiguration& configuration);
    void parseAlsConfigLine(const std::string& line, AlsConfiguration& configuration);
    void splitLine(const std::string& line, char separator);
    void parseHeader(const std::vector<std::string>& header, const std::shared_ptr<Sensor>& sensor);
    void parseSensorDataLine(const std::vector<std::string>& fields);
    std::string writeHeader(const std::shared_ptr<Sensor>& sensor) const;
    std::string writeSensorDataLine(const SensorData& sample) const;

    // One sensor's dump read from a stream; path names it in messages.
    std::vector<SensorData> readSensorStream(std::istream& in, const std::string& path,
                                             const std::shared_ptr<Sensor>& sensor, bool readLuid);
    // The same, giving each sample to onSample as it is read.
    void readSamples(std::istream& in, const std::string& path, const std::shared_ptr<Sensor>& sensor,
                     bool readLuid, const std::function<void(const SensorData&)>& onSample);
    // Opens one sensor's dump file (the messages of a missing or unreadable file).
    static std::ifstream openSensorFile(const std::string& path);
    // The lines of a stream (an upper bound of its samples); the stream is rewound.
    static size_t countLines(std::istream& in);

    const std::vector<std::string>& getColumns() const { return columns; }
    const SensorData& getCurrentData() const { return currentData; }

private:
    UnitsEnum sensorUnit = Unit_unknown;
    UnitsEnum fileUnit = Unit_unknown;
    bool convertUnits = false;
    std::vector<std::string> columns;
    SensorData currentData;

    std::vector<SensorData> readSensorFile(const std::string& path, const std::shared_ptr<Sensor>& sensor,
                                           bool readLuid);
};
