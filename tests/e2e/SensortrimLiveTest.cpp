// A live calibration against the emulated hub, as far as data collection goes
// without the live sampler.
#include <gtest/gtest.h>

#include "HubSim.h"

namespace {

TEST(SensortrimLive, CalibrationStartsSamplingThenFailsCleanly) {
    HubSim hub(defaultScenario());
    ProcessOptions options;
    options.workDir = hub.dir();
    const ProcessResult r =
        hub.run({SENSORTRIM_BIN, "-Calibrate", "A", "-UpdateTSY", "-NoEnter", "10", "-ExportAllFiles", "out"}, options);
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out,
              "\nCorvex(R) Tessary Calibration Tool\nVersion: 3.1.0.3426\n"
              "Saving original calibration data to file out/currentCalibration.xml\n"
              "Step 1 out of 4.\nPlace the device screen's Z axis directed UP, Y axis directed to North\n"
              "Hold system in current position\nNOTE:\nDevice should be placed in tablet mode, screen facing up\n\n"
              "\033[01;31mDATA COLLECTION FAILED\n\033[0m\033[01;31mCALIBRATION FAILED\n\033[0m"
              "Saving data dump to file out/dataDump\nError:\nFailed to init PNRRecord\n");
    // The firmware records of the sensors being calibrated are saved before data collection.
    const std::string current = readFile(hub.dir() + "/out/currentCalibration.xml");
    const std::string expected = readFile(EXAMPLES_DIR "/calibration-default.xml");
    const size_t gyroscope = expected.find("        <Sensor SensorTypeId=\"118\"");
    EXPECT_EQ(current, expected.substr(0, gyroscope) + "    </Calibration>\n</TSY>\n");
    // Both accelerometers are asked to report (interval 10, reporting on,
    // sensitivity 0), then to stop; nothing is written to the firmware.
    std::vector<std::string> sampling;
    for (const std::string& m : hub.sentMessages())
        if (m.compare(0, 2, "0a") == 0)
            sampling.push_back(m);
    EXPECT_EQ(sampling, (std::vector<std::string>{
                            "0a000000" "7300010001000002" "0e03" "0400" "0a000000",
                            "0a000000" "7300010001000002" "1603" "0100" "02",
                            "0a000000" "7300010001000002" "0f03" "0400" "00000000",
                            "0a000000" "7300010001000102" "0e03" "0400" "0a000000",
                            "0a000000" "7300010001000102" "1603" "0100" "02",
                            "0a000000" "7300010001000102" "0f03" "0400" "00000000",
                            "0a000000" "7300010001000002" "1603" "0100" "01",
                            "0a000000" "7300010001000102" "1603" "0100" "01"}));
    for (const std::string& m : hub.sentMessages())
        EXPECT_NE(m.compare(0, 2, "05"), 0) << m;
}

TEST(SensortrimLive, CtrlCWhileWaitingForTheOperatorEndsTheRun) {
    // Ctrl-C reaches the process (not one thread) while it waits for Enter.
    HubSim hub(defaultScenario());
    ProcessOptions options;
    options.workDir = hub.dir();
    options.interruptWhenPrinted = "Press Enter when done\n";
    options.timeoutSeconds = 30;
    const ProcessResult r = hub.run({SENSORTRIM_BIN, "-Calibrate", "A", "-ExportAllFiles", "out"}, options);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitStatus, 2);
    const std::string tail = "Press Enter when done\nInterrupt signal (2) received.\nAbort request\n";
    ASSERT_GE(r.out.size(), tail.size()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    // Sampling had not started: there is no dump to save.
    EXPECT_TRUE(readFile(hub.dir() + "/out/dataDumpAccelerometer.csv").empty());
}

}  // namespace
