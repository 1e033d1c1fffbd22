// Offline calibrations and tests of the accelerometer, gyroscope and
// magnetometer together, from dumps of the simulated device with known errors.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "DumpRunTest.h"
#include "Records.h"

namespace {

class Agm : public DumpRunTest {};

using records::M3;
using records::Record;
using records::correction;
using records::determinant;
using records::recordOf;
using M = M3;

void expectNear(const M& actual, const M& expected, double tolerance, const std::string& what) {
    for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(actual[k], expected[k], tolerance) << what << " element " << k;
}

}  // namespace

// The errors of the shipped dump examples/dumps/agm-full, and of the dump the
// tests simulate the same way.
const std::vector<std::string> kKnownErrors = {
    "--seed", "7", "--acc-offset", "0.03,-0.02,0.01", "--acc-scale", "1.02,0.98,1.01", "--acc-misalign", "0.01,0,-0.01",
    "--gyro-offset", "1.5,-2,0.7", "--gyro-scale", "1.05,0.97,1.02", "--gyro-misalign", "0.01,-0.02,0.015",
    "--mag-offset", "120,-80,40", "--mag-scale", "1.1,0.95,1", "--mag-misalign", "0.02,0.01,-0.03"};

// The records of a result file undo the known errors: the accelerometer to
// 0.3 %, the gyroscope's scale to 1 % and offset to 0.1 deg/s, the
// magnetometer's shape to 3 % and centre to 1 % of the 500 mG field.
void expectKnownErrorsUndone(const std::string& result) {
    const Record acc = recordOf(result, 115);
    expectNear(acc.correction, correction({1.02, 0.98, 1.01}, {0.01, 0, -0.01}), 0.003, "accelerometer");
    const double accOffset[3] = {0.03, -0.02, 0.01};
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(acc.offset[i] / 1e6, accOffset[i], 0.003) << "accelerometer offset " << i;

    const Record gyro = recordOf(result, 118);
    expectNear(gyro.correction, correction({1.05, 0.97, 1.02}, {0.01, -0.02, 0.015}), 0.01, "gyroscope");
    const double gyroOffset[3] = {1.5, -2, 0.7};
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(gyro.offset[i] / 1e5, gyroOffset[i], 0.1) << "gyroscope offset " << i;

    // The magnetometer's shape is known up to the field strength.
    const Record mag = recordOf(result, 527);
    const M truth = correction({1.1, 0.95, 1}, {0.02, 0.01, -0.03});
    const double size = std::cbrt(determinant(mag.correction) / determinant(truth));
    M shape = mag.correction;
    for (double& x : shape)
        x /= size;
    expectNear(shape, truth, 0.03, "magnetometer");
    const double magOffset[3] = {120, -80, 40};
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(mag.offset[i] / 1e3, magOffset[i], 5.0) << "magnetometer centre " << i;
}

TEST_F(Agm, FullCalibrationUndoesEverySensorsErrors) {
    std::vector<std::string> args = {"--flow", "full", "--sensors", "A,G,M"};
    args.insert(args.end(), kKnownErrors.begin(), kKnownErrors.end());
    simulate("dump", args);
    const ProcessResult r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "dump", "-ExportAllFiles", "out"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(r.out.find("\033[01;32mCalibration process completed successfully\n\033[0m"), std::string::npos);
    const std::string log = file("out/AGMLogFile.xml");
    EXPECT_NE(log.find("Type=\"NewMotionFull\""), std::string::npos);
    EXPECT_EQ(log.find("FailureParameter"), std::string::npos);
    expectKnownErrorsUndone(file("out/resultCalibration.xml"));
}

TEST_F(Agm, ShippedDumpsKeepTheirVerdicts) {
    const std::string dumps = std::string(EXAMPLES_DIR) + "/dumps/";
    ProcessResult r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", dumps + "agm-full", "-ExportAllFiles", "o1"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    expectKnownErrorsUndone(file("o1/resultCalibration.xml"));
    r = sensortrim({"-TestCalibration", "AG", "-FourSteps", "-UseRawData", dumps + "ag-test-foursteps"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    r = sensortrim({"-TestCalibration", "M", "-MagAccuracyTest", "-UseRawData", dumps + "mag-accuracy-test"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
}

TEST_F(Agm, GyroscopeAndMagnetometerWithoutTheAccelerometer) {
    // The folder's accelerometer dump marks the steps; the accelerometer is
    // not calibrated, and the records are those of the full run.
    std::vector<std::string> args = {"--flow", "full", "--sensors", "A,G,M"};
    args.insert(args.end(), kKnownErrors.begin(), kKnownErrors.end());
    simulate("dump", args);
    ProcessResult r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "dump", "-ExportAllFiles", "agm"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    const std::string full = file("agm/resultCalibration.xml");
    for (const std::string sensors : {"G", "M", "GM"}) {
        r = sensortrim({"-CalibrateOffline", sensors, "-UseRawData", "dump", "-ExportAllFiles", sensors});
        ASSERT_EQ(r.exitStatus, 0) << sensors << r.out;
        const std::string result = file(sensors + "/resultCalibration.xml");
        EXPECT_EQ(result.find("SensorTypeId=\"115\""), std::string::npos) << sensors;
        // Only the run's own sensors are in its log.
        const std::string log = file(sensors + "/AGMLogFile.xml");
        EXPECT_EQ(log.find("Type=\"Accelerometer\""), std::string::npos) << sensors;
        for (int type : {118, 527}) {
            if (sensors.find(type == 118 ? 'G' : 'M') == std::string::npos)
                continue;
            // The gyroscope's steps are cut as in the full run; without the
            // gyroscope the magnetometer's holds end a little differently.
            const double tolerance = type == 118 || sensors == "GM" ? 1e-9 : 2e-3;
            const Record own = recordOf(result, type), reference = recordOf(full, type);
            expectNear(own.correction, reference.correction, tolerance, sensors);
            // Offsets to 1e-9 of themselves, or the magnetometer's to 1 mG (its unit is the microgauss).
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(own.offset[i], reference.offset[i],
                            tolerance < 1e-6 ? std::fabs(reference.offset[i]) * tolerance : 1000.0)
                    << sensors << " " << type;
        }
    }
    // A folder without the accelerometer's dump cannot be cut into steps.
    simulate("noacc", {"--flow", "full", "--sensors", "G,M"});
    r = sensortrim({"-CalibrateOffline", "G", "-UseRawData", "noacc", "-ExportAllFiles", "x"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_TRUE(endsWith(r.out, "Error:\nNo Accelerometer dump in noacc: the Accelerometer marks the steps of this "
                                "calibration process\n"))
        << r.out;
}

TEST_F(Agm, FailuresOfTheFullCalibration) {
    struct Case {
        std::vector<std::string> sim;
        std::string message;
        std::string parameter;
    };
    const Case cases[] = {
        {{"--field", "150"},
         "Calibration failed for sensor Magnetometer. Reason: Calculated magnetic field is too low.\n \n",
         "MagneticField"},
        {{"--field", "700"},
         "Calibration failed for sensor Magnetometer. Reason: Calculated magnetic field is too high.\n \n",
         "MagneticField"},
        // The field turns between the positions: each sensor calibrates, but
        // the angle between field and gravity is not constant.
        {{"--dip-spread", "20"},
         "Calibration failed. Reason: Calculated dip angle is too high, check magnetic environment.\n\n", "Dip Angle"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string dump = "dump" + std::to_string(n), out = "out" + std::to_string(n++);
        std::vector<std::string> sim = {"--flow", "full", "--sensors", "A,G,M"};
        sim.insert(sim.end(), c.sim.begin(), c.sim.end());
        simulate(dump, sim);
        const ProcessResult r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", dump, "-ExportAllFiles", out});
        EXPECT_EQ(r.exitStatus, 255) << c.message;
        EXPECT_NE(r.out.find("\033[01;31mCALIBRATION FAILED\n\033[0mError:\n" + c.message), std::string::npos) << r.out;
        EXPECT_NE(file(out + "/AGMLogFile.xml").find("FailureParameter=\"" + c.parameter + "\""), std::string::npos)
            << c.message;
        EXPECT_FALSE(exists(out + "/resultCalibration.xml")) << c.message;
        EXPECT_EQ(file(out + "/AGMLogFile.xml").find("nan"), std::string::npos) << c.message;
    }
    // Moves between the positions so jerky that the accelerometer reads four
    // times gravity through them (its holds, and so its records, are right):
    // the gyroscope's account of the moves disagrees with it whenever both
    // are calibrated, with or without the magnetometer.
    simulate("jerky", {"--flow", "full", "--sensors", "A,G,M"});
    std::istringstream rows(file("jerky/dataDumpAccelerometer.csv"));
    std::string rewritten, line;
    for (int row = 0; std::getline(rows, line); ++row) {
        const double t = row >= 2 ? std::atof(line.c_str()) : -1;
        // Each move: the last 2 s of every 12 s (hold, turn, hold, move).
        if (t >= 0 && std::fmod(t, 12000.0) >= 10000.0) {
            std::istringstream fields(line);
            std::string time, x, y, z;
            std::getline(fields, time, ',');
            std::getline(fields, x, ',');
            std::getline(fields, y, ',');
            std::getline(fields, z, ',');
            line = time + "," + std::to_string(4 * std::atof(x.c_str())) + "," +
                   std::to_string(4 * std::atof(y.c_str())) + "," + std::to_string(4 * std::atof(z.c_str()));
        }
        rewritten += line + "\n";
    }
    writeFile(dir + "/jerky/dataDumpAccelerometer.csv", rewritten);
    for (const std::string sensors : {"AG", "AGM"}) {
        const ProcessResult r =
            sensortrim({"-CalibrateOffline", sensors, "-UseRawData", "jerky", "-ExportAllFiles", "b" + sensors});
        EXPECT_EQ(r.exitStatus, 255) << sensors << r.out;
        EXPECT_NE(r.out.find("Error:\nCalibration failed. Reason: Disagreement between accelerometer and gyroscope.\n"),
                  std::string::npos)
            << sensors << r.out;
        EXPECT_NE(file("b" + sensors + "/AGMLogFile.xml").find("FailureParameter=\"Gyro-Accel Diff\""),
                  std::string::npos)
            << sensors;
    }
}

TEST_F(Agm, TurnsThatStopShortNeverCalibrate) {
    // The magnetometer reads after each full turn what it read before it:
    // whichever sensors are calibrated, a turn that stops short fails its
    // step, while the records would look fine (a 340-degree turn makes a
    // perfect gyroscope's scale 1.059, well inside its limit).
    simulate("short", {"--flow", "full", "--sensors", "A,G,M", "--turn-degrees", "340"});
    simulate("far", {"--flow", "full", "--sensors", "A,G,M", "--turn-degrees", "250"});
    struct Case {
        std::string dump, sensors, off;
    };
    const Case cases[] = {{"short", "AG", "19.9"}, {"short", "G", "19.9"},  {"short", "GM", "19.9"},
                          {"short", "AGM", "19.9"}, {"short", "M", "20.0"}, {"short", "AM", "20.0"},
                          {"far", "AGM", "109.5"}};
    for (const Case& c : cases) {
        const std::string out = "out-" + c.dump + c.sensors;
        const ProcessResult r =
            sensortrim({"-CalibrateOffline", c.sensors, "-UseRawData", c.dump, "-ExportAllFiles", out});
        EXPECT_EQ(r.exitStatus, 255) << c.sensors;
        EXPECT_TRUE(endsWith(r.out, "\033[01;31mCALIBRATION FAILED\n\033[0mError:\nThe device did not come back to "
                                    "where it started after the turn about Z in step 2 (" +
                                        c.off + " degrees off): turn exactly 360 degrees\n"))
            << c.sensors << r.out;
        EXPECT_FALSE(exists(out + "/resultCalibration.xml")) << c.sensors;
    }
    // Without a magnetometer the turns cannot be checked, and the run says so.
    simulate("blind", {"--flow", "full", "--sensors", "A,G", "--turn-degrees", "340"});
    const ProcessResult r = sensortrim({"-CalibrateOffline", "AG", "-UseRawData", "blind", "-ExportAllFiles", "o"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(r.out.find("\nNo magnetometer to check the turns with: turn exactly 360 degrees\nLoading data dump"),
              std::string::npos)
        << r.out;
}

TEST_F(Agm, FailuresNameTheSensorTheFileAndTheLine) {
    // A magnetometer dump cut short: the streaming check names it, not the
    // sensors whose data went on.
    simulate("cut", {"--flow", "full", "--sensors", "A,G,M"});
    const std::string mag = dir + "/cut/dataDumpMagnetometer.csv";
    std::string text = readFile(mag);
    size_t at = text.size();
    for (int n = 0; n < 500; ++n)
        at = text.rfind('\n', at - 1);
    writeFile(mag, text.substr(0, at + 1));
    ProcessResult r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "cut", "-ExportAllFiles", "o1"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_TRUE(endsWith(r.out, "Error:\nData streaming rate was invalid. Not enough data points were sampled for "
                                "Magnetometer\n"))
        << r.out;

    // A value that is not a number: the file and its line.
    simulate("nan", {"--flow", "full", "--sensors", "A,G,M"});
    const std::string acc = dir + "/nan/dataDumpAccelerometer.csv";
    text = readFile(acc);
    at = 0;
    for (int line = 1; line < 57; ++line)
        at = text.find('\n', at) + 1;
    const size_t comma = text.find(',', at);
    text.replace(comma + 1, text.find(',', comma + 1) - comma - 1, "nan");
    writeFile(acc, text);
    r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "nan", "-ExportAllFiles", "o2"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_TRUE(endsWith(r.out, "Error:\nCSV parsing error. Invalid value nan at line 57 of input file "
                                "nan/dataDumpAccelerometer.csv\n"))
        << r.out;

    // A sensor that fails before it logs anything still has its element in
    // the run log, failed, with its reason.
    simulate("flat", {"--flow", "full", "--sensors", "A,G,M", "--field", "0", "--mag-noise", "0"});
    r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "flat", "-ExportAllFiles", "o3"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_NE(file("o3/AGMLogFile.xml")
                  .find("Type=\"Magnetometer\" SamplingUnit=\"milliGauss\" Success=\"false\" IsPrimary=\"true\" "
                        "FailureReason=\"Failed to calc magnetometer values, check your magnetic environment\""),
              std::string::npos)
        << file("o3/AGMLogFile.xml");
}

TEST_F(Agm, DumpWithoutTheTurnsIsNotEnoughData) {
    // A four-steps recording has no full turns.
    simulate("dump", {"--flow", "foursteps", "--sensors", "A,G,M"});
    const ProcessResult r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "dump", "-ExportAllFiles", "out"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_TRUE(endsWith(r.out, "Error:\nUnexpected data dump size. Not enough data for completing the calibration "
                                "process\n"))
        << r.out;
    EXPECT_FALSE(exists("out/resultCalibration.xml"));
}

TEST_F(Agm, FourStepsTestOfGyroscopeAndAccelerometer) {
    simulate("good", {"--flow", "foursteps", "--sensors", "A,G", "--mode", "test"});
    ProcessResult r = sensortrim({"-TestCalibration", "AG", "-FourSteps", "-UseRawData", "good", "-ExportAllFiles", "t1"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(r.out.find("----   test pass -----\n"), std::string::npos);
    std::string log = file("t1/LogFile.xml");
    const size_t section = log.find("<Performing_TestCompareRotation_Gyro_Accel>");
    ASSERT_NE(section, std::string::npos) << log;
    const std::string steps = log.substr(section, log.find("</Performing_TestCompareRotation_Gyro_Accel>") - section);
    for (const char* step : {"<!--step 1-->", "<!--step 2-->", "<!--step 3-->"})
        EXPECT_NE(steps.find(step), std::string::npos) << step;
    EXPECT_EQ(steps.find("<!--step 4-->"), std::string::npos);
    size_t passed = 0;
    for (size_t at = steps.find("<!--: PASSED-->"); at != std::string::npos; at = steps.find("<!--: PASSED-->", at + 1))
        ++passed;
    EXPECT_EQ(passed, 3u);
    EXPECT_NE(log.find("<Performing_TestIntegration>"), std::string::npos);

    // A gyroscope left off in scale fails the test, the rotation agreement
    // counting in its verdict: 25 % high about X its own turn test fails
    // too; 16 % high on every axis only the agreement sees it (each quarter
    // turn 14.4 degrees long, inside the turn test's 15).
    struct Off {
        const char* scale;
        bool turnTestFails;
        std::string errorLog;
    };
    const Off offs[] = {
        {"1.25,1,1", true,
         "1\tGyroscope: Check Calibration\nGyroscope step 3 Gravity rotation test: the turn and the Accelerometer "
         "22.5 degrees apart, at most 5\n"},
        {"1.16,1.16,1.16", false,
         "1\tGyroscope: Check Calibration\nGyroscope step 1 Gravity rotation test: the turn and the Accelerometer "
         "14.4 degrees apart, at most 5\nGyroscope step 2 Gravity rotation test: the turn and the Accelerometer "
         "14.4 degrees apart, at most 5\nGyroscope step 3 Gravity rotation test: the turn and the Accelerometer "
         "14.4 degrees apart, at most 5\n"},
    };
    for (const Off& off : offs) {
        SCOPED_TRACE(off.scale);
        simulate("bad", {"--flow", "foursteps", "--sensors", "A,G", "--mode", "test", "--gyro-scale", off.scale});
        r = sensortrim({"-TestCalibration", "AG", "-FourSteps", "-UseRawData", "bad", "-ExportAllFiles", "t2"});
        EXPECT_EQ(r.exitStatus, 255);
        EXPECT_EQ(r.out.find("Error in motion Gyroscope step 2 gyro rotation test\n") != std::string::npos,
                  off.turnTestFails)
            << r.out;
        EXPECT_NE(r.out.find("Error in Gyroscope step 3 Gravity rotation test\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("test pass"), std::string::npos) << r.out;
        EXPECT_TRUE(endsWith(r.out, "\033[01;31mTEST FAILED\n\033[0mError:\n" + off.errorLog + "\n")) << r.out;
        EXPECT_EQ(file("t2/error.log"), off.errorLog);
        log = file("t2/LogFile.xml");
        EXPECT_NE(log.find("<!-- FAILED-->"), std::string::npos);
        const size_t gyroscope = log.find("Type=\"Gyroscope\"");
        ASSERT_NE(gyroscope, std::string::npos);
        EXPECT_NE(log.substr(gyroscope, 200).find("Success=\"false\""), std::string::npos) << log;
    }
}

TEST_F(Agm, MagnetometerAccuracyTest) {
    simulate("good", {"--flow", "magfoursteps", "--sensors", "M", "--mode", "test"});
    ProcessResult r =
        sensortrim({"-TestCalibration", "M", "-MagAccuracyTest", "-UseRawData", "good", "-ExportAllFiles", "t1"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    const std::string log = file("t1/LogFile.xml");
    EXPECT_NE(log.find("Type=\"4StepsMagTest\""), std::string::npos);
    for (const char* section : {"Performing_TestMagSTD", "Performing_TestStaticValues", "Performing_TestMagValues",
                                "Performing_TestDirection", "Performing_TestMagScale"})
        EXPECT_NE(log.find(std::string("<") + section + ">"), std::string::npos) << section;
    EXPECT_EQ(log.find(" FAILED"), std::string::npos);

    struct Case {
        std::vector<std::string> sim;
        std::string console;
    };
    const Case cases[] = {
        // Soft iron left over: the turn is an ellipse.
        {{"--mag-scale", "1.3,1,1"}, "Error in Magnet scale test\n"},
        // The sensor turned 20 degrees about Z against the device: every heading is off.
        {{"--mag-misalign", "0,0,0.35"}, "Error in Compass direction test\n"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string dump = "bad" + std::to_string(n), out = "o" + std::to_string(n++);
        std::vector<std::string> sim = {"--flow", "magfoursteps", "--sensors", "M", "--mode", "test"};
        sim.insert(sim.end(), c.sim.begin(), c.sim.end());
        simulate(dump, sim);
        r = sensortrim({"-TestCalibration", "M", "-MagAccuracyTest", "-UseRawData", dump, "-ExportAllFiles", out});
        EXPECT_EQ(r.exitStatus, 255) << c.console;
        EXPECT_NE(r.out.find(c.console), std::string::npos) << r.out;
        EXPECT_EQ(file(out + "/error.log"), "1\tMagnetometer: Check Calibration\n");
    }
}

TEST_F(Agm, DegenerateMagnetometerRecordings) {
    simulate("dump", {"--flow", "full", "--sensors", "A,G,M"});
    const std::string original = file("dump/dataDumpMagnetometer.csv");
    // Rewrites every sample row of the magnetometer's dump.
    auto rewrite = [&](const std::string& folder, const std::function<std::string(double, double, double)>& values) {
        std::istringstream in(original);
        std::string out, line;
        for (int n = 0; std::getline(in, line); ++n) {
            if (n < 2) {
                out += line + "\n";
                continue;
            }
            double t, x, y, z;
            ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf", &t, &x, &y, &z), 4);
            char time[32];
            std::snprintf(time, sizeof time, "%f", t);
            out += std::string(time) + "," + values(x, y, z) + "\n";
        }
        ASSERT_EQ(std::system(("cp -r '" + dir + "/dump' '" + dir + "/" + folder + "'").c_str()), 0);
        writeFile(dir + "/" + folder + "/dataDumpMagnetometer.csv", out);
    };
    rewrite("planar", [](double x, double y, double) { return std::to_string(x) + "," + std::to_string(y) + ",0.0"; });
    rewrite("stuck", [](double, double, double) { return std::string("100.0,200.0,-300.0"); });
    for (const std::string folder : {"planar", "stuck"}) {
        const ProcessResult r =
            sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", folder, "-ExportAllFiles", "out-" + folder});
        EXPECT_EQ(r.exitStatus, 255) << folder;
        EXPECT_TRUE(endsWith(r.out, "\033[01;31mCALIBRATION FAILED\n\033[0mError:\nFailed to calc magnetometer values, "
                                    "check your magnetic environment\n"))
            << r.out;
        EXPECT_FALSE(exists("out-" + folder + "/resultCalibration.xml")) << folder;
        const std::string log = file("out-" + folder + "/AGMLogFile.xml");
        EXPECT_EQ(log.find("nan"), std::string::npos) << folder;
        EXPECT_EQ(log.find("inf"), std::string::npos) << folder;
    }
}

TEST_F(Agm, LightCalibrationFromDumpAndConfiguration) {
    writeFile(dir + "/levels.txt", "values=100,500,1000\ndelay_time=5\n");
    struct Good {
        std::string gain;
        std::string multiplier;
    };
    // A mean multiplier of 2.0068 (gain 0.4983) is truncated to 200, not rounded to 201.
    for (const Good& g : {Good{"0.5", "<Multiplier Divider=\"100\">200</Multiplier>"},
                          Good{"0.8", "<Multiplier Divider=\"100\">125</Multiplier>"},
                          Good{"0.4983", "<Multiplier Divider=\"100\">200</Multiplier>"}}) {
        const std::string dump = "als" + g.gain, out = "out" + g.gain;
        simulate(dump, {"--flow", "als", "--levels", "100,500,1000", "--light-gain", g.gain});
        const ProcessResult r =
            sensortrim({"-CalibrateOffline", "ALS", "-Auto", "levels.txt", "-UseRawData", dump, "-ExportAllFiles", out});
        ASSERT_EQ(r.exitStatus, 0) << r.out;
        EXPECT_NE(r.out.find("Stage 3 multiplier is "), std::string::npos) << r.out;
        EXPECT_NE(file(out + "/resultCalibration.xml").find(g.multiplier), std::string::npos) << g.gain;
        // No firmware record: no vendor data of one either.
        EXPECT_EQ(file(out + "/resultCalibration.xml").find("VendorData"), std::string::npos) << g.gain;
        const std::string log = file(out + "/AlsLogFile.xml");
        EXPECT_NE(log.find("Type=\"Als\""), std::string::npos);
        EXPECT_NE(log.find("Success=\"true\""), std::string::npos);
    }

    writeFile(dir + "/steep.txt", "values=100,1500,3000\n");
    struct Bad {
        std::vector<std::string> sim;
        std::string config;
        std::string tail;
        bool repeatStamp = false;  // the second sample after time 0 stamped as the first
    };
    const Bad cases[] = {
        {{"--levels", "100", "--hold", "20"}, "levels.txt",
         "A light level change was not detected for too long time\n"},
        {{"--light-noise", "5"}, "levels.txt", "The light is not stable for too long time\n"},
        {{"--levels", "100,1500,3000", "--light-gain", "0.004"}, "steep.txt",
         "\033[01;31mCALIBRATION FAILED\n\033[0mError:\nInvalid multiplier "},
        {{"--hold", "0.05"}, "levels.txt",
         "\033[01;31mCALIBRATION FAILED\n\033[0mError:\nUnexpected data dump size. Not enough data for completing the "
         "calibration process\n"},
        {{}, "levels.txt",
         "Error:\nCSV parsing error. Equal time stamps among the first samples (10 ms): the light calibration takes its "
         "sampling rate from the time between them at line 5 of input file bad4/dataDumpAmbientLightSensor.csv\n",
         true},
        // Two samples a millisecond: their stamps keep the fraction apart.
        {{"--period", "0.5"}, "levels.txt", "", false},
    };
    int n = 0;
    for (const Bad& c : cases) {
        const std::string dump = "bad" + std::to_string(n), out = "o" + std::to_string(n++);
        std::vector<std::string> sim = {"--flow", "als"};
        sim.insert(sim.end(), c.sim.begin(), c.sim.end());
        simulate(dump, sim);
        if (c.repeatStamp) {
            std::string text = file(dump + "/dataDumpAmbientLightSensor.csv");
            const size_t at = text.find("\n20.000000,");
            ASSERT_NE(at, std::string::npos);
            text.replace(at + 1, 2, "10");
            writeFile(dir + "/" + dump + "/dataDumpAmbientLightSensor.csv", text);
        }
        const ProcessResult r =
            sensortrim({"-CalibrateOffline", "ALS", "-Auto", c.config, "-UseRawData", dump, "-ExportAllFiles", out});
        if (c.tail.empty()) {
            EXPECT_EQ(r.exitStatus, 0) << r.out;
            EXPECT_TRUE(exists(out + "/resultCalibration.xml")) << r.out;
            continue;
        }
        EXPECT_EQ(r.exitStatus, 255) << c.tail;
        EXPECT_NE(r.out.find(c.tail), std::string::npos) << r.out;
        EXPECT_FALSE(exists(out + "/resultCalibration.xml")) << c.tail;
    }
}
