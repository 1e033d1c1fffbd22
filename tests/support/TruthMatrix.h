// The calibration-truth matrix, shared by its tests and its benchmark: a
// simulated device with known errors as a scenario, and the cells of the
// matrix (every flow and sensor subset the command line accepts, with and
// without the lid accelerometer) with their command lines.
#pragma once

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "HubSim.h"
#include "Records.h"

namespace truth {

using V = std::array<double, 3>;

// One sensor's true errors: true = diag(scale) * rotation(misalign) * (raw - offset).
struct Errors {
    V offset, scale, misalign;
    double noise;
    records::M3 correction() const { return records::correction(scale, misalign); }
};

// The device behind the sensors of a scenario.
struct Device {
    Errors acc, lid, gyro, mag;
    double field = 480, dip = 62;
};

inline std::string triple(const V& v) {
    std::ostringstream out;
    out.precision(9);
    out << v[0] << "," << v[1] << "," << v[2];
    return out.str();
}

inline std::string sensorElement(const char* name, const Errors& e) {
    return std::string("<") + name + " offset=\"" + triple(e.offset) + "\" scale=\"" + triple(e.scale) +
           "\" misalign=\"" + triple(e.misalign) + "\" noise=\"" + std::to_string(e.noise) + "\"/>";
}

// The default scenario with this device, its simulated time `speed` times
// faster than wall time.
inline std::string scenario(const Device& d, double speed, unsigned seed) {
    std::string xml = defaultScenario();
    const size_t from = xml.find("<Device ");
    const size_t to = xml.find("</Device>") + 9;
    const std::string device = "<Device speed=\"" + std::to_string(speed) + "\" field=\"" + std::to_string(d.field) +
                               "\" dip=\"" + std::to_string(d.dip) + "\" seed=\"" + std::to_string(seed) + "\">" +
                               sensorElement("Accelerometer", d.acc) + sensorElement("LidAccelerometer", d.lid) +
                               sensorElement("Gyroscope", d.gyro) + sensorElement("Magnetometer", d.mag) +
                               "</Device>";
    return xml.replace(from, to - from, device);
}

enum class Flow { Full, FourSteps, Minimal };

// One cell of the matrix: a flow, the sensors selected, with or without the lid.
struct Cell {
    Flow flow;
    std::string sensors;
    bool primaryOnly;
};

inline bool has(const std::string& text, char c) {
    return text.find(c) != std::string::npos;
}

inline std::vector<Cell> cells() {
    std::vector<Cell> all;
    for (const char* s : {"A", "G", "M", "AG", "AM", "GM", "AGM"}) {
        all.push_back({Flow::Full, s, false});
        if (has(s, 'A'))
            all.push_back({Flow::Full, s, true});
    }
    for (Flow flow : {Flow::FourSteps, Flow::Minimal})
        for (const char* s : {"A", "G", "AG"}) {
            all.push_back({flow, s, false});
            if (has(s, 'A'))
                all.push_back({flow, s, true});
        }
    return all;
}

// The cell's calibration, with its records written to the hub.
inline std::vector<std::string> calibration(const Cell& c) {
    std::vector<std::string> args = {"-Calibrate", c.sensors, "-UpdateTSY"};
    if (c.flow == Flow::FourSteps)
        args.push_back("-FourSteps");
    if (c.flow == Flow::Minimal)
        args.push_back("-Minimal");
    if (c.primaryOnly)
        args.push_back("-PrimaryOnly");
    return args;
}

}  // namespace truth
