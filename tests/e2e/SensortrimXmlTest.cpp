// sensortrim -ExportXml and -ImportXml against the emulated hub.
#include <gtest/gtest.h>

#include <cstdlib>

#include "HubSim.h"

namespace {

const std::string kBin = SENSORTRIM_BIN;
const std::string kBanner = "\nCorvex(R) Tessary Calibration Tool\nVersion: 3.1.0.3426\n";
const std::string kRunTime =
    "Total run time: 0 seconds\nTotal run time (excluding time waiting for user inputs): 0 seconds\n";
const std::string kDone = "\033[01;32mCompleted successfully\n\033[0m";

ProcessResult sensortrim(const HubSim& hub, std::vector<std::string> args) {
    args.insert(args.begin(), kBin);
    ProcessOptions options;
    options.workDir = hub.dir();
    return hub.run(args, options);
}

// Messages of one command id that the tool sent.
std::vector<std::string> sent(const HubSim& hub, const std::string& commandHex) {
    std::vector<std::string> out;
    for (const std::string& m : hub.sentMessages())
        if (m.compare(0, 2, commandHex) == 0)
            out.push_back(m);
    return out;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// A calibration file whose Calibration element holds elements nested levels deep.
std::string deeplyNested(int levels) {
    std::string text = "<?xml version=\"1.0\" ?>\n<TSY>\n<Calibration>";
    for (int i = 0; i < levels; ++i)
        text += "<a>";
    for (int i = 0; i < levels; ++i)
        text += "</a>";
    return text + "</Calibration>\n</TSY>\n";
}

TEST(SensortrimXml, HostileTestingConfigKeepsTheDefaults) {
    // TestingConfig.xml is read by every run from the working folder: one
    // nested too deeply, or a folder of that name, is ignored like a missing one.
    for (const bool folder : {false, true}) {
        HubSim hub(defaultScenario());
        if (folder)
            ASSERT_EQ(std::system(("mkdir '" + hub.dir() + "/TestingConfig.xml'").c_str()), 0);
        else
            writeFile(hub.dir() + "/TestingConfig.xml", deeplyNested(50000));
        const ProcessResult r = sensortrim(hub, {"-ExportXml", "x.xml"});
        EXPECT_EQ(r.signal, 0) << folder;
        EXPECT_EQ(r.exitStatus, 0) << folder << r.out;
        EXPECT_EQ(r.out, kBanner +
                             "Loading calibration data from FW, this might take a while...\n"
                             "Saving original calibration data to file x.xml\n" +
                             kDone + kRunTime);
    }
}

TEST(SensortrimXml, ExportWritesTheFirmwareRecords) {
    HubSim hub(defaultScenario());
    const ProcessResult r = sensortrim(hub, {"-ExportXml", "saved/today/cal.XML"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out, kBanner +
                         "Loading calibration data from FW, this might take a while...\n"
                         "Saving original calibration data to file saved/today/cal.XML\n" +
                         kDone + kRunTime);
    EXPECT_EQ(readFile(hub.dir() + "/saved/today/cal.XML"), readFile(EXAMPLES_DIR "/calibration-default.xml"));
    // The sensor list, one record request per sensor and the lid accelerometer's
    // hinge position; nothing is written.
    EXPECT_EQ(sent(hub, "04").size(), 12u);
    EXPECT_EQ(sent(hub, "04")[3], "0400000000000000000000000004");
    EXPECT_EQ(sent(hub, "04")[1], "0400000073000100010000020000");
    EXPECT_TRUE(sent(hub, "05").empty());
    EXPECT_TRUE(sent(hub, "02").empty());
}

TEST(SensortrimXml, ImportWritesEachRecordThenResetsTheHub) {
    // A device whose records differ from the file: the import puts the file's back.
    HubSim hub(scenarioReplacing("00 00 0c000000 f9ffffff 03000000", "00 00 00000000 00000000 00000000"));
    const ProcessResult r = sensortrim(hub, {"-ImportXml", EXAMPLES_DIR "/calibration-default.xml"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out, kBanner +
                         "Loading calibration data from FW, this might take a while...\n"
                         "Saving calibration data to FW\n" +
                         kDone + kRunTime);
    const std::vector<std::string> writes = sent(hub, "05");
    ASSERT_EQ(writes.size(), 6u);  // five motion records and the light sensor's
    EXPECT_EQ(writes[0],
              "05000000" "7300010001000002" "00000000" "38000000"
              "7300010001000002" "2c00" "00" "01" "02" "00" "2800"
              "00000c000000f9ffffff030000001027000000000000102700000000000010271027010101000000");
    EXPECT_EQ(writes[0].size(), 2u * 76);
    EXPECT_EQ(writes[3].substr(0, 8 + 16 + 16), "05000000" "4102090002000001" "00000000" "1e000000");
    EXPECT_EQ(hub.sentMessages().back(), "02000000");

    // Exporting again gives the file that was imported.
    const ProcessResult again = sensortrim(hub, {"-ExportXml", "back.xml"});
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_EQ(readFile(hub.dir() + "/back.xml"), readFile(EXAMPLES_DIR "/calibration-default.xml"));
}

TEST(SensortrimXml, FailedImportsWriteNothing) {
    HubSim hub(defaultScenario());
    const std::string file = readFile(EXAMPLES_DIR "/calibration-default.xml");
    std::string foreign = file;
    const std::string lid = "InstanceId=\"1\" Flags=\"2\"";
    foreign.replace(foreign.find(lid), lid.size(), "InstanceId=\"2\" Flags=\"2\"");
    writeFile(hub.dir() + "/foreign.xml", foreign);
    std::string unnamed = file;
    unnamed.replace(unnamed.find("SensorTypeId=\"577\""), 18, "SensorTypeId=\"600\"");
    const size_t wn = unnamed.find("<WhiteNoise>100</WhiteNoise>");
    unnamed.replace(wn, 28, "<OEMCustomData DataLength=\"1\">64</OEMCustomData>");
    writeFile(hub.dir() + "/unnamed.xml", unnamed);
    writeFile(hub.dir() + "/broken.xml", file.substr(0, file.size() / 2));
    writeFile(hub.dir() + "/empty.xml", "");
    writeFile(hub.dir() + "/deep.xml", deeplyNested(50000));
    ASSERT_EQ(std::system(("mkdir '" + hub.dir() + "/dir.xml'").c_str()), 0);

    struct Case {
        std::string path;
        std::string out;
    };
    const Case cases[] = {
        {"foreign.xml",
         "Error:\nA matching Accelerometer_2 physical sensor was not found on the platform in order to write the "
         "calibration data of 7300010001000202\n"},
        {"unnamed.xml",
         "Error:\nA matching physical sensor was not found for writing the calibration data of 5802090002000001\n"},
        {"broken.xml", "Error:\nFailed to load XML input file. Error reading end tag. Line:85\n"},
        {"empty.xml", "Error:\nFailed to load XML input file. Error document empty. Line:0\n"},
        {"missing.xml", "Error:\nFailed to open XML input file\n"},
        {"dir.xml", "Error:\nFailed to open XML input file\n"},
        {"deep.xml", "Error:\nFailed to load XML input file. Elements are nested too deeply. Line:3\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = sensortrim(hub, {"-ImportXml", c.path});
        EXPECT_EQ(r.exitStatus, 255) << c.path;
        EXPECT_EQ(r.out, kBanner + c.out) << c.path;
    }
    EXPECT_TRUE(sent(hub, "05").empty());
    EXPECT_TRUE(sent(hub, "02").empty());
}

// A light calibration of a sensor without a record of its own writes its
// multiplier alone (one step, no vendor data); imported, the multiplier goes
// into the sensor's record on the hub, whose steps stay; a hub without one
// gets nothing.
TEST(SensortrimXml, ALightCalibrationsOwnResultImportsBack) {
    // The shipped light dump chains as a simulated one does: its offline
    // result imports into the default hub, whose light sensor it carries.
    HubSim shipped(defaultScenario());
    ProcessResult r = sensortrim(shipped, {"-CalibrateOffline", "ALS", "-Auto", EXAMPLES_DIR "/als-levels.txt",
                                           "-UseRawData", EXAMPLES_DIR "/dumps/als", "-ExportAllFiles", "out"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    r = sensortrim(shipped, {"-ImportXml", "out/resultCalibration.xml"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(sent(shipped, "05").size(), 1u);

    HubSim hub(defaultScenario());
    r = runProcess({DEVICESIM_BIN, "--out", hub.dir() + "/als", "--flow", "als"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    writeFile(hub.dir() + "/levels.txt", "values=100,500,1000\n");
    r = sensortrim(hub, {"-CalibrateOffline", "ALS", "-Auto", "levels.txt", "-UseRawData", "als", "-ExportAllFiles",
                         "out"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    const std::string result = readFile(hub.dir() + "/out/resultCalibration.xml");
    EXPECT_NE(result.find("<Multiplier Divider=\"100\">200</Multiplier>\n                <Steps NumOfSteps=\"1\">"),
              std::string::npos)
        << result;
    EXPECT_EQ(result.find("VendorData"), std::string::npos) << result;

    r = sensortrim(hub, {"-ImportXml", "out/resultCalibration.xml"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    const std::vector<std::string> writes = sent(hub, "05");
    ASSERT_EQ(writes.size(), 1u);
    // Multiplier 200, divider 100, then the hub's own three steps.
    EXPECT_EQ(writes[0].substr(writes[0].size() - 36), "0100c800640364006400f4016400e8036400");

    std::string bare = defaultScenario();
    const size_t light = bare.find("<Calibration>01 00 6400 64 03");
    bare.erase(light, bare.find("</Calibration>", light) + 14 - light);
    HubSim without(bare);
    writeFile(without.dir() + "/light.xml", result);
    r = sensortrim(without, {"-ImportXml", "light.xml"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out, kBanner +
                         "Loading calibration data from FW, this might take a while...\n"
                         "Error:\nThe light calibration of 4100020001000002 is a multiplier without light steps, and "
                         "the sensor has no calibration record on the device to apply it to\n");
    EXPECT_TRUE(sent(without, "05").empty());
}

TEST(SensortrimXml, FirmwareRefusalsAreReported) {
    struct Case {
        std::string fault;
        std::vector<std::string> args;
        std::string tail;
    };
    const Case cases[] = {
        {"<Fault command=\"5\" status=\"5\"/>", {"-ImportXml", EXAMPLES_DIR "/calibration-default.xml"},
         "Saving calibration data to FW\nSMHI Error: Set calibration data command failed due to invalid parameter\n"},
        {"<Fault command=\"5\" status=\"1\"/>", {"-ImportXml", EXAMPLES_DIR "/calibration-default.xml"},
         "Saving calibration data to FW\nSMHI Error: Set calibration data command failed\n"},
        {"<Fault command=\"2\" status=\"2\"/>", {"-ImportXml", EXAMPLES_DIR "/calibration-default.xml"},
         "Saving calibration data to FW\nSMHI Error: Reset TSY command failed\n"},
        {"<Fault command=\"4\" property=\"2\" status=\"2\"/>", {"-ExportXml", "x.xml"},
         "SMHI Error: Enumerate sensors command failed\n"},
        {"<Fault connect=\"refuse\"/>", {"-ExportXml", "x.xml"}, "SMHI Error: error in IOCTL_DOXI_CONNECT_CLIENT\n"},
    };
    for (const Case& c : cases) {
        HubSim hub(scenarioWith("<Faults>" + c.fault + "</Faults>"));
        const ProcessResult r = sensortrim(hub, c.args);
        EXPECT_EQ(r.exitStatus, 255) << c.fault;
        ASSERT_GE(r.out.size(), c.tail.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - c.tail.size()), c.tail) << c.fault;
    }
}

TEST(SensortrimXml, WhatExportWritesImportReadsBack) {
    // The whole range of a record's fields, exported and imported again on a
    // hub: the firmware gets back the bytes it held.
    struct Case {
        std::string from;
        std::string to;
        std::string written;  // the record the import writes, as hex
    };
    const std::string gyro = "01 00 64000000 00000000 00000000";
    const std::string acc = "00 00 0c000000 f9ffffff 03000000 1027 0000 0000 0000 1027 0000 0000 0000 1027 1027 01010100 0000";
    const Case cases[] = {
        // A white noise of 2^31 and the largest one, in the unsigned 32 bits it has.
        {gyro, "01 00 00000080 00000000 00000000", "010000000080"},
        {gyro, "01 00 ffffffff 00000000 00000000", "0100ffffffff"},
        // A scale factor of 40000 and the largest, in its unsigned 16 bits.
        {acc, "00 00 0c000000 f9ffffff 03000000 1027 0000 0000 0000 1027 0000 0000 0000 1027 409c 01010100 0000",
         "409c010101000000"},
        {acc, "00 00 0c000000 f9ffffff 03000000 1027 0000 0000 0000 1027 0000 0000 0000 1027 ffff 01010100 0000",
         "ffff010101000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        HubSim hub(scenarioReplacing(c.from, c.to));
        ProcessResult r = sensortrim(hub, {"-ExportXml", "x.xml"});
        ASSERT_EQ(r.exitStatus, 0) << r.out;
        EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
        r = sensortrim(hub, {"-ImportXml", "x.xml"});
        ASSERT_EQ(r.exitStatus, 0) << r.out;
        bool found = false;
        for (const std::string& m : sent(hub, "05"))
            found = found || m.find(c.written) != std::string::npos;
        EXPECT_TRUE(found) << c.written;
    }
}

TEST(SensortrimXml, AnOddRecordCostsNoOtherSensorItsBackup) {
    // A record read from the firmware that does not fit its sensor is saved
    // as the firmware holds it, with every other sensor's; the console says
    // it will not import back and why, and an import of the file refuses it
    // naming the sensor (and the element where it has one).
    struct Case {
        std::string from;
        std::string to;
        std::string warning;
        std::string importError;  // empty: the file imports
    };
    const std::string base = "00 00 0c000000 f9ffffff 03000000 1027 0000 0000 0000 1027 0000 0000 0000 1027 1027 01010100 0000";
    const Case cases[] = {
        // 39 bytes: one short of a static record.
        {base, base.substr(0, base.size() - 2), "will not import back: Invalid calibration data size\n",
         "Invalid calibration data size\nSensor: 7300010001000002, OEMCustomData. Line: "},
        // An axis-mapping field with bits "10" (-2), exported as decoded.
        {base, "00 00 0c000000 f9ffffff 03000000 1027 0000 0000 0000 1027 0000 0000 0000 1027 1027 02010100 0000",
         "will not import back: its axis mapping reads -2 at XX, which an import refuses\n",
         "XML parsing error. Invalid value for axis element XX. Line: "},
        // An OEM record of one byte: no version to write; it comes back as two.
        {base, "80", "will not import back: the firmware holds 1 byte, no version: it imports back as 2 bytes\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        HubSim hub(scenarioReplacing(c.from, c.to));
        ProcessResult r = sensortrim(hub, {"-ExportXml", "x.xml"});
        EXPECT_EQ(r.exitStatus, 0) << r.out;
        EXPECT_NE(r.out.find("Warning: the calibration data of Accelerometer 7300010001000002 is saved as the firmware "
                             "holds it but " + c.warning),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("Completed successfully"), std::string::npos) << r.out;
        const std::string x = readFile(hub.dir() + "/x.xml");
        // Every sensor of the default hub is in the backup, the odd one too.
        EXPECT_EQ(occurrences(x, "<Sensor "), occurrences(readFile(EXAMPLES_DIR "/calibration-default.xml"), "<Sensor "))
            << x;
        EXPECT_NE(x.find("SensorTypeId=\"115\" SubTypeId=\"1\" VendorId=\"1\" InstanceId=\"0\""), std::string::npos);
        r = sensortrim(hub, {"-ImportXml", "x.xml"});
        if (c.importError.empty()) {
            EXPECT_EQ(r.exitStatus, 0) << r.out;
        } else {
            EXPECT_EQ(r.exitStatus, 255) << r.out;
            EXPECT_NE(r.out.find("Error:\n" + c.importError), std::string::npos) << r.out;
        }
    }

    // A sensor mounted the other way round (-1 on two axes) is no odd
    // record: it is saved without a word and imports back.
    {
        HubSim turned(scenarioReplacing(base, base.substr(0, base.size() - 13) + "03030100 0000"));
        ProcessResult r = sensortrim(turned, {"-ExportXml", "t.xml"});
        EXPECT_EQ(r.exitStatus, 0) << r.out;
        EXPECT_EQ(r.out.find("Warning"), std::string::npos) << r.out;
        EXPECT_NE(readFile(turned.dir() + "/t.xml").find("<XX>-1</XX>"), std::string::npos);
        r = sensortrim(turned, {"-ImportXml", "t.xml"});
        EXPECT_EQ(r.exitStatus, 0) << r.out;
    }

    // A sensor whose record the firmware does not give (a cut answer) has
    // none to back up, and the console names it and says why.
    HubSim cut(scenarioWith("<Faults><Fault command=\"4\" property=\"0\" response=\"short\" length=\"40\"/></Faults>"));
    ProcessResult r = sensortrim(cut, {"-ExportXml", "y.xml"});
    EXPECT_EQ(r.exitStatus, 0);
    // Only the short dynamic record fits in 40 bytes.
    const std::string y = readFile(cut.dir() + "/y.xml");
    EXPECT_EQ(occurrences(y, "<Sensor "), 1u);
    EXPECT_NE(y.find("SensorTypeId=\"577\""), std::string::npos);
    EXPECT_EQ(occurrences(r.out, " is not saved: "),
              occurrences(readFile(EXAMPLES_DIR "/calibration-default.xml"), "<Sensor ") - 1)
        << r.out;
    EXPECT_NE(r.out.find("Warning: the calibration data of Accelerometer 7300010001000002 is not saved: "),
              std::string::npos)
        << r.out;

    // An odd record whose second read fails: that sensor is named too,
    // with both reasons, and every other sensor is saved.
    std::string odd = scenarioReplacing(base, cases[0].to);
    odd.insert(odd.rfind("</HubScenario>"),
                "<Faults><Fault command=\"4\" property=\"0\" skip=\"1\" times=\"1\" response=\"short\" "
                "length=\"11\"/></Faults>");
    HubSim again(odd);
    r = sensortrim(again, {"-ExportXml", "z.xml"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_NE(r.out.find("Warning: the calibration data of Accelerometer 7300010001000002 is not saved: Invalid "
                         "calibration data size; read again: "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(occurrences(r.out, " is not saved: "), 1u) << r.out;
    EXPECT_EQ(occurrences(readFile(again.dir() + "/z.xml"), "<Sensor "),
              occurrences(readFile(EXAMPLES_DIR "/calibration-default.xml"), "<Sensor ") - 1);
}

TEST(SensortrimXml, NoHubAndUnwritablePaths) {
    HubSim hub(scenarioWith("<Nodes>/dev/keb-trace</Nodes>"));
    ProcessResult r = sensortrim(hub, {"-ExportXml", "x.xml"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out, kBanner + "SMHI Error: Cannot establish a handle to the DOXI driver\n");

    HubSim ok(defaultScenario());
    writeFile(ok.dir() + "/afile", "x");
    r = sensortrim(ok, {"-ExportXml", "afile/x.xml"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out.substr(r.out.rfind("Error:")), "Error:\nFailed to create path afile/x.xml\n");
}

}  // namespace
