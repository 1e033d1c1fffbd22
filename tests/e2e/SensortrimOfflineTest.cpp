// Offline calibrations and tests from the simulated device's dumps.
#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "DumpRunTest.h"

namespace {

class Offline : public DumpRunTest {};

// The static record of a result file as offset (g) and correction S*A.
struct Record {
    double offset[3];
    double matrix[9];
    double factor;
    int mapping[9];
};

int xmlInt(const std::string& xml, const std::string& tag, size_t from) {
    const size_t at = xml.find("<" + tag + ">", from);
    return std::atoi(xml.c_str() + at + tag.size() + 2);
}

Record recordOf(const std::string& xml, size_t from = 0) {
    Record r{};
    const char* axes[9] = {"XX", "XY", "XZ", "YX", "YY", "YZ", "ZX", "ZY", "ZZ"};
    const char* mats[9] = {"Mat11", "Mat12", "Mat13", "Mat21", "Mat22", "Mat23", "Mat31", "Mat32", "Mat33"};
    for (int k = 0; k < 9; ++k) {
        r.mapping[k] = xmlInt(xml, axes[k], from);
        r.matrix[k] = xmlInt(xml, mats[k], from);
    }
    r.factor = xmlInt(xml, "ScaleFactor", from);
    const char* offsets[3] = {"OffsetX", "OffsetY", "OffsetZ"};
    for (int i = 0; i < 3; ++i)
        r.offset[i] = xmlInt(xml, offsets[i], from) / 1e6;  // micro-g
    return r;
}

// What the firmware makes of a raw sample with the record: M * Am * (r - o).
std::vector<double> apply(const Record& rec, const std::vector<double>& raw) {
    double d[3], am[3] = {0, 0, 0}, y[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i)
        d[i] = raw[static_cast<size_t>(i)] - rec.offset[i];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            am[i] += rec.mapping[3 * i + j] * d[j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            y[i] += rec.matrix[3 * i + j] / rec.factor * am[j];
    return {y[0], y[1], y[2]};
}

// The still samples of a dump: the first sample of each hold.
std::vector<std::vector<double>> rawSamples(const std::string& csv) {
    std::vector<std::vector<double>> rows;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<double> v;
        std::istringstream fields(line);
        std::string f;
        std::getline(fields, f, ',');
        while (std::getline(fields, f, ','))
            v.push_back(std::atof(f.c_str()));
        rows.push_back(v);
    }
    return rows;
}

TEST_F(Offline, CalibrationsRecoverTheSimulatedErrors) {
    struct Case {
        std::string flow;
        std::vector<std::string> extra;
        std::string type;
    };
    const Case cases[] = {
        {"full", {}, "NewMotionFull"},
        {"foursteps", {"-FourSteps"}, "Motion4Steps"},
    };
    for (const Case& c : cases) {
        const std::string dump = "dump-" + c.flow, out = "out-" + c.flow;
        simulate(dump, {"--flow", c.flow, "--acc-offset", "0.03,-0.02,0.01", "--acc-scale", "1.02,0.98,1.01",
                        "--acc-noise", "0.0005"});
        std::vector<std::string> args = {"-CalibrateOffline", "A", "-UseRawData", dump, "-ExportAllFiles", out};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ProcessResult r = sensortrim(args);
        ASSERT_EQ(r.exitStatus, 0) << r.out;
        EXPECT_NE(r.out.find("\033[01;32mCalibration process completed successfully\n\033[0m"), std::string::npos);
        EXPECT_FALSE(exists(out + "/currentCalibration.xml"));
        EXPECT_FALSE(exists(out + "/dataDump.csv"));
        EXPECT_NE(file(out + "/AGMLogFile.xml").find("Type=\"" + c.type + "\""), std::string::npos);
        EXPECT_NE(file(out + "/AGMLogFile.xml").find("Success=\"true\""), std::string::npos);

        const Record rec = recordOf(file(out + "/resultCalibration.xml"));
        EXPECT_NEAR(rec.offset[0], 0.03, 1e-3);
        EXPECT_NEAR(rec.offset[1], -0.02, 1e-3);
        // The samples of the dump, corrected by the record, have the length of gravity
        // (the simulated turns keep 1 g as well).
        const auto raw = rawSamples(file(dump + "/dataDumpAccelerometer.csv"));
        for (size_t i = 0; i < raw.size(); i += 200) {
            const std::vector<double> y = apply(rec, raw[i]);
            EXPECT_NEAR(std::sqrt(y[0] * y[0] + y[1] * y[1] + y[2] * y[2]), 1.0, 0.01) << c.flow << " sample " << i;
        }
    }
}

TEST_F(Offline, WrongPositionFailsAndKeepsTheEvidence) {
    simulate("dump", {"--flow", "full", "--wrong-step", "2"});
    const ProcessResult r = sensortrim({"-CalibrateOffline", "A", "-UseRawData", "dump", "-ExportAllFiles", "out"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_NE(r.out.find("\033[01;31mCALIBRATION FAILED\n\033[0mError:\nCalibration failed for sensor Accelerometer. "
                         "Reason: "),
              std::string::npos)
        << r.out;
    EXPECT_NE(file("out/AGMLogFile.xml").find("FailureParameter="), std::string::npos);
    EXPECT_FALSE(exists("out/resultCalibration.xml"));
}

TEST_F(Offline, TestsOfTheCalibration) {
    simulate("good", {"--flow", "foursteps", "--mode", "test"});
    ProcessResult r = sensortrim({"-TestCalibration", "A", "-FourSteps", "-UseRawData", "good", "-ExportAllFiles", "t1"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(r.out.find("----   test pass -----\n"), std::string::npos);
    EXPECT_NE(file("t1/LogFile.xml").find("Type=\"4StepsTest\""), std::string::npos);
    EXPECT_FALSE(exists("t1/error.log"));

    simulate("bad", {"--flow", "foursteps", "--mode", "test", "--wrong-step", "2"});
    r = sensortrim({"-TestCalibration", "A", "-FourSteps", "-UseRawData", "bad", "-ExportAllFiles", "t2"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_NE(r.out.find("\033[01;31mTEST FAILED\n\033[0mError:\n2\tAccelerometer: Check Axis Mapping\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(file("t2/error.log"), "2\tAccelerometer: Check Axis Mapping\n");

    // Without an export folder nothing is written.
    r = sensortrim({"-TestCalibration", "A", "-FourSteps", "-UseRawData", "bad"});
    EXPECT_EQ(r.exitStatus, 255);

    // A dump that ends before the last step: the test fails and says why.
    const std::string full = file("good/dataDumpAccelerometer.csv");
    ASSERT_EQ(std::system(("mkdir '" + dir + "/short'").c_str()), 0);
    writeFile(dir + "/short/dataDumpAccelerometer.csv", full.substr(0, full.rfind('\n', full.size() / 3) + 1));
    r = sensortrim({"-TestCalibration", "A", "-FourSteps", "-UseRawData", "short", "-ExportAllFiles", "t4"});
    EXPECT_EQ(r.exitStatus, 255);
    const std::string reason = "Unexpected data dump size. Not enough data for completing the calibration process\n";
    const std::string tail = "\033[01;31mTEST FAILED\n\033[0mError:\n" + reason;
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_EQ(file("t4/error.log"), reason);

    simulate("faceup", {"--flow", "minimal", "--mode", "test"});
    r = sensortrim({"-TestCalibration", "A", "-Minimal", "-UseRawData", "faceup", "-ExportAllFiles", "t3"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(file("t3/LogFile.xml").find("Type=\"FaceUpTest\""), std::string::npos);
}

TEST_F(Offline, SecondAccelerometerOnlyWithItsDump) {
    simulate("both", {"--flow", "full", "--sensors", "A,A2", "--hinge", "TOP"});
    ProcessResult r = sensortrim({"-CalibrateOffline", "A", "-UseRawData", "both", "-ExportAllFiles", "o1"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(r.out.find("Second Accelerometer Offset:"), std::string::npos);
    r = sensortrim({"-CalibrateOffline", "A", "-UseRawData", "both", "-ExportAllFiles", "o2", "-PrimaryOnly"});
    EXPECT_EQ(r.out.find("Second Accelerometer"), std::string::npos);
    std::remove((dir + "/both/dataDumpAccelerometer_2.csv").c_str());
    r = sensortrim({"-CalibrateOffline", "A", "-UseRawData", "both", "-ExportAllFiles", "o3"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out.find("Second Accelerometer"), std::string::npos);
}

TEST_F(Offline, BadDumpsAndFolders) {
    simulate("dump", {"--flow", "full"});
    const std::string full = file("dump/dataDumpAccelerometer.csv");
    writeFile(dir + "/dump/shortAccelerometer.csv", full.substr(0, full.rfind('\n', full.size() / 3) + 1));
    // The same samples under a gyroscope's luid, and under a luid without a static record.
    const std::string rows = full.substr(full.find('\n') + 1);
    writeFile(dir + "/dump/gyroAccelerometer.csv", "LUID=7600090002000002\n" + rows);
    writeFile(dir + "/dump/flagsAccelerometer.csv", "LUID=7300010001000000\n" + rows);
    struct Case {
        std::vector<std::string> args;
        std::string tail;
    };
    const Case cases[] = {
        {{"-CalibrateOffline", "A", "-UseRawData", "nowhere", "-ExportAllFiles", "o"},
         "Error:\nFolder nowhere does not exist\n"},
        {{"-CalibrateOffline", "A", "-UseRawData", "dump", "-DumpPrefix", "short", "-ExportAllFiles", "o"},
         "\033[01;31mCALIBRATION FAILED\n\033[0mError:\nUnexpected data dump size. Not enough data for completing "
         "the calibration process\n"},
        {{"-CalibrateOffline", "A", "-UseRawData", "dump", "-DumpPrefix", "none", "-ExportAllFiles", "o"},
         "Error:\nSensor data file dump/noneAccelerometer.csv does not exist\n"},
        {{"-CalibrateOffline", "A", "-UseRawData", "dump", "-DumpPrefix", "gyro", "-ExportAllFiles", "o"},
         "Error:\nInvalid LUID 7600090002000002 at input file dump/gyroAccelerometer.csv, it does not name the "
         "Accelerometer sensor\n"},
        {{"-CalibrateOffline", "A", "-UseRawData", "dump", "-DumpPrefix", "flags", "-ExportAllFiles", "o"},
         "Error:\nInvalid LUID 7300010001000000 at input file dump/flagsAccelerometer.csv, it does not name the "
         "Accelerometer sensor\n"},
        {{"-CalibrateOffline", "G", "-UseRawData", "dump", "-ExportAllFiles", "o"},
         "Error:\nSensor data file dump/dataDumpGyroscope.csv does not exist\n"},
        // An export folder that cannot be made fails the run before it reads anything.
        {{"-CalibrateOffline", "A", "-UseRawData", "dump", "-ExportAllFiles", "dump/dataDumpAccelerometer.csv/o"},
         "Version: 3.1.0.3426\nError:\nCannot make the export folder dump/dataDumpAccelerometer.csv/o: a file is in "
         "the way\n"},
        {{"-CalibrateOffline", "A", "-UseRawData", "dump", "-ExportAllFiles", "/proc/no/such/folder"},
         "Version: 3.1.0.3426\nError:\nCannot make the export folder /proc/no/such/folder: No such file or "
         "directory\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = sensortrim(c.args);
        EXPECT_EQ(r.exitStatus, 255) << c.tail;
        ASSERT_GE(r.out.size(), c.tail.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - c.tail.size()), c.tail) << r.out;
    }
    // A single dump file named directly.
    const ProcessResult r = sensortrim(
        {"-CalibrateOffline", "A", "-UseRawData", "dump/dataDump.csv", "-DumpPrefix", "ignored", "-ExportAllFiles", "o"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
}

TEST_F(Offline, InterruptDuringARunEndsItAtOnce) {
    simulate("dump", {"--flow", "full"});
    ProcessOptions options;
    options.workDir = dir;
    options.env["LD_PRELOAD"] = INTERRUPT_PRELOAD;
    options.env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    // The second clock read happens while the dump plays through the step script.
    options.env["INTERRUPT_AT_CALL"] = "2";
    const ProcessResult r = runProcess(
        {SENSORTRIM_BIN, "-CalibrateOffline", "A", "-UseRawData", "dump", "-ExportAllFiles", "out"}, options);
    EXPECT_EQ(r.exitStatus, 2);
    const std::string tail = "Interrupt signal (2) received.\nAbort request\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_FALSE(exists("out/resultCalibration.xml"));
}

// Every file of an export folder under a fixed name is whole: an XML file
// ends with its root's closing tag, a dump's rows all have the header's
// columns and the last one its line end. What was written beside a name
// (".name.part") does not count.
void expectWholeOrAbsent(const std::string& folder, const std::string& what) {
    const std::string listing = readFile(folder + "/.listing");
    std::istringstream names(listing);
    for (std::string name; std::getline(names, name);) {
        if (name.empty() || name[0] == '.')
            continue;
        const std::string text = readFile(folder + "/" + name);
        EXPECT_FALSE(text.empty()) << what << ": " << name << " is empty";
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0) {
            const size_t root = text.find('<', text.find("?>") + 2);
            const std::string tag = text.substr(root + 1, text.find_first_of(" >", root) - root - 1);
            EXPECT_TRUE(text.size() > tag.size() + 4 &&
                        text.compare(text.size() - tag.size() - 4, tag.size() + 4, "</" + tag + ">\n") == 0)
                << what << ": " << name << " is cut";
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".csv") == 0) {
            EXPECT_EQ(text.back(), '\n') << what << ": " << name << " is cut";
            std::istringstream rows(text);
            size_t columns = 0;
            for (std::string row; std::getline(rows, row);) {
                if (row.rfind("LUID=", 0) == 0 || row.rfind("HINGE=", 0) == 0)
                    continue;
                const size_t commas = static_cast<size_t>(std::count(row.begin(), row.end(), ','));
                if (columns == 0)
                    columns = commas;
                EXPECT_EQ(commas, columns) << what << ": " << name << " has a cut row";
            }
        }
    }
}

TEST_F(Offline, AKilledRunLeavesItsFilesWholeOrAbsent) {
    // Killed (SIGKILL, as a power cut stops it) as it opens each file it
    // writes, and as it puts each in place, until a run gets to its end.
    simulate("dump", {"--flow", "full", "--sensors", "A,G,M"});
    for (const char* moment : {"KILL_AT_OPEN", "KILL_AT_RENAME"}) {
        int killed = 0;
        for (int n = 1; n < 40; ++n) {
            const std::string out = std::string(moment) + std::to_string(n);
            ProcessOptions options;
            options.workDir = dir;
            options.env["LD_PRELOAD"] = INTERRUPT_PRELOAD;
            options.env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
            options.env["INTERRUPT_AT_CALL"] = "0";
            options.env[moment] = std::to_string(n);
            // Unless killed, the run writes its log and its result.
            const ProcessResult r = runProcess({SENSORTRIM_BIN, "-CalibrateOffline", "AGM", "-UseRawData", "dump",
                                                "-ExportAllFiles", out},
                                               options);
            ASSERT_EQ(std::system(("ls -a '" + dir + "/" + out + "' > '" + dir + "/" + out + "/.listing'").c_str()),
                      0);
            expectWholeOrAbsent(dir + "/" + out, out);
            if (r.signal != SIGKILL)
                break;
            ++killed;
        }
        EXPECT_GE(killed, 2) << moment;
    }
}

TEST_F(Offline, AConsoleThatGoesAwayEndsNoRun) {
    // Its reader gone after the first bytes (SIGPIPE, then EPIPE on every
    // write): the run goes on to its records and files.
    simulate("dump", {"--flow", "full", "--sensors", "A,G,M"});
    ProcessOptions options;
    options.workDir = dir;
    const ProcessResult r = runProcess({"/bin/sh", "-c",
                                        "'" SENSORTRIM_BIN "' -CalibrateOffline AGM -UseRawData dump -ExportAllFiles out "
                                        "| head -c 20"},
                                       options);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(endsWith(file("out/resultCalibration.xml"), "</TSY>\n"));
    EXPECT_TRUE(endsWith(file("out/AGMLogFile.xml"), "</Log>\n"));
}

TEST_F(Offline, AClockJumpInADumpDoesNotStallTheRun) {
    // A recording across a clock change: 1e10 ms between two rows of a hold.
    simulate("dump", {"--flow", "full"});
    std::istringstream in(file("dump/dataDumpAccelerometer.csv"));
    std::string line, jumped;
    for (int row = 1; std::getline(in, line); ++row) {
        if (row > 1400) {
            const size_t comma = line.find(',');
            char time[64];
            std::snprintf(time, sizeof time, "%f", std::strtod(line.c_str(), nullptr) + 1e10);
            line = time + line.substr(comma);
        }
        jumped += line + "\n";
    }
    ASSERT_EQ(std::system(("mkdir '" + dir + "/jump'").c_str()), 0);
    writeFile(dir + "/jump/dataDumpAccelerometer.csv", jumped);
    ProcessOptions options;
    options.workDir = dir;
    options.timeoutSeconds = 60;
    const ProcessResult r =
        runProcess({SENSORTRIM_BIN, "-CalibrateOffline", "A", "-UseRawData", "jump", "-ExportAllFiles", "out"}, options);
    EXPECT_EQ(r.signal, 0) << "the run did not end by itself";
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_TRUE(exists("out/resultCalibration.xml"));
}

TEST_F(Offline, RunningTwiceReplacesTheFiles) {
    simulate("a", {"--flow", "full", "--acc-offset", "0.05,0,0"});
    simulate("b", {"--flow", "full", "--acc-offset", "-0.05,0,0"});
    ASSERT_EQ(sensortrim({"-CalibrateOffline", "A", "-UseRawData", "a", "-ExportAllFiles", "out"}).exitStatus, 0);
    const std::string first = file("out/resultCalibration.xml");
    ASSERT_EQ(sensortrim({"-CalibrateOffline", "A", "-UseRawData", "b", "-ExportAllFiles", "out"}).exitStatus, 0);
    const std::string second = file("out/resultCalibration.xml");
    EXPECT_NEAR(recordOf(first).offset[0], 0.05, 1e-3);
    EXPECT_NEAR(recordOf(second).offset[0], -0.05, 1e-3);
}

}  // namespace

namespace {

// The names in a folder, sorted.
std::string listing(const std::string& folder) {
    const ProcessResult r = runProcess({"/bin/ls", folder});
    return r.out;
}

}  // namespace

TEST_F(Offline, TheExportFolderDescribesOneRunAndKeepsTheEarlierOnes) {
    simulate("good", {"--flow", "full", "--sensors", "A,G,M", "--seed", "4"});
    simulate("weak", {"--flow", "full", "--sensors", "A,G,M", "--field", "150"});
    simulate("test-good", {"--flow", "foursteps", "--sensors", "A", "--mode", "test"});
    simulate("test-bad", {"--flow", "foursteps", "--sensors", "A", "--mode", "test", "--acc-offset", "0.2,0,0"});
    // Missing parents are made before anything is read.
    ProcessResult r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "good", "-ExportAllFiles", "deep/er/out"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(listing(dir + "/deep/er/out"), "AGMLogFile.xml\nresultCalibration.xml\n");
    // A failing run into the same folder: the earlier success is kept aside,
    // under the time of the newest of its files, and no result sits beside the failure.
    ASSERT_EQ(std::system(("touch -d '2026-03-04 05:06:07' '" + dir + "/deep/er/out/resultCalibration.xml' && "
                           "touch -d '2026-01-02 03:04:05' '" + dir + "/deep/er/out/AGMLogFile.xml'")
                              .c_str()),
              0);
    r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "weak", "-ExportAllFiles", "deep/er/out"});
    EXPECT_EQ(r.exitStatus, 255);
    const size_t moved = r.out.find("The files of an earlier run in deep/er/out were moved to deep/er/out/earlier-run-");
    ASSERT_NE(moved, std::string::npos) << r.out;
    const std::string kept = r.out.substr(moved + 57, r.out.find('\n', moved) - moved - 57);
    EXPECT_EQ(kept, "deep/er/out/earlier-run-2026-03-04-050607");
    EXPECT_EQ(listing(dir + "/" + kept), "AGMLogFile.xml\nresultCalibration.xml\n");
    EXPECT_FALSE(exists("deep/er/out/resultCalibration.xml"));
    EXPECT_TRUE(exists("deep/er/out/AGMLogFile.xml"));
    // The failed run says how it ended; a passing run into the folder keeps that aside.
    EXPECT_TRUE(exists("deep/er/out/runEnd.xml"));
    r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "good", "-ExportAllFiles", "deep/er/out"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_FALSE(exists("deep/er/out/runEnd.xml"));
    // A failed test and then a passing one: the passing one's folder holds no error.log.
    r = sensortrim({"-TestCalibration", "A", "-FourSteps", "-UseRawData", "test-bad", "-ExportAllFiles", "t"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_TRUE(exists("t/error.log"));
    r = sensortrim({"-TestCalibration", "A", "-FourSteps", "-UseRawData", "test-good", "-ExportAllFiles", "t"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_FALSE(exists("t/error.log"));
    EXPECT_TRUE(exists("t/LogFile.xml"));
    // Dumps that are the run's own input stay where they are.
    ASSERT_EQ(std::system(("cp -r '" + dir + "/good' '" + dir + "/inplace'").c_str()), 0);
    for (int n = 0; n < 2; ++n) {
        r = sensortrim({"-CalibrateOffline", "AGM", "-UseRawData", "inplace", "-ExportAllFiles", "inplace"});
        EXPECT_EQ(r.exitStatus, 0) << r.out;
    }
    EXPECT_TRUE(exists("inplace/dataDumpGyroscope.csv"));
    EXPECT_TRUE(exists("inplace/resultCalibration.xml"));
}
