// Reads arbitrary bytes as an accelerometer dump file and as an ALS configuration.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "CsvParser.h"
#include "DumpNumbers.h"
#include "Exceptions.h"
#include "Sensor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The fast number readers against the general conversions, on the first
    // line: a text they take must read exactly as the general path reads it.
    const std::string first = text.substr(0, text.find_first_of("\n,"));
    double fast = 0;
    if (dumpnumbers::parseValue(first.data(), first.data() + first.size(), fast) == first.data() + first.size()) {
        const double general = std::strtod(first.c_str(), nullptr);
        if (std::memcmp(&fast, &general, sizeof fast) != 0)
            __builtin_trap();
    }
    if (dumpnumbers::parseTimestamp(first.data(), first.data() + first.size(), fast) == first.data() + first.size()) {
        const double general = dumpnumbers::generalTimestamp(first.c_str(), first.c_str() + first.size());
        if (std::memcmp(&fast, &general, sizeof fast) != 0)
            __builtin_trap();
    }
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
