// The hub utility as service engineers run it, against the emulated hub.
#include <gtest/gtest.h>

#include <cstdlib>

#include "HubSim.h"

namespace {

const std::string kBin = HUBCTL_BIN;
const std::string kBanner = "Corvex(R) Tessary Utility Tool\nVersion: 3.1.0.3426\n\n";
const std::string kRed = "\033[31m", kGreen = "\033[32m", kYellow = "\033[33m", kReset = "\033[0m";
const std::string kSucceeded = "\n" + kGreen + "Operation succeeded" + kReset + "\n";
const std::string kFailed = "\n" + kRed + "Operation failed" + kReset + "\n";
const std::string kInvalid = kRed + "err_code:8216, Invalid command-line argument/s" + kReset + "\n";

ProcessResult hubctl(const HubSim& hub, std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), kBin);
    ProcessOptions options;
    options.workDir = hub.dir();
    options.input = input;
    return hub.run(args, options);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Hubctl, GeneralCommands) {
    HubSim hub(defaultScenario());
    struct Case {
        std::vector<std::string> args;
        std::string start;  // what the output starts with after the banner
        int status;
    };
    const Case cases[] = {
        {{"-VER"}, "3.1.0.3426\n", 0},
        {{"-ver", "-Verbose"}, "3.1.0.3426\n", 0},
        {{"-h"}, "Usage: hubctl [-command] [-arguments] [-options]\nCommand includes:\n\t -EXP     ", 0},
        {{"-?"}, "Usage: hubctl [-command] [-arguments] [-options]\n", 0},
        {{"-help"}, "Usage: hubctl [-command] [-arguments] [-options]\n", 0},
        {{}, "Usage: hubctl [-command] [-arguments] [-options]\n", 0},
        {{"-EXP"}, "hubctl -h\nhubctl -BIST -Test 3 -Verbose -Page\nhubctl -BIST -Test 1 -LUID <LUID1,LUID2...>\n", 0},
        {{"-ERRLIST"}, "\nAvailable codes:\n\n0 : Success\n", 0},
        {{"-hub"}, kInvalid + "Usage: hubctl [-command]", 1},
        {{"-VER", "-INFO"}, kInvalid + "Usage: hubctl [-command]", 1},
        {{"-Verbose", "-INFO"}, kInvalid + "Usage: hubctl [-command]", 1},
        {{"INFO"}, kInvalid + "Usage: hubctl [-command]", 1},
        {{"-BIST", "-Verbose", "-Test", "3"}, kInvalid + "Usage: hubctl -BIST [-arguments] [-options]\n", 1},
        {{"-BIST", "-Test", "3", "-All"}, kInvalid + "Usage: hubctl -BIST", 1},
        {{"-INFO", "-EXP"}, "hubctl -INFO -Page\nhubctl -INFO -BOM\n", 0},
        {{"-I2C", "-EXP"}, "hubctl -I2C -Calibrate 1\nhubctl -I2C -Calibrate 1 -UpdatePDT\n", 0},
        {{"-PDT"}, "Usage: hubctl -PDT [-arguments] [-options]\nArguments include:\n", 0},
        {{"-I2C", "-h"}, "Usage: hubctl -I2C [-arguments] [-options]\nArguments include:\n", 0},
        {{"-BIST", "-h", "-LUID", "0073000100010002"}, kInvalid + "Usage: hubctl -BIST", 1},
    };
    for (const Case& c : cases) {
        const ProcessResult r = hubctl(hub, c.args);
        EXPECT_EQ(r.exitStatus, c.status) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(r.out.substr(0, kBanner.size() + c.start.size()), kBanner + c.start)
            << (c.args.empty() ? "" : c.args[0]);
    }
    EXPECT_TRUE(hub.sentMessages().empty());
}

TEST(Hubctl, InfoReportsFirmwarePdtAndSensors) {
    HubSim hub(defaultScenario());
    const ProcessResult r = hubctl(hub, {"-info"});
    EXPECT_EQ(r.exitStatus, 0);
    const std::string head = kBanner +
                             "FW Information : \nFW State: responding\nFW Status: 0x0F - sensors apps running\n"
                             "FW Version: 3.1.0.3426\n\nPDT Information : \nPDT version: 2\n"
                             "Vendor defined data version: 1\n\nSensors Information : \n"
                             "Sensor LUID: 0073000100010002\nSensor Name: Motion Accelerometer 3D\nVendor: ST Micro\n"
                             "Sensor Model: LSM303D\nBus Type: I2C\nBus Number: 1\nBus Address: 19\n"
                             "Calibration Status: set\n\n";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    EXPECT_TRUE(contains(r.out, "Sensor LUID: 0242000800040001\nSensor Name: Corvex Uncalibrated Magnetometer 3D\n"
                                "Vendor: AKM\nSensor Model: AK09911C\nBus Type: I2C\nBus Number: 2\nBus Address: c\n"
                                "Calibration Status: not set\n"));
    EXPECT_TRUE(contains(r.out, "Sensor LUID: 0203000000000000\nSensor Name: Corvex Orientation Rotation Matrix\n"
                                "Vendor: Corvex\nSensor Model: 0\nBus Type: no BUS entry\nCalibration Status: not set\n"));
    EXPECT_FALSE(contains(r.out, "Operation"));
    // The state probe and the version, each a get-version request of its
    // own, PDT, sensor list, then bus and calibration per sensor.
    EXPECT_EQ(hub.sentMessages().size(), 4u + 2 * 10);
    EXPECT_EQ(hub.sentMessages()[0], "01000000");
    EXPECT_EQ(hub.sentMessages()[1], "01000000");
    EXPECT_EQ(hub.sentMessages()[3], "0400000000000000000000000002000000");
}

TEST(Hubctl, InfoFailures) {
    struct Case {
        std::string extra;
        std::vector<std::string> expected;
        std::vector<std::string> absent;
        int versionRequests;  // get-version requests, each in an exchange of its own (-1: not counted)
    };
    const std::string unexpected =
        "err_code:8203, Unexpected result in Corvex(R) Tessary response, please contact Corvex support";
    const Case cases[] = {
        // No firmware to ask: no version line either.
        {"<Nodes>/dev/keb-trace</Nodes>",
         {kRed + "FW State: not responding, err_code:8192, General error" + kReset,
          kRed + "Fail to read Corvex(R) Tessary FW Status register" + kReset, kFailed},
         {"FW Version"},
         -1},
        {"<Faults><Fault command=\"1\" response=\"none\"/></Faults>",
         {kRed + "FW State: not responding, err_code:8199, Transmition error to Corvex(R) Tessary" + kReset, kFailed},
         {"FW Version"},
         1},
        // The firmware answers, if not as the version needs: it responds, and
        // the version line says what was wrong with the answer.
        {"<Faults><Fault command=\"1\" response=\"short\" length=\"11\"/></Faults>",
         {"FW State: responding\n", kRed + "FW Version: " + unexpected + kReset, kFailed},
         {"not responding"},
         2},
        {"<Faults><Fault command=\"1\" response=\"long\" length=\"13\"/></Faults>",
         {"FW State: responding\n", kRed + "FW Version: " + unexpected + kReset},
         {"not responding"},
         2},
        {"<Faults><Fault command=\"1\" status=\"1\"/></Faults>",
         {"FW State: responding\n", kRed + "FW Version: " + unexpected + kReset},
         {"not responding"},
         2},
        {"<Firmware version=\"1.2.3.4\" statusRegister=\"0x0\"/>",
         {"FW Status: 0x00 - After reset\n\nFW Version: 1.2.3.4\n"},
         {},
         2},
        {"<Firmware statusRegister=\"0xA000\"/>", {kRed + "FW Status: 0x0A - err_code:8192, General error" + kReset}, {}, -1},
        {"<Firmware statusRegisterReadable=\"false\"/>", {"FW Status: 0x00 - After reset\n"}, {}, -1},
        {"<Firmware statusRegister=\"0xFFFFFFFF\"/>",
         {kRed + "Fail to read Corvex(R) Tessary FW Status register" + kReset, kFailed},
         {},
         -1},
    };
    for (const Case& c : cases) {
        std::string xml = defaultScenario();
        if (c.extra.rfind("<Firmware", 0) == 0) {
            const size_t from = xml.find("<Firmware");
            xml.replace(from, xml.find("/>", from) + 2 - from, c.extra);
        } else {
            xml.insert(xml.rfind("</HubScenario>"), c.extra);
        }
        HubSim hub(xml);
        const ProcessResult r = hubctl(hub, {"-INFO"});
        for (const std::string& e : c.expected)
            EXPECT_TRUE(contains(r.out, e)) << c.extra << "\n" << r.out;
        for (const std::string& a : c.absent)
            EXPECT_FALSE(contains(r.out, a)) << c.extra << "\n" << r.out;
        if (c.versionRequests >= 0) {
            int requests = 0;
            for (const std::string& m : hub.sentMessages())
                requests += m == "01000000";
            EXPECT_EQ(requests, c.versionRequests) << c.extra;
        }
    }
}

TEST(Hubctl, BillOfMaterials) {
    HubSim hub(defaultScenario());
    const ProcessResult r = hubctl(hub, {"-INFO", "-BOM"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kBanner + "BOM Information: \n"
                               "Sensor LUID: \t0073000100010002\tSensor Name: \tMotion Accelerometer 3D\t\t\t"
                               "Sensor Model: \tST Micro, LSM303D\n"
                               "Sensor LUID: \t0073000100010102\tSensor Name: \tMotion Accelerometer 3D\t\t\t"
                               "Sensor Model: \tST Micro, LSM303D\n"
                               "Sensor LUID: \t0076000900020002\tSensor Name: \tMotion Gyrometer 3D\t\t\t"
                               "Sensor Model: \tBosch, BMG160\n"
                               "Sensor LUID: \t020F000800040002\tSensor Name: \tCorvex Motion Magnetometer 3D\t\t"
                               "Sensor Model: \tAKM, AK09911C\n"
                               "Sensor LUID: \t0041000200010002\tSensor Name: \tLight Ambientlight\t\t\t"
                               "Sensor Model: \tCapella, CM32181\n");
    HubSim empty(scenarioWith("").replace(defaultScenario().find("<Sensors>"),
                                          defaultScenario().find("</Sensors>") + 10 - defaultScenario().find("<Sensors>"),
                                          ""));
    EXPECT_EQ(hubctl(empty, {"-INFO", "-BOM"}).out, kBanner + "BOM Information: \n\tno physical sensors on device\n");
}

TEST(Hubctl, SelfTests) {
    struct Case {
        std::string selfTest;
        std::vector<std::string> args;
        std::string expected;
        int status;
    };
    const std::string acc = "Sensor LUID: \t0073000100010002\tSensor Model: \tST Micro, Motion Accelerometer 3D, LSM303D\t\t";
    const Case cases[] = {
        {"<SelfTest runningPolls=\"0\"><Result luid=\"7300010001000002\" code=\"0\"/></SelfTest>",
         {"-BIST", "-All"},
         "Self Test:\nTest Level: 3 (Sensors BIST, Calibration, Connectivity, Configuration)\n"
         "Result: test passed for all sensors\n" + acc + "Result: success\n" + kSucceeded,
         0},
        {"<SelfTest runningPolls=\"0\"><Result luid=\"7300010001000002\" code=\"1\"/></SelfTest>",
         {"-BIST", "-Test", "0"},
         "Self Test:\nTest Level: 0 (Configuration)\nResult: test failed for sensors:\n" + kRed + acc +
             "Result: err_code:1, error: test failed" + kReset + "\n" + kFailed,
         1},
        // A word that could not be tested fails the whole test.
        {"<SelfTest runningPolls=\"0\"><Result luid=\"7300010001000002\" code=\"0\"/></SelfTest>",
         {"-BIST", "-LUID", "0073000100010002,12345"},
         "Self Test:\nTest Level: 3 (Sensors BIST, Calibration, Connectivity, Configuration)\n"
         "Result: test failed for sensors:\n" + acc + "Result: success\n" + kRed +
             "Sensor LUID: \t12345\t\t\t\t\t\t\tResult: err_code:8223, Invalid sensor luid format" + kReset + "\n" +
             kFailed,
         1},
        {"<SelfTest runningPolls=\"5000\"/>", {"-BIST", "-Test", "1"},
         "\rPlease wait.   \rPlease wait..  \rPlease wait... \rPlease wait....", 1},
        // Still running under status 0: polled as long, without the animation of status 3.
        {"<SelfTest runningPolls=\"5000\" runningStatus=\"0\"/>", {"-BIST", "-Test", "1"},
         kBanner + "Self Test:\nTest Level: 1 (Connectivity, Configuration)\nResult: test failed for sensors:\n" + kRed +
             "err_code:8202, Corvex(R) Tessary timeout occurred" + kReset + "\n" + kFailed,
         1},
        {"<SelfTest runningPolls=\"0\"/>", {"-BIST", "-Test", "33"}, kInvalid, 1},
        {"<SelfTest runningPolls=\"0\"/>", {"-BIST", "-Test", "7"},
         "Self Test:\nTest Level: Invalid level\n" + kRed + "err_code:8216, Invalid command-line argument/s" + kReset +
             "\n" + kFailed,
         1},
        // The firmware's overall verdict without records: 2 failed, 1 warning, 0 passed.
        {"<SelfTest runningPolls=\"0\" overall=\"2\"/>", {"-BIST", "-LUID", "0073000100010002"},
         "Result: test failed for sensors:\n" + kRed + acc + "Result: err_code:1, error: test failed" + kReset + "\n" +
             kFailed,
         1},
        {"<SelfTest runningPolls=\"0\" overall=\"1\"/>", {"-BIST", "-LUID", "0073000100010002"},
         "Result: test warning for sensors:\n" + kYellow + acc + "Result: warning: test warning" + kReset + "\n" +
             kSucceeded,
         0},
        {"<SelfTest runningPolls=\"0\" overall=\"0\"/>", {"-BIST", "-LUID", "0073000100010002"},
         "Result: test passed for all sensors\n" + acc + "Result: success\n" + kSucceeded, 0},
        {"<SelfTest runningPolls=\"0\" overall=\"2\"/>", {"-BIST"},
         "Configuration)\nResult: test failed for sensors:\n" + kFailed, 1},
        // Result codes 2 and 5 are warnings, the run succeeds; 3 is a failure.
        {"<SelfTest runningPolls=\"0\" overall=\"1\"><Result luid=\"7300010001000002\" code=\"5\"/></SelfTest>",
         {"-BIST", "-LUID", "0073000100010002"},
         "Result: test warning for sensors:\n" + kRed + acc +
             "Result: err_code:5, warning: missing optional reporter" + kReset + "\n" + kSucceeded,
         0},
        {"<SelfTest runningPolls=\"0\" overall=\"1\"><Result luid=\"7300010001000002\" code=\"2\"/></SelfTest>",
         {"-BIST", "-LUID", "0073000100010002"}, "Result: test warning for sensors:\n", 0},
        {"<SelfTest runningPolls=\"0\" overall=\"1\"><Result luid=\"7300010001000002\" code=\"3\"/></SelfTest>",
         {"-BIST", "-LUID", "0073000100010002"},
         "Result: test failed for sensors:\n" + kRed + acc + "Result: err_code:3, error: sensor not active" + kReset +
             "\n" + kFailed,
         1},
        // Records that all passed under a failed overall verdict: failed.
        {"<SelfTest runningPolls=\"0\" overall=\"2\"><Result luid=\"7300010001000002\" code=\"0\"/></SelfTest>",
         {"-BIST", "-All"}, "Result: test failed for sensors:\n" + acc + "Result: test passed\n" + kFailed, 1},
    };
    for (const Case& c : cases) {
        std::string xml = defaultScenario();
        const size_t from = xml.find("<SelfTest");
        xml.replace(from, xml.find("</SelfTest>") + 11 - from, c.selfTest);
        HubSim hub(xml);
        const ProcessResult r = hubctl(hub, c.args);
        EXPECT_EQ(r.exitStatus, c.status) << c.args[1];
        EXPECT_TRUE(contains(r.out, c.expected)) << c.args[1] << "\n" << r.out;
    }
}

TEST(Hubctl, SelfTestThatCouldNotRunIsNeverPassed) {
    const std::string heading =
        "Self Test:\nTest Level: 3 (Sensors BIST, Calibration, Connectivity, Configuration)\n"
        "Result: test failed for sensors:\n";
    struct Case {
        std::string fault;
        std::string code;
    };
    const Case cases[] = {
        {"<Fault command=\"3\" status=\"2\" times=\"1\"/>", "err_code:2, SMHI command failed"},
        {"<Fault command=\"3\" response=\"none\"/>", "err_code:8199, Transmition error to Corvex(R) Tessary"},
        {"<Fault command=\"3\" response=\"close\"/>", "err_code:8203, "},
        {"<Fault command=\"3\" response=\"short\" length=\"2\"/>", "err_code:8203, "},
        {"<Fault command=\"3\" status=\"9\" times=\"1\"/>", "err_code:9" + kReset + "\n"},
    };
    for (const Case& c : cases) {
        HubSim hub(scenarioWith("<Faults>" + c.fault + "</Faults>"));
        const ProcessResult r = hubctl(hub, {"-BIST"});
        EXPECT_EQ(r.exitStatus, 1) << c.fault;
        EXPECT_TRUE(contains(r.out, heading + kRed + c.code)) << c.fault << "\n" << r.out;
        EXPECT_FALSE(contains(r.out, "FFFFFFFFFFFFFFFF")) << r.out;
        EXPECT_FALSE(contains(r.out, "passed")) << r.out;
        EXPECT_TRUE(contains(r.out, kFailed)) << r.out;
    }
}

// A scenario with the given number of accelerometers, each passing its self test.
std::string manySensors(int count) {
    std::string sensors = "<Sensors><Group header=\"01 00 00 00 00 00 00 00 00 00 00\">";
    std::string results = "<SelfTest runningPolls=\"0\">";
    for (int i = 0; i < count; ++i) {
        const std::string id = "type=\"0x0073\" vendor=\"1\" subType=\"1\" instance=\"" + std::to_string(i) +
                               "\" flags=\"2\"";
        sensors += "<Sensor " + id + "/>";
        results += "<Result " + id + " code=\"0\"/>";
    }
    std::string xml = defaultScenario();
    size_t from = xml.find("<Sensors>");
    xml.replace(from, xml.find("</Sensors>") + 10 - from, sensors + "</Group></Sensors>");
    from = xml.find("<SelfTest");
    xml.replace(from, xml.find("</SelfTest>") + 11 - from, results + "</SelfTest>");
    return xml;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(Hubctl, LongListsArePrintedWhole) {
    HubSim hub(manySensors(100));
    ProcessResult r = hubctl(hub, {"-BIST"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(count(r.out, "Sensor LUID: \t"), 100u);
    EXPECT_EQ(count(r.out, "Result: success\n"), 100u);
    EXPECT_TRUE(contains(r.out, "0073000100016302\tSensor Model:")) << r.out;  // the last one, instance 99
    r = hubctl(hub, {"-INFO", "-BOM"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(count(r.out, "Sensor LUID: \t"), 100u);
    EXPECT_TRUE(contains(r.out, "0073000100016302\tSensor Name: \tMotion Accelerometer 3D\t\t\t"
                                "Sensor Model: \tST Micro, LSM303D\n"));
}

TEST(Hubctl, SelfTestTimeoutAndMasks) {
    std::string xml = defaultScenario();
    const size_t from = xml.find("<SelfTest");
    xml.replace(from, xml.find("</SelfTest>") + 11 - from, "<SelfTest runningPolls=\"5000\"/>");
    HubSim hub(xml);
    const ProcessResult r = hubctl(hub, {"-BIST", "-Test", "2", "-LUID", "0073000100010002"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.out, "Result: err_code:8202, Corvex(R) Tessary timeout occurred")) << r.out;
    const auto sent = hub.sentMessages();
    ASSERT_EQ(sent.size(), 1u + 1 + 1000);
    EXPECT_EQ(sent[1], "030000007300010001000002000700");
    EXPECT_EQ(sent[2], "030000007300010001000002010700");
}

TEST(Hubctl, NoSensorsForBist) {
    std::string xml = defaultScenario();
    const size_t from = xml.find("<Sensors>");
    xml.replace(from, xml.find("</Sensors>") + 10 - from, "");
    HubSim hub(xml);
    const ProcessResult r = hubctl(hub, {"-BIST"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.out, kRed + "err_code:8227, Could not execute BIST: no sensors configured on the device. "
                                       "Please check the PDT configuration" + kReset));
}

TEST(Hubctl, PlatformDescriptorTable) {
    HubSim hub(defaultScenario());
    std::string image(3990, '\x5a');
    writeFile(hub.dir() + "/table.BIN", image);
    writeFile(hub.dir() + "/big.bin", std::string(3991, 'x'));
    writeFile(hub.dir() + "/empty.bin", "");
    writeFile(hub.dir() + "/table.bin.txt", "x");
    writeFile(hub.dir() + "/table.txt", "x");
    ASSERT_EQ(system(("mkdir '" + hub.dir() + "/dir.bin'").c_str()), 0);
    const std::string longName = std::string(5000, 'n') + ".bin";
    const std::string kExtension = "err_code:8219, Invalid PDT file extension, PDT format is xxx.bin";
    const std::string kLength = "err_code:8218, Invalid PDT file length";
    const std::string kFile = "err_code:8217, Failed to read or write file";
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const Case cases[] = {
        {{"-PDT", "-SetPDT", "table.BIN"}, "Set PDT: Success\nReset TSY: Success\n" + kSucceeded, 0},
        {{"-PDT", "-GetPDT", "back.bin", "-Verbose"},
         "Sending GetPDT command to FW\nSaving PDT file to back.bin\nPDT file was saved successfully\n"
         "Get PDT: Success\n" + kSucceeded,
         0},
        {{"-PDT", "-SetPDT", "table.bin.txt"}, kRed + "Set PDT: " + kExtension + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-SetPDT", "table.txt"}, kRed + "Set PDT: " + kExtension + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-GetPDT", "x.txt"}, kRed + "Get PDT: " + kExtension + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-SetPDT", "big.bin"}, kRed + "Set PDT: " + kLength + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-SetPDT", "empty.bin"}, kRed + "Set PDT: " + kLength + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-SetPDT", "missing.bin"}, kRed + "Set PDT: " + kFile + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-SetPDT", "dir.bin"}, kRed + "Set PDT: " + kFile + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-SetPDT", longName}, kRed + "Set PDT: " + kFile + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-GetPDT", "dir.bin"}, kRed + "Get PDT: " + kFile + kReset + "\n" + kFailed, 1},
        {{"-PDT", "-GetPDT", "nodir/x.bin"}, kRed + "Get PDT: " + kFile + kReset + "\n" + kFailed, 1},
    };
    for (const Case& c : cases) {
        const ProcessResult r = hubctl(hub, c.args);
        EXPECT_EQ(r.exitStatus, c.status) << c.args[2];
        EXPECT_EQ(r.out, kBanner + c.out) << c.args[2];
    }
    EXPECT_EQ(readFile(hub.dir() + "/back.bin"), image);
    const auto sent = hub.sentMessages();
    ASSERT_EQ(sent.size(), 5u);  // set, reset, then three gets: nothing is sent for a bad file
    EXPECT_EQ(sent[0].substr(0, 40), "05000000000000000000000003000000960f0000");
}

TEST(Hubctl, I2cCalibration) {
    HubSim hub(defaultScenario());
    ProcessResult r = hubctl(hub, {"-I2C", "-Calibrate", "0"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kBanner + "std       hcnt = 390\t lcnt = 460\nfast      hcnt = 60\t lcnt = 150\n"
                               "Calibrate I2C bus 0: Success\n" + kSucceeded);
    r = hubctl(hub, {"-I2C", "-Calibrate", "2", "-UpdatePDT"});
    EXPECT_TRUE(contains(r.out, "Calibrate I2C bus 2, save to PDT and reset TSY: Success\n"));
    r = hubctl(hub, {"-I2C", "-Calibrate", "3"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(hub.sentMessages(), (std::vector<std::string>{"100000000000", "100000000102", "02000000"}));

    HubSim faulty(scenarioWith("<Faults><Fault command=\"16\" response=\"short\" length=\"10\"/></Faults>"));
    r = hubctl(faulty, {"-I2C", "-Calibrate", "1"});
    EXPECT_EQ(r.out, kBanner + kRed +
                         "Calibrate I2C bus 1: err_code:8203, Unexpected result in Corvex(R) Tessary response, please "
                         "contact Corvex support" + kReset + "\n" + kFailed);
}

TEST(Hubctl, NoAnswerWithinTheTimeout) {
    HubSim hub(scenarioWith("<Faults><Fault command=\"16\" response=\"none\"/></Faults>"));
    const ProcessResult r = hubctl(hub, {"-I2C", "-Calibrate", "1"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(contains(r.out, "err_code:8199, Transmition error to Corvex(R) Tessary"));
}

TEST(Hubctl, PagingAndDebugLines) {
    HubSim hub(defaultScenario());
    const ProcessResult r = hubctl(hub, {"-INFO", "-Page"}, "\n\n\n\n\n\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(contains(r.out, "press any key\n"));
    const ProcessResult d = hubctl(hub, {"-VER", "d1"});
    EXPECT_TRUE(contains(d.out, "Parse line "));
    EXPECT_TRUE(contains(d.out, "3.1.0.3426\n"));
}

}  // namespace
