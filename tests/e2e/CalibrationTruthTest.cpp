// Calibration truth: a simulated device with different known errors on every
// axis is calibrated live through the virtual operator, the records are written
// to the hub, and the same hub is then tested with the tests of that flow; the
// records the hub holds must undo the errors to what the flow can determine.
// Every flow and every sensor subset the command line accepts, with and
// without the lid accelerometer. A device whose errors exceed the limits fails
// in every flow with the limit's reason and writes nothing.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "HubSim.h"
#include "Records.h"
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

// Different on every axis and from sensor to sensor.
const Errors kAccelerometer{{0.05, -0.08, 0.11}, {1.04, 0.96, 1.02}, {0.012, -0.008, 0.015}, 0.001};
const Errors kLid{{-0.03, 0.06, 0.02}, {0.97, 1.03, 1.01}, {-0.01, 0.006, 0.009}, 0.001};
const Errors kGyroscope{{2.5, -1.2, 0.8}, {1.15, 0.9, 1.06}, {0.02, -0.015, 0.01}, 0.05};
const Errors kMagnetometer{{180, -120, 75}, {1.2, 0.88, 1.05}, {0.03, -0.02, 0.025}, 1.0};
const double kField = 480;

// The default scenario with a device of these errors, its simulated time 20
// times faster than wall time.
std::string scenario(const Errors& acc, const Errors& lid, const Errors& gyro, const Errors& mag,
                     double field = kField) {
    return truth::scenario(Device{acc, lid, gyro, mag, field, 62}, 20, 3);
}

ProcessResult sensortrim(const HubSim& hub, std::vector<std::string> args) {
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 120;
    args.insert(args.begin(), SENSORTRIM_BIN);
    return hub.runWithOperator(args, options);
}

// How far each record may be from the truth, by what the flow determines.
void expectUndone(const std::string& what, const Record& r, const Errors& truth, int type, Flow flow, bool lid) {
    ASSERT_TRUE(r.found) << what;
    const M3 c = truth.correction();
    if (type == 115) {
        const double g = 1e6;  // the record's offsets are micro-g
        if (flow == Flow::Minimal) {
            // One position: the offset that makes it read gravity, on top of
            // the firmware's scale and mapping.
            const V expected = {0, 0, lid ? -1.0 : 1.0};
            V raw = records::apply(records::inverse(c), expected);
            for (int i = 0; i < 3; ++i)
                raw[i] += truth.offset[i] - r.offset[i] / g;
            const V read = records::apply(r.correction, raw);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(read[i], expected[i], 0.003) << what << " face-up reading " << i;
            return;
        }
        if (flow == Flow::Full) {
            EXPECT_LE(records::largestDifference(r.correction, c), 0.003) << what;
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(r.offset[i] / g, truth.offset[i], 0.003) << what << " offset " << i;
            return;
        }
        // Three positions: the scale of each axis and the offsets, both to
        // what the misalignment the flow cannot see leaves (about one degree
        // here: 1.5 % and 20 mg).
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(r.correction[4 * i] / c[4 * i], 1.0, 0.015) << what << " scale " << i;
            EXPECT_NEAR(r.offset[i] / g, truth.offset[i], 0.02) << what << " offset " << i;
        }
        return;
    }
    if (type == 118) {
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(r.offset[i] / 1e5, truth.offset[i], 0.1) << what << " offset " << i;
        if (flow == Flow::Full) {
            EXPECT_LE(records::largestDifference(r.correction, c), 0.01) << what;
        } else if (flow == Flow::FourSteps) {
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(r.correction[4 * i] / c[4 * i], 1.0, 0.01) << what << " scale " << i;
        }
        return;
    }
    // The magnetometer's shape is known up to the field's strength; its centre
    // to 1 % of the field.
    const double size = std::cbrt(records::determinant(r.correction) / records::determinant(c));
    M3 shape = r.correction;
    for (double& x : shape)
        x /= size;
    EXPECT_LE(records::largestDifference(shape, c), 0.03) << what;
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(r.offset[i] / 1e3, truth.offset[i], 0.01 * kField) << what << " centre " << i;
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

class Truth : public ::testing::TestWithParam<Cell> {};

TEST_P(Truth, CalibrationUndoesTheErrorsAndItsTestsPass) {
    const Cell& c = GetParam();
    HubSim hub(scenario(kAccelerometer, kLid, kGyroscope, kMagnetometer));
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
    if (has(c.sensors, 'G'))
        expectUndone("gyroscope", records::recordOf(xml, 118), kGyroscope, 118, c.flow, false);
    if (has(c.sensors, 'M'))
        expectUndone("magnetometer", records::recordOf(xml, 527), kMagnetometer, 527, c.flow, false);
}

}  // namespace

namespace truth {

// How the test lists name a cell.
void PrintTo(const Cell& cell, std::ostream* out) {
    *out << cell.sensors << (cell.primaryOnly ? " -PrimaryOnly" : "");
}

}  // namespace truth

namespace {

std::string cellName(const ::testing::TestParamInfo<Cell>& info) {
    return flowName(info.param.flow) + "_" + info.param.sensors + (info.param.primaryOnly ? "_PrimaryOnly" : "");
}

INSTANTIATE_TEST_SUITE_P(Matrix, Truth, ::testing::ValuesIn(truth::cells()), cellName);

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

}  // namespace
