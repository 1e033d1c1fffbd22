// The envelope and the yield of the calibration, judged as a production test
// is. A device with errors drawn on every axis is recorded by the independent
// simulator at a station anywhere inside the limits the tools set, with holds
// as long as a live run would hold them for its parts' noise, and calibrated
// offline. Each run is
//  - true: completed, every record within its flow's tolerance;
//  - a false accept: completed with a record past its tolerance;
//  - too noisy: failed naming the part's noise (the data cannot promise the
//    tolerance, or the part is past its limit);
//  - a false reject: failed for any other reason.
// And each record's logged expected error (one sigma per element) is held
// against the error the record really has: the share of elements past two
// and three of their sigmas (a normal error: 4.6 % and 0.27 %).
//
// Two tables, in Markdown:
//  1. the yield: the full flow (AGM) per cell of parts (typical, noisy, each
//     sensor at 0.5, 0.75 and 0.9 of its noise limit, a magnetometer of 14
//     mG), field (220, 350, 480, 620 mG as the part reads it) and dip (-75 to 75
//     degrees), any heading;
//  2. the honest sigma: per flow that calibrates from a dump (full, four
//     positions, four steps; the face-up flow is live only),
//     device (ideal; the realistic part of examples/hub-realistic.xml, each
//     part warming at a rate of its own; the same part moved by a person's
//     hand) and sensor, over devices drawn at any dip, heading and field of
//     350 to 650 mG with each sensor's noise anywhere up to nine tenths of its
//     limit.
//     The full flow and the four positions determine every element and are
//     held against the truth; four steps does not determine the
//     misalignment, which its tolerance allows for: its gyroscope is held
//     against the truth of what it determines, its accelerometer against the
//     same device recorded without white noise.
//
//   envelope [--seeds N] [--devices D] [--jobs J] [--keep yes] [--only yield|honesty]
//   (N runs per yield cell, default 4: 1,728 runs; D devices per flow and
//   device kind, default 150; J at a time; --keep yes keeps the folders of
//   the false accepts and rejects and names them)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "InertialSensor.h"
#include "Records.h"
#include "RunProcess.h"
#include "TruthMatrix.h"

namespace {

using records::M3;
using truth::Errors;
using truth::number;

// Each sensor's noise limit: the calibration's white-noise limits for the
// accelerometer and the magnetometer, the test's for the gyroscope (the
// calibration's 15 deg/s is beyond any real part).
const double kAccLimit = 0.015, kGyroLimit = 0.5, kGyroCalibrationLimit = 15, kMagLimit = 15;

struct Noise {
    std::string name;
    double acc, gyro, mag;
};
std::vector<Noise> noises() {
    std::vector<Noise> n = {{"typical", 0.001, 0.05, 1.0}, {"noisy", 0.004, 0.3, 3.0}};
    for (double share : {0.5, 0.75, 0.9}) {
        const std::string at = " at " + number(share) + " limit";
        n.push_back({"accelerometer" + at, share * kAccLimit, 0.05, 1.0});
        n.push_back({"gyroscope" + at, 0.001, share * (share < 0.9 ? kGyroLimit : kGyroCalibrationLimit), 1.0});
        n.push_back({"magnetometer" + at, 0.001, 0.05, share * kMagLimit});
    }
    n.push_back({"magnetometer of 14 mG", 0.001, 0.05, 14.0});
    return n;
}
const double kDips[] = {-75, -70, -40, -15, 0, 15, 40, 70, 75};
const double kFields[] = {220, 350, 480, 620};

// Elements past two and three of their logged sigmas.
struct Honesty {
    long elements = 0, pastTwo = 0, pastThree = 0;
    void add(double error, double sigma) {
        if (!(sigma > 0))
            return;
        ++elements;
        pastTwo += std::fabs(error) > 2 * sigma ? 1 : 0;
        pastThree += std::fabs(error) > 3 * sigma ? 1 : 0;
    }
    void add(const Honesty& h) {
        elements += h.elements;
        pastTwo += h.pastTwo;
        pastThree += h.pastThree;
    }
    std::string shares() const {
        if (elements == 0)
            return "| | ";
        char text[64];
        std::snprintf(text, sizeof text, "| %.1f %% | %.2f %%", 100.0 * pastTwo / elements,
                      100.0 * pastThree / elements);
        return text;
    }
};

enum class Against { Truth, Twin };
enum class FlowKind { Full, FourPositions, FourSteps };

// The records' errors against the truth (the full flow and the four
// positions: every element; the four steps' gyroscope: the scale of each axis
// and the zero rate of the positions held), or against the twin recorded
// without white noise (the four steps' accelerometer, whose misalignment
// leaks into its scale and offsets: the scale of each axis and the offsets).
void judge(const records::Logged& found, const records::Logged& twin, const Errors& truth, bool magnetometer, FlowKind flow,
           Honesty& scale, Honesty& offset, bool gyroscope = false, const M3& gSensitivity = M3{}) {
    if (!found.found)
        return;
    if (flow == FlowKind::Full || flow == FlowKind::FourPositions) {
        const M3 c = truth.correction();
        const M3 r = magnetometer ? truth::shapeOf(found.correction, c) : found.correction;
        if (found.scaleSigma.size() == 9)
            for (int k = 0; k < 9; ++k)
                scale.add(r[k] - c[k], found.scaleSigma[k]);
        if (found.offsetSigma.size() == 3)
            for (int i = 0; i < 3; ++i)
                offset.add(found.offset[i] - truth.offset[i], found.offsetSigma[i]);
        return;
    }
    if (flow == FlowKind::FourSteps && gyroscope) {
        // A gyroscope's misalignment leaks into its scale only as its square:
        // the scale of each axis and the zero rate of the positions held.
        const M3 c = truth.correction();
        if (found.scaleSigma.size() == 9)
            for (int i = 0; i < 3; ++i)
                scale.add(found.correction[4 * i] - c[4 * i], found.scaleSigma[4 * i]);
        const truth::V rate = truth::zeroRate(truth.offset, gSensitivity, truth::Flow::FourSteps);
        if (found.offsetSigma.size() == 3)
            for (int i = 0; i < 3; ++i)
                offset.add(found.offset[i] - rate[i], found.offsetSigma[i]);
        return;
    }
    if (!twin.found)
        return;
    if (flow == FlowKind::FourSteps && found.scaleSigma.size() == 9)
        for (int i = 0; i < 3; ++i)
            scale.add(found.correction[4 * i] - twin.correction[4 * i], found.scaleSigma[4 * i]);
    if (found.offsetSigma.size() == 3)
        for (int i = 0; i < 3; ++i)
            offset.add(found.offset[i] - twin.offset[i], found.offsetSigma[i]);
}

bool namesNoise(const std::string& out) {
    for (const char* reason : {"is too noisy for this calibration", "never read still", "white noise is too high",
                               "the field of mains wiring"})
        if (out.find(reason) != std::string::npos)
            return true;
    return false;
}

// The largest residual of the run's records over the flow's tolerance (the
// full flow: scale and axes 0.3 %, 1 %, shape 3 %; offsets 3 mg, 0.1 deg/s,
// 1 % of the field), and which record it was.
double worstShare(const std::string& xml, const Errors& acc, const Errors& gyro, const Errors& mag, double field,
                  std::string& which) {
    double worst = 0;
    auto note = [&](double share, const char* what) {
        if (share > worst) {
            worst = share;
            which = what;
        }
    };
    const records::Record a = records::recordOf(xml, 115, 0), g = records::recordOf(xml, 118),
                          m = records::recordOf(xml, 527);
    if (!a.found || !g.found || !m.found) {
        which = "a record missing";
        return 1e9;
    }
    note(records::largestDifference(a.correction, acc.correction()) / truth::kAccTolerance,
         "accelerometer scale and axes");
    note(records::largestDifference(g.correction, gyro.correction()) / truth::kGyroScaleTolerance,
         "gyroscope scale and axes");
    const M3 c = mag.correction();
    note(records::largestDifference(truth::shapeOf(m.correction, c), c) / truth::kMagShapeTolerance,
         "magnetometer shape");
    for (int i = 0; i < 3; ++i) {
        note(std::fabs(a.offset[i] / 1e6 - acc.offset[i]) / truth::kAccTolerance, "accelerometer offset");
        note(std::fabs(g.offset[i] / 1e5 - gyro.offset[i]) / truth::kGyroOffsetTolerance, "gyroscope offset");
        note(std::fabs(m.offset[i] / 1e3 - mag.offset[i]) / (truth::kMagCentreShare * field), "magnetometer centre");
    }
    return worst;
}

// How long the simulator holds each position: as long as a live run would
// hold the position that is held once for its parts' noise (a second more,
// as an operator takes to react), and never less than the simulator's own
// 3 s.
double holdSeconds(CalibrationFlowType flow, const Errors& acc, const Errors& gyro, double periodMs) {
    const double samples = std::max(InertialSensor::holdSamplesFor("Accelerometer", flow, acc.noise),
                                    InertialSensor::holdSamplesFor("Gyroscope", flow, gyro.noise));
    const double seconds = std::min(samples * periodMs / 1000, 15.0) + 1;
    return std::max(3.0, seconds);
}

// Keep the folders of false accepts and rejects (--keep), to look into them.
bool keep = false;

struct Device {
    Errors acc, gyro, mag;
    double dip, heading, station;
    // The realistic part's own effects and how it is moved, as the simulator
    // takes them.
    std::vector<std::string> effects;
};

std::vector<std::string> simulation(const Device& d, const std::string& out, int seed, const char* flow,
                                    const char* sensors, bool realistic, double hold, double noiseScale) {
    std::vector<std::string> simulate = {DEVICESIM_BIN, "--out", out, "--flow", flow, "--sensors", sensors,
                                         "--seed", std::to_string(seed)};
    if (realistic) {
        simulate.insert(simulate.end(), {"--device", EXAMPLES_DIR "/hub-realistic.xml"});
        simulate.insert(simulate.end(), d.effects.begin(), d.effects.end());
    }
    simulate.insert(simulate.end(), {"--dip", number(d.dip), "--field", number(d.station), "--heading",
                                     number(d.heading), "--hold", number(hold)});
    for (const auto& sensor :
         {std::make_pair("acc", d.acc), std::make_pair("gyro", d.gyro), std::make_pair("mag", d.mag)}) {
        const std::vector<std::string> errors = truth::simulatorErrors(sensor.first, sensor.second);
        simulate.insert(simulate.end(), errors.begin(), errors.end());
        // A twin's noise is too small to matter, yet drawn: its other random
        // effects stay those of the noisy recording.
        simulate.insert(simulate.end(), {std::string("--") + sensor.first + "-noise",
                                         number(std::max(sensor.second.noise * noiseScale, 1e-12))});
    }
    return simulate;
}

void simulate(const std::vector<std::string>& command) {
    const ProcessResult r = runProcess(command);
    if (r.exitStatus != 0) {
        std::fprintf(stderr, "devicesim failed: %s\n", r.err.c_str());
        std::exit(1);
    }
}

ProcessResult calibrate(const std::string& dir, const std::vector<std::string>& modifiers, const char* sensors) {
    ProcessOptions options;
    options.workDir = dir;
    std::vector<std::string> command = {SENSORTRIM_BIN, "-CalibrateOffline", sensors, "-UseRawData", "dump",
                                        "-ExportAllFiles", "out"};
    command.insert(command.end(), modifiers.begin(), modifiers.end());
    return runProcess(command, options);
}

// A station's field as the part reads it is `field`: the station's field
// through the part's gain (the calibration keeps the gain, and judges the
// field it reads against its limits).
double stationFor(const Errors& mag, double field) {
    double gain = 0;
    for (double s : mag.scale)
        gain += 1 / s / 3;
    return field / gain;
}

// ---- The yield -------------------------------------------------------------

struct Cell {
    double dip, field;
    const Noise* noise;
    size_t level;
};

struct Tally {
    int runs = 0, right = 0, falseAccepts = 0, tooNoisy = 0, falseRejects = 0;
    double worstShare = 0;  // the largest residual over its tolerance, of the runs that completed
    Honesty honesty;
    std::string firstReject, firstAccept;
};

void runYield(const Cell& cell, int seed, const std::string& root, Tally& tally, std::mutex& lock) {
    std::mt19937 rng(static_cast<unsigned>(seed) * 7919u + static_cast<unsigned>(cell.dip * 13 + cell.field));
    Device d;
    d.acc = truth::drawAccelerometer(rng, cell.noise->acc);
    d.gyro = truth::drawGyroscope(rng, cell.noise->gyro);
    d.mag = truth::drawMagnetometer(rng, cell.noise->mag);
    d.heading = std::uniform_real_distribution<double>(0, 360)(rng);
    d.dip = cell.dip;
    d.station = stationFor(d.mag, cell.field);
    const std::string dir = root + "/yield" + std::to_string(seed) + "_" + number(cell.dip) + "_" +
                            number(cell.field) + "_" + std::to_string(cell.level);
    simulate(simulation(d, dir + "/dump", seed, "full", "A,G,M", false, holdSeconds(FLOW_FULL, d.acc, d.gyro, 10),
                        1.0));
    const ProcessResult r = calibrate(dir, {}, "AGM");
    const std::string log = readFile(dir + "/out/AGMLogFile.xml");
    Honesty h;
    for (const auto& s : {std::make_pair("Accelerometer", &d.acc), std::make_pair("Gyroscope", &d.gyro),
                          std::make_pair("Magnetometer", &d.mag)})
        judge(records::loggedOf(log, s.first), records::Logged(), *s.second, std::string(s.first) == "Magnetometer", FlowKind::Full, h, h);
    std::lock_guard<std::mutex> guard(lock);
    ++tally.runs;
    tally.honesty.add(h);
    bool wrong = false;
    if (r.exitStatus == 0) {
        std::string which;
        const double share =
            worstShare(readFile(dir + "/out/resultCalibration.xml"), d.acc, d.gyro, d.mag, d.station, which);
        tally.worstShare = std::max(tally.worstShare, share);
        if (share > 1) {
            ++tally.falseAccepts;
            wrong = true;
            if (tally.firstAccept.empty())
                tally.firstAccept = "seed " + std::to_string(seed) + ": " + which + " " + number(share) + " x tolerance";
        } else {
            ++tally.right;
        }
    } else if (namesNoise(r.out)) {
        ++tally.tooNoisy;
    } else {
        ++tally.falseRejects;
        wrong = true;
        if (tally.firstReject.empty()) {
            const size_t at = r.out.find("Error:\n");
            tally.firstReject = "seed " + std::to_string(seed) + ": " +
                                (at == std::string::npos ? r.out.substr(0, 160) : r.out.substr(at + 7, 160));
            std::replace(tally.firstReject.begin(), tally.firstReject.end(), '\n', ' ');
            std::replace(tally.firstReject.begin(), tally.firstReject.end(), '|', '/');
        }
    }
    if (keep && wrong)
        std::fprintf(stderr, "kept %s\n", dir.c_str());
    else
        std::system(("rm -rf '" + dir + "'").c_str());
}

// ---- The honest sigma ------------------------------------------------------

struct FlowSpec {
    const char* name;
    FlowKind kind;
    CalibrationFlowType type;
    const char* simFlow;
    const char* simSensors;
    const char* sensors;
    std::vector<std::string> modifiers;
};
const std::vector<FlowSpec>& flows() {
    static const std::vector<FlowSpec> f = {
        {"full", FlowKind::Full, FLOW_FULL, "full", "A,G,M", "AGM", {}},
        {"four positions", FlowKind::FourPositions, FLOW_STATIC_FOUR_POSITIONS, "full", "A", "A", {}},
        {"four steps", FlowKind::FourSteps, FLOW_FOUR_STEPS, "foursteps", "A,G", "AG", {"-FourSteps"}},
    };
    return f;
}

// Per flow, device kind and sensor: the scale's and the offset's honesty.
struct HonestyTally {
    Honesty scale, offset;
    int runs = 0, failed = 0;
};

// A noise drawn evenly on a log scale between a typical part's and nine
// tenths of the limit.
double drawNoise(std::mt19937& rng, double typical, double limit) {
    std::uniform_real_distribution<double> u(std::log(typical), std::log(0.9 * limit));
    return std::exp(u(rng));
}

// The kinds of device the honest sigma is held over.
enum class Kind { Ideal, Realistic, ByHand };
const char* const kKindNames[] = {"ideal", "realistic", "realistic, by hand"};

void runHonesty(const FlowSpec& flow, Kind kind, int seed, const std::string& root,
                std::map<std::string, HonestyTally>& tallies, std::mutex& lock) {
    const bool realistic = kind != Kind::Ideal;
    std::mt19937 rng(static_cast<unsigned>(seed) * 104729u + static_cast<unsigned>(flow.kind) * 31u +
                     (kind == Kind::Realistic ? 7u : kind == Kind::ByHand ? 13u : 0u));
    Device d;
    d.acc = truth::drawAccelerometer(rng, drawNoise(rng, 0.001, kAccLimit));
    d.gyro = truth::drawGyroscope(rng, drawNoise(rng, 0.05, kGyroLimit));
    d.mag = truth::drawMagnetometer(rng, drawNoise(rng, 1.0, kMagLimit));
    d.dip = std::uniform_real_distribution<double>(-75, 75)(rng);
    d.heading = std::uniform_real_distribution<double>(0, 360)(rng);
    d.station = stationFor(d.mag, std::uniform_real_distribution<double>(350, 650)(rng));
    if (realistic) {
        // An allowance is one sigma over parts: each part warms at a rate of
        // its own, the scenario's rates the spread, either way, where one
        // part's rates on every device would be one error made 150 times.
        std::normal_distribution<double> unit(0.0, 1.0);
        auto warming = [&](double x, double y, double z) {
            return truth::triple({x * unit(rng), y * unit(rng), z * unit(rng)});
        };
        d.effects = {"--acc-drift", warming(0.0003, 0.0002, 0.0003), "--gyro-drift", warming(0.02, 0.015, 0.01)};
        if (kind == Kind::ByHand)
            d.effects.insert(d.effects.end(), {"--hand", "on"});
    }
    const std::string dir = root + "/honesty" + std::to_string(seed) + "_" + std::to_string(int(flow.kind)) +
                            "irh"[static_cast<int>(kind)];
    const double hold = holdSeconds(flow.type, d.acc, d.gyro, 10);
    simulate(simulation(d, dir + "/dump", seed, flow.simFlow, flow.simSensors, realistic, hold, 1.0));
    const ProcessResult r = calibrate(dir, flow.modifiers, flow.sensors);
    const std::string log = readFile(dir + "/out/AGMLogFile.xml");
    std::string twinLog;
    if (flow.kind == FlowKind::FourSteps) {
        simulate(simulation(d, dir + "/twin/dump", seed, flow.simFlow, flow.simSensors, realistic, hold, 0.0));
        calibrate(dir + "/twin", flow.modifiers, flow.sensors);
        twinLog = readFile(dir + "/twin/out/AGMLogFile.xml");
    }
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& s : {std::make_pair("Accelerometer", &d.acc), std::make_pair("Gyroscope", &d.gyro),
                          std::make_pair("Magnetometer", &d.mag)}) {
        if (std::string(flow.sensors).find(s.first[0]) == std::string::npos)
            continue;
        HonestyTally& t = tallies[std::string(flow.name) + "|" + kKindNames[static_cast<int>(kind)] + "|" + s.first];
        ++t.runs;
        t.failed += r.exitStatus == 0 ? 0 : 1;
        judge(records::loggedOf(log, s.first), records::loggedOf(twinLog, s.first), *s.second, std::string(s.first) == "Magnetometer",
              flow.kind, t.scale, t.offset, std::string(s.first) == "Gyroscope",
              realistic ? truth::gSensitivityOf(readFile(EXAMPLES_DIR "/hub-realistic.xml")) : M3{});
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

// Runs the jobs J at a time.
void inParallel(size_t count, int jobs, const std::function<void(size_t)>& job) {
    std::mutex lock;
    size_t next = 0;
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j)
        workers.emplace_back([&] {
            while (true) {
                size_t k;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    if (next >= count)
                        return;
                    k = next++;
                }
                job(k);
            }
        });
    for (std::thread& w : workers)
        w.join();
}

}  // namespace

int main(int argc, char** argv) {
    int seeds = 4, devices = 150, jobs = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seeds")
            seeds = std::atoi(argv[i + 1]);
        else if (arg == "--devices")
            devices = std::atoi(argv[i + 1]);
        else if (arg == "--jobs")
            jobs = std::max(1, std::atoi(argv[i + 1]));
        else if (arg == "--keep")
            keep = std::string(argv[i + 1]) == "yes";
        else if (arg == "--only")
            only = argv[i + 1];
    }
    const std::string root = makeTempDir();
    std::mutex lock;
    bool wrong = false;

    if (only.empty() || only == "yield") {
        static const std::vector<Noise> levels = noises();
        std::vector<Cell> cells;
        for (size_t level = 0; level < levels.size(); ++level)
            for (double field : kFields)
                for (double dip : kDips)
                    cells.push_back({dip, field, &levels[level], level});
        std::vector<Tally> tallies(cells.size());
        inParallel(cells.size() * static_cast<size_t>(seeds), jobs, [&](size_t k) {
            const size_t c = k / static_cast<size_t>(seeds);
            runYield(cells[c], static_cast<int>(k % static_cast<size_t>(seeds)) + 1, root, tallies[c], lock);
        });
        std::printf("| parts | field (mG) | dip (degrees) | calibrations | true | false accepts | too noisy (named) | "
                    "false rejects | worst record / tolerance | past 2 sigma | past 3 sigma | first false reject or "
                    "accept |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
        Tally all;
        for (size_t c = 0; c < cells.size(); ++c) {
            const Tally& t = tallies[c];
            std::printf("| %s | %g | %g | %d | %d | %d | %d | %d | %.2f %s | %s |\n", cells[c].noise->name.c_str(),
                        cells[c].field, cells[c].dip, t.runs, t.right, t.falseAccepts, t.tooNoisy, t.falseRejects,
                        t.worstShare, t.honesty.shares().c_str(),
                        (t.firstReject.empty() ? t.firstAccept : t.firstReject).c_str());
            all.runs += t.runs;
            all.right += t.right;
            all.falseAccepts += t.falseAccepts;
            all.tooNoisy += t.tooNoisy;
            all.falseRejects += t.falseRejects;
            all.worstShare = std::max(all.worstShare, t.worstShare);
            all.honesty.add(t.honesty);
        }
        std::printf("| all | | | %d | %d | %d | %d | %d | %.2f %s | |\n\n", all.runs, all.right, all.falseAccepts,
                    all.tooNoisy, all.falseRejects, all.worstShare, all.honesty.shares().c_str());
        wrong = wrong || all.falseAccepts + all.falseRejects > 0;
    }

    if (only.empty() || only == "honesty") {
        std::map<std::string, HonestyTally> tallies;
        const size_t perFlow = 3 * static_cast<size_t>(devices);
        inParallel(flows().size() * perFlow, jobs, [&](size_t k) {
            const FlowSpec& flow = flows()[k / perFlow];
            const size_t i = k % perFlow;
            runHonesty(flow, static_cast<Kind>(i % 3), static_cast<int>(i / 3) + 1, root, tallies, lock);
        });
        std::printf("| flow | device | sensor | runs (failed) | scale and axes: elements | past 2 sigma | past 3 sigma "
                    "| offset: elements | past 2 sigma | past 3 sigma |\n|---|---|---|---|---|---|---|---|---|---|\n");
        for (const FlowSpec& flow : flows())
            for (const char* kind : kKindNames)
                for (const char* sensor : {"Accelerometer", "Gyroscope", "Magnetometer"}) {
                    const auto it = tallies.find(std::string(flow.name) + "|" + kind + "|" + sensor);
                    if (it == tallies.end())
                        continue;
                    const HonestyTally& t = it->second;
                    std::printf("| %s | %s | %s | %d (%d) | %ld %s | %ld %s |\n", flow.name, kind, sensor, t.runs,
                                t.failed, t.scale.elements, t.scale.shares().c_str(), t.offset.elements,
                                t.offset.shares().c_str());
                }
    }
    if (!keep)
        std::system(("rm -rf '" + root + "'").c_str());
    return wrong ? 1 : 0;
}
