// The calibration-truth matrix, shared by its tests and its benchmark: a
// simulated device with known errors as a scenario, and the cells of the
// matrix (every flow and sensor subset the command line accepts, with and
// without the lid accelerometer) with their command lines.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <regex>
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

// The device behind the sensors of a scenario. A realistic one is also the
// part of examples/hub-realistic.xml: each sensor's full scale, resolution,
// nonlinearity, drifting bias, noise and the gyroscope's g-sensitivity, the
// stream's jitter and lost reports, the station's ripple and drift.
struct Device {
    Errors acc, lid, gyro, mag;
    double field = 480, dip = 62;
    bool realistic = false;
    // Moved by a person's hand.
    bool hand = false;
};

// Three values drawn evenly from [low, high).
inline V draw(std::mt19937& rng, double low, double high) {
    std::uniform_real_distribution<double> d(low, high);
    return {d(rng), d(rng), d(rng)};
}

// A part's errors drawn on every axis, as wide as the calibration takes them.
inline Errors drawAccelerometer(std::mt19937& rng, double noise) {
    return {draw(rng, -0.1, 0.1), draw(rng, 0.95, 1.05), draw(rng, -0.015, 0.015), noise};
}
inline Errors drawGyroscope(std::mt19937& rng, double noise) {
    return {draw(rng, -3, 3), draw(rng, 0.85, 1.15), draw(rng, -0.02, 0.02), noise};
}
inline Errors drawMagnetometer(std::mt19937& rng, double noise) {
    return {draw(rng, -200, 200), draw(rng, 0.85, 1.2), draw(rng, -0.03, 0.03), noise};
}

inline std::string triple(const V& v) {
    std::ostringstream out;
    out.precision(9);
    out << v[0] << "," << v[1] << "," << v[2];
    return out.str();
}

// A number as a command line takes it.
inline std::string number(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

// The simulator's options that give a sensor ("acc", "gyro", "mag") its errors.
inline std::vector<std::string> simulatorErrors(const std::string& sensor, const Errors& e) {
    return {"--" + sensor + "-offset", triple(e.offset), "--" + sensor + "-scale", triple(e.scale),
            "--" + sensor + "-misalign", triple(e.misalign)};
}

// The attributes (' name="value"') of the first element of that name in xml
// after from, without those named in skip.
inline std::string attributesOf(const std::string& xml, const std::string& element,
                                const std::vector<std::string>& skip, size_t from = 0) {
    const size_t at = xml.find("<" + element + " ", from);
    if (at == std::string::npos)
        return "";
    const std::string tag = xml.substr(at, xml.find('>', at) - at);
    static const std::regex attribute("([A-Za-z]+)=\"([^\"]*)\"");
    std::string kept;
    for (std::sregex_iterator it(tag.begin(), tag.end(), attribute), end; it != end; ++it)
        if (std::find(skip.begin(), skip.end(), (*it)[1].str()) == skip.end())
            kept += " " + (*it)[0].str();
    return kept;
}

inline std::string realisticScenario() {
    return readFile(EXAMPLES_DIR "/hub-realistic.xml");
}

inline std::string sensorElement(const char* name, const Errors& e, bool realistic) {
    std::string element = std::string("<") + name + " offset=\"" + triple(e.offset) + "\" scale=\"" + triple(e.scale) +
                          "\" misalign=\"" + triple(e.misalign) + "\"";
    if (!realistic)
        return element + " noise=\"" + std::to_string(e.noise) + "\"/>";
    // The realistic part's own limits, imperfections and noise.
    const std::string xml = realisticScenario();
    return element + attributesOf(xml, name, {"offset", "scale", "misalign"}, xml.find("<Device ")) + "/>";
}

// The default scenario with this device, its simulated time `speed` times
// faster than wall time.
inline std::string scenario(const Device& d, double speed, unsigned seed) {
    std::string xml = defaultScenario();
    const size_t from = xml.find("<Device ");
    const size_t to = xml.find("</Device>") + 9;
    const std::string station =
        d.realistic ? attributesOf(realisticScenario(), "Device", {"speed", "field", "dip", "seed", "lightGain"}) : "";
    const std::string device = "<Device speed=\"" + std::to_string(speed) + "\" field=\"" + std::to_string(d.field) +
                               "\" dip=\"" + std::to_string(d.dip) + "\" seed=\"" + std::to_string(seed) + "\"" +
                               (d.hand ? " hand=\"true\"" : "") + station + ">" + sensorElement("Accelerometer", d.acc, d.realistic) +
                               sensorElement("LidAccelerometer", d.lid, d.realistic) +
                               sensorElement("Gyroscope", d.gyro, d.realistic) +
                               sensorElement("Magnetometer", d.mag, d.realistic) + "</Device>";
    return xml.replace(from, to - from, device);
}

// The gyroscope's sensitivity to gravity in a scenario (deg/s per g, rows
// the gyroscope's axes); zero when it has none.
inline records::M3 gSensitivityOf(const std::string& xml) {
    const std::string attributes = attributesOf(xml, "Gyroscope", {}, xml.find("<Device "));
    const size_t at = attributes.find("gSensitivity=\"");
    records::M3 g{};
    if (at == std::string::npos)
        return g;
    std::vector<double> values;
    std::stringstream in(attributes.substr(at + 14, attributes.find('"', at + 14) - at - 14));
    for (std::string item; std::getline(in, item, ',');)
        values.push_back(std::stod(item));
    if (values.size() == 3)
        g = {values[0], 0, 0, 0, values[1], 0, 0, 0, values[2]};
    else if (values.size() == 9)
        std::copy(values.begin(), values.end(), g.begin());
    return g;
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

// The zero rate a flow finds for a gyroscope with that offset and
// sensitivity to gravity: the full flow the zero rate averaged over all
// orientations (its opposite holds cancel gravity's share), the others the
// zero rate averaged over the positions they hold.
inline V zeroRate(const V& offset, const records::M3& gSensitivity, Flow flow) {
    const V gravity = flow == Flow::Full ? V{0, 0, 0} : flow == Flow::Minimal ? V{0, 0, 1} : V{-0.25, 0.25, 0.5};
    const V shift = records::apply(gSensitivity, gravity);
    return {offset[0] + shift[0], offset[1] + shift[1], offset[2] + shift[2]};
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

// Different on every axis and from sensor to sensor.
inline const Errors kAccelerometer{{0.05, -0.08, 0.11}, {1.04, 0.96, 1.02}, {0.012, -0.008, 0.015}, 0.001};
inline const Errors kLid{{-0.03, 0.06, 0.02}, {0.97, 1.03, 1.01}, {-0.01, 0.006, 0.009}, 0.001};
inline const Errors kGyroscope{{2.5, -1.2, 0.8}, {1.15, 0.9, 1.06}, {0.02, -0.015, 0.01}, 0.05};
inline const Errors kMagnetometer{{180, -120, 75}, {1.2, 0.88, 1.05}, {0.03, -0.02, 0.025}, 1.0};
inline const double kField = 480;

// What the full flow promises each record: the accelerometer's scale and axes
// (a share) and offset (g), the gyroscope's scale and axes and its offset
// (deg/s, in every flow), the magnetometer's shape and its centre (a share of
// the field).
inline constexpr double kAccTolerance = 0.003;
inline constexpr double kGyroScaleTolerance = 0.01;
inline constexpr double kGyroOffsetTolerance = 0.1;
inline constexpr double kMagShapeTolerance = 0.03;
inline constexpr double kMagCentreShare = 0.01;

// A magnetometer's correction at the truth's size: its shape, which is all
// the calibration determines of it beside the centre.
inline records::M3 shapeOf(const records::M3& found, const records::M3& truth) {
    const double size = std::cbrt(records::determinant(found) / records::determinant(truth));
    records::M3 shape = found;
    for (double& x : shape)
        x /= size;
    return shape;
}

}  // namespace truth
