// Live runs against the emulated hub: the recorder, hubsim's reports from its
// simulated device, and the virtual operator following the console.
#include <gtest/gtest.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>

#include "HubSim.h"
#include "Records.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The record of a sensor type in a calibration XML file, from its element on.
std::string recordOf(const std::string& xml, int type) {
    const size_t at = xml.find("SensorTypeId=\"" + std::to_string(type) + "\"");
    if (at == std::string::npos)
        return "";
    return xml.substr(at, xml.find("</Sensor>", at) - at);
}

int intAfter(const std::string& text, const std::string& tag) {
    const size_t at = text.find("<" + tag + ">");
    return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + tag.size() + 2);
}

// sensortrim args... under the virtual operator, in the hub's folder.
ProcessResult operatorRun(const HubSim& hub, const std::vector<std::string>& args) {
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 90;
    // A terminal that could show a status line, were the output one.
    options.env["TERM"] = "xterm-256color";
    std::vector<std::string> argv = {SENSORTRIM_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return hub.runWithOperator(argv, options);
}

TEST(SensortrimLive, RefusedRecordingFailsCleanly) {
    HubSim hub(scenarioWith("<Faults><Fault command=\"12\" status=\"1\"/></Faults>"));
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
              "Error:\nFailed to start PNRRecord\n");
    // Nothing was sampled: no dump is announced or written.
    EXPECT_TRUE(readFile(hub.dir() + "/out/dataDumpAccelerometer.csv").empty());
    // The firmware records of the sensors being calibrated are saved before data collection.
    const std::string current = readFile(hub.dir() + "/out/currentCalibration.xml");
    const std::string expected = readFile(EXAMPLES_DIR "/calibration-default.xml");
    const size_t gyroscope = expected.find("        <Sensor SensorTypeId=\"118\"");
    EXPECT_EQ(current, expected.substr(0, gyroscope) + "    </Calibration>\n</TSY>\n");
    // Both accelerometers are asked to report (interval 10, reporting on,
    // sensitivity 0), then to stop; nothing is written to the firmware.
    std::vector<std::string> sampling, record;
    for (const std::string& m : hub.sentMessages()) {
        if (m.compare(0, 2, "0a") == 0)
            sampling.push_back(m);
        if (m.compare(0, 2, "0c") == 0)
            record.push_back(m);
    }
    EXPECT_EQ(sampling, (std::vector<std::string>{
                            "0a000000" "7300010001000002" "0e03" "0400" "0a000000",
                            "0a000000" "7300010001000002" "1603" "0100" "02",
                            "0a000000" "7300010001000002" "0f03" "0400" "00000000",
                            "0a000000" "7300010001000102" "0e03" "0400" "0a000000",
                            "0a000000" "7300010001000102" "1603" "0100" "02",
                            "0a000000" "7300010001000102" "0f03" "0400" "00000000",
                            "0a000000" "7300010001000002" "1603" "0100" "01",
                            "0a000000" "7300010001000102" "1603" "0100" "01"}));
    // A stop first (nothing was recording), then the start the firmware refused.
    ASSERT_GE(record.size(), 2u);
    EXPECT_EQ(record[0], "0c0000000101000000000000000000");
    EXPECT_EQ(record[1], "0c000000010000");
    for (const std::string& m : hub.sentMessages())
        EXPECT_NE(m.compare(0, 2, "05"), 0) << m;
}

TEST(SensortrimLive, CalibrationCorrectsTheDeviceItWasRunOn) {
    HubSim hub(defaultScenario());
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 90;
    // The device needs calibrating: its tests fail.
    ProcessResult r = hub.runWithOperator({SENSORTRIM_BIN, "-TestCalibration", "AG", "-FourSteps"}, options);
    EXPECT_EQ(r.exitStatus, 255) << r.out;
    r = hub.runWithOperator({SENSORTRIM_BIN, "-TestCalibration", "M", "-MagAccuracyTest"}, options);
    EXPECT_EQ(r.exitStatus, 255) << r.out;

    r = hub.runWithOperator({SENSORTRIM_BIN, "-Calibrate", "AGM", "-UpdateTSY", "-ExportAllFiles", "out"}, options);
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    for (const char* step : {"\033[01;32mSTEP 1 PASSED\n", "\033[01;32mSTEP 7 PASSED\n"})
        EXPECT_TRUE(contains(r.out, step)) << step;
    EXPECT_TRUE(contains(r.out, "\033[01;32mCalibration process completed successfully\n\033[0m"));
    for (const char* file : {"out/dataDumpAccelerometer.csv", "out/dataDumpAccelerometer_2.csv",
                             "out/dataDumpGyroscope.csv", "out/dataDumpMagnetometer.csv", "out/resultCalibration.xml",
                             "out/currentCalibration.xml", "out/AGMLogFile.xml"})
        EXPECT_FALSE(readFile(hub.dir() + "/" + file).empty()) << file;
    size_t written = 0;
    for (const std::string& m : hub.sentMessages())
        written += m.compare(0, 2, "05") == 0;
    EXPECT_EQ(written, 4u);  // both accelerometers, gyroscope, magnetometer

    // The records hubsim now holds correct the simulated errors.
    r = hub.runWithOperator({SENSORTRIM_BIN, "-TestCalibration", "AG", "-FourSteps"}, options);
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    r = hub.runWithOperator({SENSORTRIM_BIN, "-TestCalibration", "M", "-MagAccuracyTest"}, options);
    EXPECT_EQ(r.exitStatus, 0) << r.out;

    // The dumps of the live run calibrate offline to the same records (to the
    // rounding of the dump's six decimals).
    r = hub.run({SENSORTRIM_BIN, "-CalibrateOffline", "AGM", "-UseRawData", "out", "-ExportAllFiles", "off"}, options);
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    const std::string live = readFile(hub.dir() + "/out/resultCalibration.xml");
    const std::string offline = readFile(hub.dir() + "/off/resultCalibration.xml");
    for (int type : {115, 118, 527}) {
        const std::string a = recordOf(live, type), b = recordOf(offline, type);
        for (const char* tag : {"Mat11", "Mat12", "Mat22", "Mat33", "ScaleFactor", "OffsetX", "OffsetY", "OffsetZ"})
            EXPECT_NEAR(intAfter(a, tag), intAfter(b, tag), 50 + std::abs(intAfter(a, tag)) * 1e-3)
                << type << " " << tag;
    }
}

TEST(SensortrimLive, EveryFlowRunsUnattended) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;
        int status = 0;
        std::string lightGain = "0.5";
        std::string dip = "";  // the station's, where not the scenario's
    };
    const Case cases[] = {
        {{"-Calibrate", "AGM", "-UpdateTSY"}, "\033[01;32mCalibration process completed successfully\n"},
        {{"-Calibrate", "AG", "-FourSteps", "-UpdateTSY"}, "\033[01;32mCalibration process completed successfully\n"},
        {{"-Calibrate", "AG", "-Minimal", "-UpdateTSY"}, "\033[01;32mCalibration process completed successfully\n"},
        {{"-Calibrate", "ALS", "-Auto", "levels.txt", "-UpdateTSY"}, "Multiplier/Divider: 2.000000\n"},
        {{"-Calibrate", "ALS", "-ExportAllFiles", "als"}, "Multiplier/Divider: 2.000000\n"},
        // A mean multiplier of 2.0068 at divider 100: truncated to 200, not rounded to 201.
        {{"-Calibrate", "ALS", "-Auto", "levels.txt", "-ExportAllFiles", "als"},
         "Multiplier: 200.000000\nDivider: 100.000000\nMultiplier/Divider: 2.000000\n", 0, "0.4983"},
        {{"-MagTest", "-ExportAllFiles", "mag"}, "Test passed. You are good to go!\n"},
        // In the southern magnetic hemisphere, where the field points up.
        {{"-MagTest", "-ExportAllFiles", "mag"}, "Test passed. You are good to go!\n", 0, "0.5", "-42"},
        // The device's accelerometer reads 0.12 g off: the face-up test says so.
        {{"-TestCalibration", "AG", "-Minimal", "-noEnter", "10"},
         "[Failure] Average value error in Accelerometer above allowed threshold 0.1\n", 255},
    };
    for (const Case& c : cases) {
        std::string xml = defaultScenario();
        xml.replace(xml.find("lightGain=\"0.5\""), 15, "lightGain=\"" + c.lightGain + "\"");
        if (!c.dip.empty()) {
            const size_t at = xml.find(" dip=\"", xml.find("<Device "));
            xml.replace(at, xml.find('"', at + 6) + 1 - at, " dip=\"" + c.dip + "\"");
        }
        HubSim hub(xml);
        writeFile(hub.dir() + "/levels.txt", "values=100,500,1000\ndelay_time=5\n");
        const ProcessResult r = operatorRun(hub, c.args);
        EXPECT_EQ(r.exitStatus, c.status) << c.args[1] << r.out;
        EXPECT_TRUE(contains(r.out, c.expected)) << r.out;
        // Piped, the console has lines only: no status line redrawn in place.
        EXPECT_FALSE(contains(r.out, "\r")) << c.args[1] << r.out;
        EXPECT_FALSE(contains(r.out, "\033[K")) << c.args[1] << r.out;
        EXPECT_FALSE(contains(r.out, " s left")) << c.args[1] << r.out;
    }
}

TEST(SensortrimLive, MisbehavingReports) {
    struct Case {
        std::string device;  // attributes of the scenario's device
        std::vector<std::string> args;
        int status;
        std::string expected;
    };
    const Case cases[] = {
        // Reports of a sensor the tool does not know, and payloads ending in a
        // zero-length record followed by junk: both are passed over.
        {"unknownSensor=\"true\" zeroLengthRecord=\"true\"", {"-Calibrate", "A", "-FourSteps", "-UpdateTSY"}, 0,
         "\033[01;32mCalibration process completed successfully\n"},
        // The connection drops in the middle of a step.
        {"dropAfterMs=\"4000\"", {"-Calibrate", "A", "-FourSteps", "-UpdateTSY"}, 255,
         "Error:\nDATA COLLECTION FAILED\n Failed to get samples from FW\n"},
        // The lid accelerometer stops reporting after a few seconds: the steps
        // end on the other sensors, and the streaming check names it.
        {"silentLuid=\"7300010001000102\" silentAfterMs=\"5000\"", {"-Calibrate", "AGM", "-UpdateTSY"}, 255,
         "Data streaming rate was invalid. Not enough data points were sampled for Accelerometer_2\n"},
    };
    for (const Case& c : cases) {
        const std::string device = "<Device speed=\"8\"";
        HubSim hub(scenarioReplacing(device, device + " " + c.device));
        const ProcessResult r = operatorRun(hub, c.args);
        EXPECT_EQ(r.exitStatus, c.status) << c.device << r.out;
        EXPECT_TRUE(contains(r.out, c.expected)) << c.device << r.out;
        if (c.status != 0) {
            // Nothing reaches the firmware after a failure.
            for (const std::string& m : hub.sentMessages())
                EXPECT_NE(m.compare(0, 2, "05"), 0) << c.device;
        }
    }
}

TEST(SensortrimLive, NobodyMovesTheDevice) {
    // No operator: the first position is held, then nothing happens for a
    // minute; meanwhile the gyroscope falls silent. The time-out names the
    // step and the sensor whose samples stopped.
    const std::string device = "<Device speed=\"8\"";
    HubSim hub(scenarioReplacing(device, device + " silentLuid=\"7600090002000002\" silentAfterMs=\"8000\""));
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 120;
    const ProcessResult r = hub.run({SENSORTRIM_BIN, "-Calibrate", "AG", "-FourSteps", "-NoEnter", "10", "-UpdateTSY",
                                     "-ExportAllFiles", "out"},
                                    options);
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_TRUE(contains(r.out, "\033[01;32mSTEP 1 PASSED\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Error:\nDATA COLLECTION FAILED\n Timeout, failed to get stable samples or to detect "
                                "motion of the required sensors (step 2; the samples of Gyroscope stopped; the device was "
                                "not moved to the position of step 2 (X axis directed DOWN): it rests where step 1 "
                                "held it)\n"))
        << r.out;
    // What was recorded is kept; nothing is written to the firmware.
    EXPECT_FALSE(readFile(hub.dir() + "/out/dataDumpAccelerometer.csv").empty());
    EXPECT_FALSE(readFile(hub.dir() + "/out/dataDumpGyroscope.csv").empty());
    for (const std::string& m : hub.sentMessages())
        EXPECT_NE(m.compare(0, 2, "05"), 0);
}

// How often the run said it saved its dump.
size_t dumpsSaved(const std::string& out) {
    size_t saved = 0;
    for (size_t at = out.find("Saving data dump"); at != std::string::npos; at = out.find("Saving data dump", at + 1))
        ++saved;
    return saved;
}

// Each sensor's dump in the folder is whole: its LUID line, its header, and
// every sample line a time and three values; the number of samples.
void expectCompleteDumps(const std::string& folder, const std::string& what, size_t minSamples) {
    for (const char* sensor : {"Accelerometer", "Accelerometer_2", "Gyroscope", "Magnetometer"}) {
        const std::string dump = readFile(folder + "/dataDump" + sensor + ".csv");
        ASSERT_FALSE(dump.empty()) << what << ": " << sensor;
        EXPECT_EQ(dump.compare(0, 5, "LUID="), 0) << what << ": " << sensor;
        EXPECT_EQ(dump.back(), '\n') << what << ": " << sensor;
        const size_t header = dump.find("time[ms]");
        ASSERT_NE(header, std::string::npos) << what << ": " << sensor;
        std::istringstream lines(dump.substr(header));
        std::string line;
        std::getline(lines, line);
        size_t samples = 0;
        while (std::getline(lines, line)) {
            double t, x, y, z;
            ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf", &t, &x, &y, &z), 4)
                << what << ": " << sensor << ": " << line;
            ++samples;
        }
        EXPECT_GE(samples, minSamples) << what << ": " << sensor;
    }
}

// A live AGM calibration exporting to "out", interrupted as the options say.
ProcessResult interruptedAgmRun(const HubSim& hub, ProcessOptions options) {
    options.workDir = hub.dir();
    options.timeoutSeconds = 90;
    return hub.runWithOperator({SENSORTRIM_BIN, "-Calibrate", "AGM", "-ExportAllFiles", "out"}, options);
}

TEST(SensortrimLive, InterruptLeavesOneCompleteDump) {
    // Ctrl-C, a sequencer's SIGTERM and a closed terminal's SIGHUP while
    // recording, Ctrl-C once recording is over (early enough that the run is
    // not already ending when the signal arrives), and SIGTERM while the run
    // is being set up, each passed on by the operator: a dump once sampling
    // has begun, a line naming the signal, its status, and the record of the
    // interrupt.
    struct Case {
        std::string when;
        int signal, status;
        std::string line;
        unsigned dumps;
    };
    const Case cases[] = {
        {"\033[01;32mSTEP 2 PASSED\n", SIGINT, 2, "Interrupt signal (2) received.", 1},
        {"\033[01;32mSTEP 2 PASSED\n", SIGTERM, 143, "Terminate signal (15) received.", 1},
        {"\033[01;32mSTEP 3 PASSED\n", SIGHUP, 129, "Hangup signal (1) received.", 1},
        {"data collection finished\n", SIGINT, 2, "Interrupt signal (2) received.", 1},
        {"Version: 3.1.0.3426\n", SIGTERM, 143, "Terminate signal (15) received.", 0},
    };
    for (const Case& c : cases) {
        HubSim hub(defaultScenario());
        ProcessOptions options;
        options.interruptWhenPrinted = c.when;
        options.interruptSignal = c.signal;
        const ProcessResult r = interruptedAgmRun(hub, options);
        EXPECT_EQ(r.signal, 0) << c.line;
        EXPECT_EQ(r.exitStatus, c.status) << c.line << r.out;
        EXPECT_TRUE(contains(r.out, c.line + "\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "\nAbort request\n")) << r.out;
        EXPECT_EQ(dumpsSaved(r.out), c.dumps) << r.out;
        if (c.dumps > 0)
            expectCompleteDumps(hub.dir() + "/out", c.line, 101);
        const std::string end = readFile(hub.dir() + "/out/runEnd.xml");
        EXPECT_TRUE(contains(end, "Verdict=\"interrupted\"")) << c.when << end;
        EXPECT_TRUE(contains(end, "<Reason>" + c.line + "</Reason>")) << end;
    }
}

// Ctrl-C at a moment drawn from a seed, over the whole of a live calibration:
// whenever it lands, the run ends with status 2, and once sampling has begun
// the export folder holds exactly one complete, parseable dump per sensor.
TEST(SensortrimLive, InterruptAtRandomMoments) {
    // The moments are drawn over the length of an uninterrupted run (longer
    // under a sanitizer).
    int lengthMs = 0;
    {
        HubSim hub(defaultScenario());
        ProcessOptions options;
        options.workDir = hub.dir();
        options.timeoutSeconds = 90;
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r =
            hub.runWithOperator({SENSORTRIM_BIN, "-Calibrate", "AGM", "-ExportAllFiles", "out"}, options);
        lengthMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
        ASSERT_EQ(r.exitStatus, 0) << r.out;
    }
    std::mt19937 random(2026);
    std::uniform_int_distribution<int> moment(0, lengthMs);
    // A loaded machine runs some of these faster than the run that set their
    // range, so moments past the end are drawn again, up to a bound.
    int interrupted = 0, withDumps = 0;
    for (int run = 0; run < 12 && (interrupted < 4 || withDumps < 2); ++run) {
        const int afterMs = moment(random);
        const std::string what = "SIGINT after " + std::to_string(afterMs) + " ms";
        HubSim hub(defaultScenario());
        ProcessOptions options;
        options.interruptAfterMs = afterMs;
        const ProcessResult r = interruptedAgmRun(hub, options);
        ASSERT_EQ(r.signal, 0) << what;
        const bool finished = contains(r.out, "Calibration process completed successfully");
        if (finished)
            continue;  // the run was over before the interrupt
        ++interrupted;
        EXPECT_EQ(r.exitStatus, 2) << what << "\n" << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "Interrupt signal (2) received.\n")) << what << "\n" << r.out;
        const size_t saved = dumpsSaved(r.out);
        EXPECT_LE(saved, 1u) << what << "\n" << r.out;
        withDumps += saved == 1;
        if (saved == 1) {
            expectCompleteDumps(hub.dir() + "/out", what, 0);
        } else {
            EXPECT_TRUE(readFile(hub.dir() + "/out/dataDumpAccelerometer.csv").empty()) << what;
        }
    }
    // The moments fell during and after the recording. The operator presses
    // Enter a moment after placing the device, so few moments fall before
    // sampling begins: that case is CtrlCWhileWaitingForTheOperatorEndsTheRun's.
    EXPECT_GE(interrupted, 4);
    EXPECT_GE(withDumps, 2);
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

namespace {

TEST(SensortrimLive, RecordsTheFirmwareRefusesLeaveNoResultButTheDumps) {
    // The calibration succeeds, its result is saved, then the firmware refuses
    // the new records: the run fails, its result file goes, its dumps stay,
    // and the records it found are kept under a name no script takes for a
    // success, named on the console and in runEnd.xml. Once the hub answers
    // again (it refuses once here), -ImportXml of that file writes them.
    struct Case {
        std::string fault;
        std::vector<std::string> args;
        std::string refusal;
    };
    const Case cases[] = {
        {"<Fault command=\"5\" status=\"2\" times=\"1\"/>", {"-Calibrate", "A", "-FourSteps"},
         "SMHI Error: Set calibration data command failed"},
        {"<Fault command=\"5\" status=\"1\" times=\"1\"/>", {"-Calibrate", "AGM"},
         "SMHI Error: Set calibration data command failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        HubSim hub(scenarioWith("<Faults>" + c.fault + "</Faults>"));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-UpdateTSY", "-ExportAllFiles", "out"});
        ProcessResult r = operatorRun(hub, args);
        EXPECT_EQ(r.exitStatus, 255);
        EXPECT_TRUE(contains(r.out, "Saving calibration data to FW\nThe new calibration data was not written to the "
                                    "hub; it is kept in out/unwrittenCalibration.xml: write it with -ImportXml "
                                    "out/unwrittenCalibration.xml once the hub answers\nSaving data dump to file "
                                    "out/dataDump\n"))
            << r.out;
        EXPECT_TRUE(contains(r.out, "out/dataDump\n" + c.refusal + "\n")) << r.out;
        EXPECT_TRUE(readFile(hub.dir() + "/out/resultCalibration.xml").empty());
        EXPECT_FALSE(readFile(hub.dir() + "/out/dataDumpAccelerometer.csv").empty());
        EXPECT_FALSE(readFile(hub.dir() + "/out/AGMLogFile.xml").empty());
        const std::string end = readFile(hub.dir() + "/out/runEnd.xml");
        EXPECT_TRUE(contains(end, "<UnwrittenRecords>unwrittenCalibration.xml</UnwrittenRecords>")) << end;
        const std::string kept = readFile(hub.dir() + "/out/unwrittenCalibration.xml");
        ASSERT_FALSE(kept.empty());
        ProcessOptions options;
        options.workDir = hub.dir();
        r = hub.run({SENSORTRIM_BIN, "-ImportXml", "out/unwrittenCalibration.xml"}, options);
        EXPECT_EQ(r.exitStatus, 0) << r.out;
        r = hub.run({SENSORTRIM_BIN, "-ExportXml", "now.xml"}, options);
        EXPECT_EQ(r.exitStatus, 0) << r.out;
        // The file keeps what the calibration found (as its log has it, to
        // the records' resolution), not what the hub held before; and the hub
        // now holds it.
        const std::string now = readFile(hub.dir() + "/now.xml");
        const std::string log = readFile(hub.dir() + "/out/AGMLogFile.xml");
        const std::string before = readFile(hub.dir() + "/out/currentCalibration.xml");
        const struct {
            int type;
            const char* name;
            double perUnit;  // the record's offset units per sampling unit
        } sensors[] = {{115, "Accelerometer", 1e6}, {118, "Gyroscope", 1e5}, {527, "Magnetometer", 1e3}};
        int compared = 0;
        for (const auto& s : sensors) {
            const records::Logged found = records::loggedOf(log, s.name);
            if (!found.found)
                continue;
            ++compared;
            const records::Record k = records::recordOf(kept, s.type, s.type == 115 ? 0 : -1);
            ASSERT_TRUE(k.found) << s.name;
            EXPECT_LT(records::largestDifference(k.correction, found.correction), 2e-4) << s.name;
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(k.offset[i], found.offset[i] * s.perUnit, 1.0) << s.name << " offset " << i;
            EXPECT_NE(recordOf(kept, s.type), recordOf(before, s.type)) << s.name;
            EXPECT_EQ(recordOf(kept, s.type), recordOf(now, s.type)) << s.name;
        }
        EXPECT_EQ(compared, c.args[1] == "AGM" ? 3 : 1);
    }
}

}  // namespace

namespace {

// The default scenario, its firmware never answering a stop of the recording.
std::string neverStops() {
    const std::string device = "<Device speed=\"8\"";
    return scenarioReplacing(device, device + " ignoreStop=\"true\"");
}

TEST(SensortrimLive, AFirmwareThatNeverConfirmsTheStopHoldsNothing) {
    // It keeps reporting after the stop: the recorder gives up in time, says
    // so, and the run goes on with its complete samples.
    HubSim hub(neverStops());
    ProcessResult r = operatorRun(hub, {"-Calibrate", "AGM", "-UpdateTSY", "-ExportAllFiles", "out"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "\033[01;32mSTEP 7 PASSED\n\033[0mThe firmware did not confirm the stop of the "
                                "recording within 3 seconds: the recording is taken as ended\ndata collection "
                                "finished\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "Calibration process completed successfully")) << r.out;
    bool ignored = false;
    for (const std::string& line : hub.journal())
        ignored = ignored || contains(line, "the stop of the recording is ignored");
    EXPECT_TRUE(ignored);

    // Ctrl-C while it records: the run ends (exit 2) with one complete dump per sensor.
    HubSim again(neverStops());
    ProcessOptions options;
    options.interruptWhenPrinted = "\033[01;32mSTEP 2 PASSED\n";
    options.timeoutSeconds = 40;
    r = interruptedAgmRun(again, options);
    EXPECT_EQ(r.signal, 0) << r.out;
    EXPECT_EQ(r.exitStatus, 2) << r.out;
    EXPECT_EQ(dumpsSaved(r.out), 1u) << r.out;
    expectCompleteDumps(again.dir() + "/out", "Ctrl-C against a firmware that never stops", 101);
}

}  // namespace
