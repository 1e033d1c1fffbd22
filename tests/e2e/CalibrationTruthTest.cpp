// Calibration truth: a simulated device with different known errors on every
// axis is calibrated live through the virtual operator, the records are written
// to the hub, and the same hub is then tested with the tests of that flow; the
// records the hub holds must undo the errors to what the flow can determine.
// Every flow and every sensor subset the command line accepts, with and
// without the lid accelerometer. A device whose errors exceed the limits fails
// in every flow with the limit's reason and writes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <regex>
#include <sstream>
#include <cmath>
#include <string>
#include <vector>

#include "HubSim.h"
#include "Records.h"
#include "TruthCheck.h"
#include "TruthMatrix.h"

namespace {

using records::M3;
using records::Record;
using truth::Cell;
using truth::Device;
using truth::Errors;
using truth::Flow;
using truth::has;
using V = truth::V;

using truth::expectUndone;
using truth::kAccelerometer;
using truth::kField;
using truth::kGyroscope;
using truth::kLid;
using truth::kMagnetometer;

// The default scenario with a device of these errors, its simulated time 20
// times faster than wall time; realistic, as the part of examples/hub-realistic.xml.
std::string scenario(const Errors& acc, const Errors& lid, const Errors& gyro, const Errors& mag,
                     double field = kField, bool realistic = false, double dip = 62, bool hand = false) {
    return truth::scenario(Device{acc, lid, gyro, mag, field, dip, realistic, hand}, 20, 3);
}

ProcessResult sensortrim(const HubSim& hub, std::vector<std::string> args) {
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 120;
    args.insert(args.begin(), SENSORTRIM_BIN);
    return hub.runWithOperator(args, options);
}

std::string flowName(Flow flow) {
    return flow == Flow::Full ? "Full" : flow == Flow::FourSteps ? "FourSteps" : "Minimal";
}

// The tests that follow a calibration on the same hub: each flow's own, and
// for the full flow the four-steps test and the magnetometer's.
std::vector<std::vector<std::string>> testsOf(const Cell& c) {
    std::vector<std::vector<std::string>> tests;
    std::string inertial;
    for (char s : std::string("AG"))
        if (has(c.sensors, s))
            inertial += s;
    if (!inertial.empty()) {
        std::vector<std::string> t = {"-TestCalibration", inertial, c.flow == Flow::Minimal ? "-Minimal" : "-FourSteps"};
        if (c.primaryOnly)
            t.push_back("-PrimaryOnly");
        tests.push_back(t);
    }
    if (has(c.sensors, 'M'))
        tests.push_back({"-TestCalibration", "M", "-MagAccuracyTest"});
    return tests;
}

// A cell of the matrix on the ideal device or on the realistic part, at a
// station of that dip, moved evenly or by a person's hand.
struct TruthCase {
    Cell cell;
    bool realistic;
    double dip = 62;
    bool hand = false;
};

class Truth : public ::testing::TestWithParam<TruthCase> {};

TEST_P(Truth, CalibrationUndoesTheErrorsAndItsTestsPass) {
    const Cell& c = GetParam().cell;
    const bool realistic = GetParam().realistic;
    HubSim hub(scenario(kAccelerometer, kLid, kGyroscope, kMagnetometer, kField, realistic, GetParam().dip,
                        GetParam().hand));
    ProcessResult r = sensortrim(hub, truth::calibration(c));
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    ASSERT_NE(r.out.find("\033[01;32mCalibration process completed successfully\n"), std::string::npos) << r.out;
    for (const std::vector<std::string>& test : testsOf(c)) {
        r = sensortrim(hub, test);
        EXPECT_EQ(r.exitStatus, 0) << test[1] << " " << test[2] << "\n" << r.out;
        EXPECT_NE(r.out.find("Completed successfully"), std::string::npos) << r.out;
    }
    // What the hub holds now.
    r = sensortrim(hub, {"-ExportXml", "hub.xml"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    const std::string xml = readFile(hub.dir() + "/hub.xml");
    if (has(c.sensors, 'A')) {
        expectUndone("accelerometer", records::recordOf(xml, 115, 0), kAccelerometer, 115, c.flow, false);
        const Record lid = records::recordOf(xml, 115, 1);
        if (c.primaryOnly)
            EXPECT_EQ(records::largestDifference(lid.correction, M3{1, 0, 0, 0, 1, 0, 0, 0, 1}), 0.0)
                << "the lid keeps its record";
        else
            expectUndone("lid accelerometer", lid, kLid, 115, c.flow, true);
    }
    if (has(c.sensors, 'G')) {
        // The zero rate the flow can find of a part whose zero rate follows gravity.
        Errors gyro = kGyroscope;
        const records::M3 g = realistic ? truth::gSensitivityOf(truth::realisticScenario()) : records::M3{};
        gyro.offset = truth::zeroRate(kGyroscope.offset, g, c.flow);
        expectUndone("gyroscope", records::recordOf(xml, 118), gyro, 118, c.flow, false);
    }
    if (has(c.sensors, 'M'))
        expectUndone("magnetometer", records::recordOf(xml, 527), kMagnetometer, 527, c.flow, false);
}

// How the test lists name a cell.
void PrintTo(const TruthCase& c, std::ostream* out) {
    *out << c.cell.sensors << (c.cell.primaryOnly ? " -PrimaryOnly" : "") << (c.realistic ? " (realistic part)" : "")
         << (c.dip < 0 ? " (southern hemisphere)" : "") << (c.hand ? " (by hand)" : "");
}

std::string cellName(const ::testing::TestParamInfo<TruthCase>& info) {
    const Cell& c = info.param.cell;
    return flowName(c.flow) + "_" + c.sensors + (c.primaryOnly ? "_PrimaryOnly" : "") +
           (info.param.realistic ? "_Realistic" : "") + (info.param.dip < 0 ? "_SouthernHemisphere" : "") +
           (info.param.hand ? "_ByHand" : "");
}

// Every cell on the ideal device and on the realistic part; under the
// sanitizers, which run each calibration many times slower, the realistic
// part in the full flow of every sensor only.
std::vector<TruthCase> truthCases() {
    std::vector<TruthCase> all;
    for (const Cell& c : truth::cells())
        all.push_back({c, false, 62, false});
    for (const Cell& c : truth::cells()) {
#ifdef TESSARY_SANITIZED
        if (c.flow != Flow::Full || c.sensors != "AGM" || c.primaryOnly)
            continue;
#endif
        all.push_back({c, true, 62, false});
    }
    // A station in the southern magnetic hemisphere (the field points up
    // there), its records tested on the same hub.
    all.push_back({Cell{Flow::Full, "AGM", false}, false, -42, false});
    // Turned and moved by a person's hand, the realistic part at the
    // station: strokes, re-grips, jolts, a tremor, placements a degree apart.
    all.push_back({Cell{Flow::Full, "AGM", false}, true, 62, true});
    all.push_back({Cell{Flow::FourSteps, "AG", false}, false, 62, true});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Matrix, Truth, ::testing::ValuesIn(truthCases()), cellName);

// Devices beyond the limits: the calibration fails with the limit's reason in
// every flow, and nothing is written to the hub.
struct Beyond {
    std::string name;
    std::vector<std::string> args;
    Errors acc, gyro;
    double field;
    std::string reason;
};

void PrintTo(const Beyond& beyond, std::ostream* out) {
    *out << beyond.name;
}

class BeyondTheLimits : public ::testing::TestWithParam<Beyond> {};

TEST_P(BeyondTheLimits, FailWithTheLimitsReason) {
    const Beyond& b = GetParam();
    HubSim hub(scenario(b.acc, kLid, b.gyro, kMagnetometer, b.field));
    std::vector<std::string> args = {"-Calibrate"};
    args.insert(args.end(), b.args.begin(), b.args.end());
    args.push_back("-UpdateTSY");
    const ProcessResult r = sensortrim(hub, args);
    EXPECT_EQ(r.exitStatus, 255) << r.out;
    EXPECT_NE(r.out.find("\033[01;31mCALIBRATION FAILED\n\033[0mError:\n" + b.reason), std::string::npos) << r.out;
    for (const std::string& m : hub.sentMessages())
        EXPECT_NE(m.compare(0, 2, "05"), 0) << "a record was written";
}

Errors with(Errors e, V offset) {
    e.offset = offset;
    return e;
}

const Beyond kBeyond[] = {
    {"Full_AccelerometerOffset", {"AGM"}, with(kAccelerometer, {0.05, 0.35, 0.1}), kGyroscope, kField,
     "Calibration failed for sensor Accelerometer. Reason: Calculated offset is too high.\n"},
    {"FourPositions_AccelerometerOffset", {"A"}, with(kAccelerometer, {0.05, 0.35, 0.1}), kGyroscope, kField,
     "Calibration failed for sensor Accelerometer. Reason: Calculated offset is too high.\n"},
    {"FourSteps_AccelerometerOffset", {"AG", "-FourSteps"}, with(kAccelerometer, {0.35, 0.05, 0.1}), kGyroscope,
     kField, "Calibration failed for sensor Accelerometer. Reason: Calculated offset is too high.\n"},
    {"Minimal_AccelerometerOffset", {"AG", "-Minimal"}, with(kAccelerometer, {0.35, 0.05, 0.1}), kGyroscope, kField,
     "Calibration failed for sensor Accelerometer. Reason: Calculated offset is too high.\n"},
    {"Full_GyroscopeOffset", {"AGM"}, kAccelerometer, with(kGyroscope, {2, 35, -1}), kField,
     "Calibration failed for sensor Gyroscope. Reason: Calculated offset is too high.\n"},
    {"FourSteps_GyroscopeOffset", {"G", "-FourSteps"}, kAccelerometer, with(kGyroscope, {55, 2, -1}), kField,
     "Calibration failed for sensor Gyroscope. Reason: Calculated offset is too high.\n"},
    {"Minimal_GyroscopeOffset", {"G", "-Minimal"}, kAccelerometer, with(kGyroscope, {2, 1, -55}), kField,
     "Calibration failed for sensor Gyroscope. Reason: Calculated offset is too high.\n"},
    {"Full_WeakField", {"M"}, kAccelerometer, kGyroscope, 150,
     "Calibration failed for sensor Magnetometer. Reason: Calculated magnetic field is too low.\n"},
    {"Minimal_Magnetometer", {"AGM", "-Minimal"}, kAccelerometer, kGyroscope, kField,
     "Calibration failed for sensor Magnetometer. Reason: One position cannot calibrate the magnetometer: "
     "calibrate it in the full flow.\n"},
};

std::string beyondName(const ::testing::TestParamInfo<Beyond>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Matrix, BeyondTheLimits, ::testing::ValuesIn(kBeyond), beyondName);

// A part beyond typical, live through the virtual operator and offline from
// the dumps of the same simulated device: each calibrates to the truth or
// fails with its own reason (its first text after "Error:", the others
// anywhere in the reason), and a failure writes nothing. A part whose reason
// is given may still calibrate, if to the truth: a clipped turn cannot.
struct RealPart {
    std::string name;
    std::vector<std::string> args;                    // the sensors and the flow
    std::string device;                               // attributes of <Device>
    std::vector<std::pair<std::string, std::string>> sensors;  // element, its attributes
    double effects;                                   // 0, or the realistic part's effects this many times
    bool brisk;                                       // full turns in two seconds
    std::vector<std::string> reason;                  // empty: calibrates true
    bool mustFail = false;                            // the reason, never a calibration
};

void PrintTo(const RealPart& part, std::ostream* out) {
    *out << part.name;
}

// The first element of that name in the scenario's device with these
// attributes set (added, or replacing its own).
std::string withAttributes(std::string xml, const std::string& element, const std::string& attributes) {
    const size_t at = xml.find("<" + element + " ", xml.find("<Device "));
    const size_t end = xml.find('>', at);
    std::string tag = xml.substr(at, end - at);
    static const std::regex attribute("([A-Za-z]+)=\"[^\"]*\"");
    for (std::sregex_iterator it(attributes.begin(), attributes.end(), attribute), last; it != last; ++it) {
        const std::regex own(" " + (*it)[1].str() + "=\"[^\"]*\"");
        tag = std::regex_search(tag, own) ? std::regex_replace(tag, own, " " + (*it)[0].str())
                                          : tag.insert(element.size() + 1, " " + (*it)[0].str());
    }
    return xml.replace(at, end - at, tag);
}

// The realistic part's effects (not its errors, noise or full scale) times k.
std::string effectsTimes(std::string xml, double k) {
    static const std::regex effect("(lsb|cubic|drift|biasInstability|randomWalk|gSensitivity|jitterMs|intervalSpread|"
                                   "dropShare|burstsPerMinute|ripple|fieldDrift|dipDrift)=\"([^\"]*)\"");
    std::string out;
    auto last = xml.cbegin();
    for (std::sregex_iterator it(xml.begin(), xml.end(), effect), end; it != end; ++it) {
        out.append(last, (*it)[0].first);
        std::stringstream in((*it)[2].str());
        std::string values;
        for (std::string item; std::getline(in, item, ',');)
            values += (values.empty() ? "" : ",") + std::to_string(std::stod(item) * k);
        out += (*it)[1].str() + "=\"" + values + "\"";
        last = (*it)[0].second;
    }
    return out.append(last, xml.cend());
}

std::string realPartScenario(const RealPart& part) {
    std::string xml = scenario(kAccelerometer, kLid, kGyroscope, kMagnetometer, kField, part.effects > 0);
    if (part.effects > 0) {
        const size_t from = xml.find("<Device "), to = xml.find("</Device>");
        xml.replace(from, to - from, effectsTimes(xml.substr(from, to - from), part.effects));
    }
    if (!part.device.empty())
        xml = withAttributes(xml, "Device", part.device);
    for (const auto& sensor : part.sensors)
        xml = withAttributes(xml, sensor.first, sensor.second);
    return xml;
}

Cell cellOf(const RealPart& part) {
    const bool four = std::find(part.args.begin(), part.args.end(), "-FourSteps") != part.args.end();
    return Cell{four ? Flow::FourSteps : Flow::Full, part.args[0], false};
}

// The records of a calibration that completed, against the truth.
void expectTrue(const std::string& xml, const RealPart& part, const std::string& scenarioXml) {
    const Cell c = cellOf(part);
    if (has(c.sensors, 'A')) {
        expectUndone("accelerometer", records::recordOf(xml, 115, 0), kAccelerometer, 115, c.flow, false);
        expectUndone("lid accelerometer", records::recordOf(xml, 115, 1), kLid, 115, c.flow, true);
    }
    if (has(c.sensors, 'G')) {
        Errors gyro = kGyroscope;
        gyro.offset = truth::zeroRate(kGyroscope.offset, truth::gSensitivityOf(scenarioXml), c.flow);
        expectUndone("gyroscope", records::recordOf(xml, 118), gyro, 118, c.flow, false);
    }
    if (has(c.sensors, 'M'))
        expectUndone("magnetometer", records::recordOf(xml, 527), kMagnetometer, 527, c.flow, false);
}

void expectReason(const ProcessResult& r, const RealPart& part) {
    EXPECT_EQ(r.exitStatus, 255) << r.out;
    EXPECT_NE(r.out.find("Error:\n" + part.reason[0]), std::string::npos) << r.out;
    for (const std::string& piece : part.reason)
        EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
}

class RealParts : public ::testing::TestWithParam<RealPart> {};

TEST_P(RealParts, LiveCalibrateTrueOrFailWithTheirReason) {
    const RealPart& part = GetParam();
#ifdef TESSARY_SANITIZED
    // The sanitizers run each live calibration many times slower: there the
    // offline runs cover the reasons, the live run the worst part.
    if (part.name != "AllEffectsThreeTimes")
        GTEST_SKIP() << "live under the sanitizers: the part with every effect only";
#endif
    const std::string xml = realPartScenario(part);
    HubSim hub(xml);
    std::vector<std::string> args = {SENSORTRIM_BIN, "-Calibrate"};
    args.insert(args.end(), part.args.begin(), part.args.end());
    args.push_back("-UpdateTSY");
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 120;
    ProcessResult r = hub.runWithOperator(args, options, "",
                                          part.brisk ? std::vector<std::string>{"--turn-seconds", "2"}
                                                     : std::vector<std::string>{});
    if (!part.reason.empty() && (r.exitStatus != 0 || part.mustFail)) {
        expectReason(r, part);
        for (const std::string& m : hub.sentMessages())
            EXPECT_NE(m.compare(0, 2, "05"), 0) << "a record was written";
        return;
    }
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    for (const std::vector<std::string>& test : testsOf(cellOf(part))) {
        r = sensortrim(hub, test);
        EXPECT_EQ(r.exitStatus, 0) << test[1] << " " << test[2] << "\n" << r.out;
    }
    r = sensortrim(hub, {"-ExportXml", "hub.xml"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    expectTrue(readFile(hub.dir() + "/hub.xml"), part, xml);
}

TEST_P(RealParts, OfflineCalibrateTrueOrFailWithTheirReason) {
    const RealPart& part = GetParam();
    const std::string xml = realPartScenario(part);
    HubSim hub(xml);  // its folder holds the scenario the simulator reads
    const Cell c = cellOf(part);
    std::vector<std::string> simulate = {DEVICESIM_BIN, "--device", hub.dir() + "/scenario.xml", "--out",
                                         hub.dir() + "/dump", "--seed", "3", "--flow",
                                         c.flow == Flow::Full ? "full" : "foursteps", "--sensors",
                                         c.flow == Flow::Full ? "A,A2,G,M" : "A,A2,G"};
    if (part.brisk)
        simulate.insert(simulate.end(), {"--turn", "1"});
    ProcessResult r = runProcess(simulate);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::vector<std::string> args = {SENSORTRIM_BIN, "-CalibrateOffline"};
    args.insert(args.end(), part.args.begin(), part.args.end());
    args.insert(args.end(), {"-UseRawData", "dump", "-ExportAllFiles", "out"});
    ProcessOptions options;
    options.workDir = hub.dir();
    r = runProcess(args, options);
    if (!part.reason.empty() && (r.exitStatus != 0 || part.mustFail)) {
        expectReason(r, part);
        return;
    }
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    expectTrue(readFile(hub.dir() + "/out/resultCalibration.xml"), part, xml);
}

const char* const kClipped = "The Gyroscope reached the end of its range during the turn about ";
const char* const kSlowly = "): turn more slowly";

const RealPart kRealParts[] = {
    {"Clipping250BriskTurns", {"AGM"}, "", {{"Gyroscope", "fullScale=\"250\""}}, 0, true,
     {kClipped, "Z in step 2 (its Z axis stayed at 250.0 degrees per second for ", kSlowly}},
    {"Clipping125", {"AGM"}, "", {{"Gyroscope", "fullScale=\"125\""}}, 0, false,
     {kClipped, "Z in step 2 (its Z axis stayed at 125.0 degrees per second for ", kSlowly}},
    {"Clipping125FourSteps", {"AG", "-FourSteps"}, "", {{"Gyroscope", "fullScale=\"60\""}}, 0, false,
     {kClipped, "Y in step 2 (its Y axis stayed at 60.0 degrees per second for ", kSlowly}},
    {"LostBurstInATurn", {"AGM"}, "burstMs=\"300\" burstAtTurn=\"2\" burstDelayMs=\"200\"", {}, 0, false,
     {"The Gyroscope's reports stopped for ",
      " ms during the turn about Y in step 4 (lost on their way from the hub, not a fault of the turn): calibrate "
      "again"}},
    // Just past the 200 ms that are bridged: still fails.
    {"LostBurst250InATurn", {"AGM"}, "burstMs=\"250\" burstAtTurn=\"2\" burstDelayMs=\"200\"", {}, 0, false,
     {"The Gyroscope's reports stopped for ",
      " ms during the turn about Y in step 4 (lost on their way from the hub, not a fault of the turn): calibrate "
      "again"},
     true},
    // By hand a turn goes in quick strokes: reports lost in one leave more
    // than the bridge across them can tell, where those of an even turn do not.
    {"LostBurstInAStrokeByHand", {"AG", "-FourSteps"}, "hand=\"true\" burstMs=\"120\" burstAtTurn=\"1\" burstDelayMs=\"40\"",
     {}, 0, false,
     {"The Gyroscope's reports stopped for ",
      " ms during the turn about Y in step 2 (lost on their way from the hub, not a fault of the turn): calibrate "
      "again"},
     true},
    // The hub stamps each report as it handles it, here a millisecond early
    // or late: in a quick stroke by hand that moved a quarter turn's
    // integral past the scale's tolerance, in a run that completed.
    {"UnevenStampsByHandFourSteps", {"AG", "-FourSteps"}, "hand=\"true\" jitterMs=\"1\"", {}, 0, false, {}},
    {"MainsRipple9mG", {"AGM"}, "ripple=\"9\" rippleHz=\"60\"", {}, 0, false, {}},
    // Beside a power supply: the samples spread past the noise limit, and
    // the failure tells the alternating field from the sensor's noise.
    {"MainsRipple36mG", {"AGM"}, "ripple=\"36\" rippleHz=\"60\"", {}, 0, false,
     {"Calibration failed for sensor Magnetometer. Reason: Calculated white noise is too high.\n"
      "The field at the station swings by ",
      " mG RMS from sample to sample but by ",
      " mG over a tenth of a second: the field of mains wiring or a power supply near, not the sensor's noise: "
      "calibrate away from them.\n"}},
    {"GSensitivity", {"AGM"}, "", {{"Gyroscope", "gSensitivity=\"0.2,0.3,-0.1,-0.2,0.3,0.1,0.1,-0.3,0.3\""}}, 0, false, {}},
    {"GSensitivityFourSteps", {"AG", "-FourSteps"}, "",
     {{"Gyroscope", "gSensitivity=\"0.2,0.3,-0.1,-0.2,0.3,0.1,0.1,-0.3,0.3\""}}, 0, false,
     {"Calibration failed for sensor Gyroscope. Reason: The zero rate changes with the device's position: on the ",
      "(the part's sensitivity to gravity), more than this flow can calibrate: calibrate in the full flow.\n"}},
    {"CoarseGyroscope", {"AGM"}, "", {{"Gyroscope", "lsb=\"0.25\" noise=\"0.01\" offset=\"1.6,-2.1,0.85\""}}, 0, false,
     {"Calibration failed for sensor Gyroscope. Reason: The readings are too coarse for the offset: the ",
      " axis reads in steps of 0.250 degrees per second, with too little noise between them to average"}},
    {"AllEffectsThreeTimes", {"AGM"}, "", {}, 3, false, {}},
};

std::string realPartName(const ::testing::TestParamInfo<RealPart>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(BeyondTypical, RealParts, ::testing::ValuesIn(kRealParts), realPartName);

}  // namespace
