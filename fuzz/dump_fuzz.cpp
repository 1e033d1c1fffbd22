// Reads arbitrary bytes as an accelerometer dump file and as an ALS configuration.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "CsvParser.h"
#include "Exceptions.h"
#include "Sensor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    static const std::shared_ptr<Sensor> sensors[] = {Sensor::allocateSensor(_sc_sensor_luid{115, 1, 1, 1, 2}),
                                                      Sensor::allocateSensor(_sc_sensor_luid{65, 1, 1, 0, 0})};
    for (const auto& sensor : sensors) {
        std::istringstream in(text);
        try {
            CsvParser().readSensorStream(in, "fuzz.csv", sensor, true);
        } catch (const CalibrationException&) {
        } catch (const MathException&) {
        }
    }
    std::istringstream lines(text);
    AlsConfiguration configuration;
    CsvParser parser;
    for (std::string line; std::getline(lines, line);) {
        try {
            parser.parseAlsConfigLine(line, configuration);
        } catch (const CalibrationException&) {
        }
    }
    return 0;
}
