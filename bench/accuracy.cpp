// The accuracy of the calibrations: every cell of the matrix (flow, sensors
// selected, with and without the lid accelerometer) calibrates a simulated
// device live through the virtual operator, for each of a number of seeds; each
// seed draws the device's errors (offsets, scales, misalignments, hard and soft
// iron, the field and its dip) and its noise. Each device is calibrated as an
// ideal one (errors and white noise only) and as the realistic part of
// examples/hub-realistic.xml (its limits, imperfections, noise, stream and
// station). The records the hub then holds are compared with the truth; per
// flow, sensor and device the worst residual is printed as a Markdown table,
// with each residual as a multiple of its white-noise floor: what an ideal
// estimator gets from the same holds and turns (the standard error of a
// hold's mean, propagated).
//
//   accuracy [--seeds N] [--speed S]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "HubSim.h"
#include "Records.h"
#include "TruthMatrix.h"

namespace {

using records::M3;
using truth::Cell;
using truth::Device;
using truth::Errors;
using truth::Flow;
using truth::has;
using V = truth::V;

Device drawDevice(unsigned seed, bool realistic) {
    std::mt19937 rng(seed);
    Device d;
    d.realistic = realistic;
    d.acc = truth::drawAccelerometer(rng, 0.001);
    d.lid = truth::drawAccelerometer(rng, 0.001);
    d.gyro = truth::drawGyroscope(rng, 0.05);
    d.mag = truth::drawMagnetometer(rng, 1.0);
    std::uniform_real_distribution<double> field(350, 550), dip(40, 70);
    d.field = field(rng);
    d.dip = dip(rng);
    return d;
}

// The worst residuals of one flow and sensor: of the scale and axes (or the
// shape, or the face-up reading), in percent, and of the offset, in the
// sensor's unit (milli-g, deg/s, percent of the field).
struct Worst {
    double scale = 0, offset = 0;
    double scaleFloor = 0, offsetFloor = 0;  // the worst residuals as multiples of their floors
    int runs = 0, failed = 0;
    std::string firstFailure;
};

// A sensor's white noise in a scenario (its "noise" attribute).
double noiseIn(const std::string& xml, const char* element) {
    const std::string attributes = truth::attributesOf(xml, element, {}, xml.find("<Device "));
    const size_t at = attributes.find("noise=\"");
    return at == std::string::npos ? 0.0 : std::stod(attributes.substr(at + 7));
}

// The white-noise floor of each figure, in its unit: a hold is a second of
// samples 10 ms apart (n of them), a full turn takes 4 s, a quarter turn 2 s.
//  - accelerometer: offset sigma / sqrt(n) (mg), scale sigma / sqrt(n) of 1 g (%);
//  - gyroscope: offset sigma / sqrt(n times the holds the offset comes from);
//    scale: the turn's angle random walk sigma * sqrt(T * 0.01 s) and the
//    offset's error over the turn, against the turn (%);
//  - magnetometer: the centre and the shape of a fit to N samples of a turn
//    each (N = 3 turns of 4 s): sigma * sqrt(3 / N), against the field (%).
struct Floor {
    double scale, offset;
};
const double kHoldSamples = 100;

Floor floorOf(const std::string& sensor, const Cell& cell, double sigma, double field) {
    if (sensor == "gyroscope") {
        const bool full = cell.flow == Flow::Full;
        const double holds = full ? 3 : cell.flow == Flow::FourSteps ? 4 : 1;
        const double offset = sigma / std::sqrt(holds * kHoldSamples);
        const double seconds = full ? 4 : 2, angle = full ? 360 : 90;
        return {100 * (sigma * std::sqrt(seconds * 0.01) + seconds * offset) / angle, offset};
    }
    if (sensor == "magnetometer") {
        const double f = 100 * sigma * std::sqrt(3.0 / 1200) / field;
        return {f, f};
    }
    const double hold = sigma / std::sqrt(kHoldSamples);
    return {100 * hold, 1000 * hold};
}


void residuals(const std::string& xml, const Cell& cell, const Device& d, const std::string& scenarioXml,
               std::map<std::string, Worst>& table, const std::string& flowLabel) {
    auto note = [&](const std::string& sensor, double scale, double offset) {
        Worst& w = table[flowLabel + "|" + sensor];
        const char* element = sensor == "gyroscope"           ? "Gyroscope"
                              : sensor == "magnetometer"      ? "Magnetometer"
                              : sensor == "lid accelerometer" ? "LidAccelerometer"
                                                              : "Accelerometer";
        const Floor f = floorOf(sensor, cell, noiseIn(scenarioXml, element), d.field);
        // What the flow does not determine stays so (NaN).
        w.scale = std::isnan(scale) || std::isnan(w.scale) ? NAN : std::max(w.scale, scale);
        w.scaleFloor = std::isnan(scale) || std::isnan(w.scaleFloor) ? NAN : std::max(w.scaleFloor, scale / f.scale);
        w.offset = std::max(w.offset, offset);
        w.offsetFloor = std::max(w.offsetFloor, offset / f.offset);
        ++w.runs;
    };
    auto accelerometer = [&](const char* label, int instance, const Errors& e, bool lid) {
        const records::Record r = records::recordOf(xml, 115, instance);
        const M3 c = e.correction();
        double scale = 0, offset = 0;
        if (cell.flow == Flow::Minimal) {
            const V expected = {0, 0, lid ? -1.0 : 1.0};
            V raw = records::apply(records::inverse(c), expected);
            for (int i = 0; i < 3; ++i)
                raw[i] += e.offset[i] - r.offset[i] / 1e6;
            const V read = records::apply(r.correction, raw);
            for (int i = 0; i < 3; ++i)
                offset = std::max(offset, std::fabs(read[i] - expected[i]) * 1000);
            note(label, NAN, offset);
            return;
        }
        if (cell.flow == Flow::Full) {
            scale = records::largestDifference(r.correction, c) * 100;
        } else {
            for (int i = 0; i < 3; ++i)
                scale = std::max(scale, std::fabs(r.correction[4 * i] / c[4 * i] - 1) * 100);
        }
        for (int i = 0; i < 3; ++i)
            offset = std::max(offset, std::fabs(r.offset[i] / 1e6 - e.offset[i]) * 1000);
        note(label, scale, offset);
    };
    if (has(cell.sensors, 'A')) {
        accelerometer("accelerometer", 0, d.acc, false);
        if (!cell.primaryOnly)
            accelerometer("lid accelerometer", 1, d.lid, true);
    }
    if (has(cell.sensors, 'G')) {
        const records::Record r = records::recordOf(xml, 118);
        const M3 c = d.gyro.correction();
        double scale = NAN, offset = 0;
        if (cell.flow == Flow::Full)
            scale = records::largestDifference(r.correction, c) * 100;
        else if (cell.flow == Flow::FourSteps) {
            scale = 0;
            for (int i = 0; i < 3; ++i)
                scale = std::max(scale, std::fabs(r.correction[4 * i] / c[4 * i] - 1) * 100);
        }
        // The zero rate the flow can find of a part whose zero rate follows gravity.
        const V zero = truth::zeroRate(d.gyro.offset, truth::gSensitivityOf(scenarioXml), cell.flow);
        for (int i = 0; i < 3; ++i)
            offset = std::max(offset, std::fabs(r.offset[i] / 1e5 - zero[i]));
        note("gyroscope", scale, offset);
    }
    if (has(cell.sensors, 'M')) {
        const records::Record r = records::recordOf(xml, 527);
        const M3 c = d.mag.correction();
        const double size = std::cbrt(records::determinant(r.correction) / records::determinant(c));
        M3 shape = r.correction;
        for (double& x : shape)
            x /= size;
        double offset = 0;
        for (int i = 0; i < 3; ++i)
            offset = std::max(offset, std::fabs(r.offset[i] / 1e3 - d.mag.offset[i]) / d.field * 100);
        note("magnetometer", records::largestDifference(shape, c) * 100, offset);
    }
}

std::string flowLabel(const Cell& c) {
    if (c.flow == Flow::Full)
        return c.sensors == "A" ? "four positions (A alone)" : "full";
    return c.flow == Flow::FourSteps ? "four steps" : "minimal (face up)";
}

// v with the decimals given, then the unit.
std::string number(double v, int decimals, const std::string& unit) {
    if (std::isnan(v))
        return "not determined";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text + unit;
}

}  // namespace

int main(int argc, char** argv) {
    int seeds = 20;
    double speed = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seeds")
            seeds = std::atoi(argv[i + 1]);
        else if (arg == "--speed")
            speed = std::atof(argv[i + 1]);
    }
    const std::vector<Cell> cells = truth::cells();

    std::map<std::string, Worst> table;
    for (bool realistic : {false, true})
    for (const Cell& cell : cells) {
        for (int seed = 1; seed <= seeds; ++seed) {
            const Device device = drawDevice(static_cast<unsigned>(seed), realistic);
            const std::string scenarioXml = truth::scenario(device, speed, static_cast<unsigned>(seed));
            HubSim hub(scenarioXml);
            ProcessOptions options;
            options.workDir = hub.dir();
            options.timeoutSeconds = 120;
            std::vector<std::string> args = truth::calibration(cell);
            args.insert(args.begin(), SENSORTRIM_BIN);
            const ProcessResult r = hub.runWithOperator(args, options);
            const std::string label = flowLabel(cell) + (realistic ? "|realistic" : "|ideal");
            if (r.exitStatus != 0) {
                const size_t at = r.out.find("Error:\n");
                Worst& w = table[label + "|run"];
                ++w.failed;
                if (w.firstFailure.empty()) {
                    w.firstFailure = cell.sensors + " seed " + std::to_string(seed) + ": " +
                                     (at == std::string::npos ? r.out.substr(0, 200) : r.out.substr(at + 7, 200));
                    // One table cell: no line breaks, no column bars.
                    std::replace(w.firstFailure.begin(), w.firstFailure.end(), '\n', ' ');
                    std::replace(w.firstFailure.begin(), w.firstFailure.end(), '|', '/');
                }
                continue;
            }
            const ProcessResult exported = hub.run({SENSORTRIM_BIN, "-ExportXml", "hub.xml"}, options);
            if (exported.exitStatus != 0) {
                std::fprintf(stderr, "export failed: %s\n", exported.out.c_str());
                return 1;
            }
            residuals(readFile(hub.dir() + "/hub.xml"), cell, device, scenarioXml, table, label);
            ++table[label + "|run"].runs;
        }
        std::fprintf(stderr, "%s %s%s%s: done\n", flowLabel(cell).c_str(), cell.sensors.c_str(),
                     cell.primaryOnly ? " -PrimaryOnly" : "", realistic ? " (realistic)" : "");
    }

    std::printf("| flow | sensor | device | scale and axes, worst | floor x | offset, worst | floor x | calibrations |\n"
                "|---|---|---|---|---|---|---|---|\n");
    for (const char* flow : {"full", "four positions (A alone)", "four steps", "minimal (face up)"}) {
        for (const char* sensor : {"accelerometer", "lid accelerometer", "gyroscope", "magnetometer"}) {
            for (const char* device : {"ideal", "realistic"}) {
                const auto it = table.find(std::string(flow) + "|" + device + "|" + sensor);
                if (it == table.end())
                    continue;
                const Worst& w = it->second;
                const std::string unit = std::string(sensor) == "gyroscope"      ? " deg/s"
                                         : std::string(sensor) == "magnetometer" ? " % of the field"
                                                                                 : " mg";
                const bool faceUp = std::string(flow) == "minimal (face up)" && std::string(sensor) != "gyroscope";
                const std::string scaleText = std::string(sensor) == "magnetometer" ? number(w.scale, 2, " % (shape)")
                                              : faceUp                              ? "face-up reading"
                                                                                    : number(w.scale, 2, " %");
                std::printf("| %s | %s | %s | %s | %s | %s | %s | %d |\n", flow, sensor, device, scaleText.c_str(),
                            faceUp ? "" : number(w.scaleFloor, 1, "").c_str(), number(w.offset, 3, unit).c_str(),
                            number(w.offsetFloor, 1, "").c_str(), w.runs);
            }
        }
        for (const char* device : {"ideal", "realistic"}) {
            const Worst& runs = table[std::string(flow) + "|" + device + "|run"];
            if (runs.failed > 0)
                std::printf("| %s | (runs that failed) | %s | %d of %d | | %s | | |\n", flow, device, runs.failed,
                            runs.failed + runs.runs, runs.firstFailure.c_str());
        }
    }
    return 0;
}
