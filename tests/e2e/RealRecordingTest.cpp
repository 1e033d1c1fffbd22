// A real part's recording (tests/data/real-imu: a 6-axis IMU turned by hand,
// laid out as a full-flow dump, with an independent reference calibration of
// the same samples): it calibrates offline with each selection the
// accelerometer and the gyroscope allow, its jolts and re-grips taken for
// what they are, and its records agree with the reference.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "DumpRunTest.h"
#include "Records.h"

namespace {

const std::string kRecording = TEST_DATA_DIR "/real-imu";

// The reference: the part's gyroscope gain per axis (raw = gain * true, so
// the record's correction is its inverse) and zero rate.
const double kGyroscopeGain[3] = {1.0279, 0.9824, 0.9982};
const double kZeroRate[3] = {-0.600, -0.370, 0.059};
// The full flow's four holds, gravity as the calibrated accelerometer reads it.
const double kHolds[4][3] = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, -1, 0}};

// The rows of a matrix the run log gives for the first sensor of that type.
std::vector<std::vector<double>> logged(const std::string& log, const std::string& type, const std::string& tag) {
    const size_t sensor = log.find("Type=\"" + type + "\"");
    const size_t at = log.find("<" + tag + " ", sensor);
    const size_t values = log.find("<Values>", at), end = log.find("</Values>", values);
    std::vector<std::vector<double>> rows;
    if (sensor == std::string::npos || at == std::string::npos || values == std::string::npos)
        return rows;
    std::stringstream in(log.substr(values + 8, end - values - 8));
    for (std::string row; std::getline(in, row, ';');) {
        std::vector<double> numbers;
        std::stringstream cells(row);
        for (std::string cell; std::getline(cells, cell, ',');)
            numbers.push_back(std::stod(cell));
        if (!numbers.empty())
            rows.push_back(numbers);
    }
    return rows;
}

class RealRecording : public DumpRunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RealRecording, CalibratesTrue) {
    const std::string sensors = GetParam();
    const ProcessResult r = sensortrim({"-CalibrateOffline", sensors, "-PrimaryOnly", "-UseRawData", kRecording,
                                        "-ExportAllFiles", "out"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    const std::string xml = file("out/resultCalibration.xml");
    if (sensors.find('G') != std::string::npos) {
        const records::Record gyro = records::recordOf(xml, 118);
        ASSERT_TRUE(gyro.found) << xml;
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(gyro.correction[4 * i] * kGyroscopeGain[i], 1.0, 0.003) << "gain " << i;
            EXPECT_NEAR(gyro.offset[i] / 1e5, kZeroRate[i], 0.02) << "zero rate " << i;
        }
    }
    if (sensors.find('A') != std::string::npos) {
        // Each hold the run took, through the record as the firmware holds it.
        const records::Record acc = records::recordOf(xml, 115, 0);
        ASSERT_TRUE(acc.found) << xml;
        const std::vector<std::vector<double>> holds = logged(file("out/AGMLogFile.xml"), "Accelerometer", "Averages");
        ASSERT_EQ(holds.size(), 4u);
        for (int h = 0; h < 4; ++h) {
            std::array<double, 3> raw{};
            for (int k = 0; k < 3; ++k)
                raw[k] = holds[h][k] - acc.offset[k] / 1e6;
            const std::array<double, 3> read = records::apply(acc.correction, raw);
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(read[k], kHolds[h][k], 0.001) << "hold " << h << " axis " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Selections, RealRecording, ::testing::Values("AG", "A", "G"));

}  // namespace
