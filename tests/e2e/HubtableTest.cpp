// The PDT tool as a factory line runs it, against the emulated hub.
#include <gtest/gtest.h>

#include "HubSim.h"

namespace {

const std::string kBin = HUBTABLE_BIN;
const std::string kUsage =
    "\nUsage:\n\n" + kBin +
    " [-command]\nWhere command includes:\n"
    "\t -SetPDT <bin-file-path> [-Test <level>]\t:Set PDT table from binary file [and then run BIST]\n"
    "\t -GetPDT <bin-file-path>\t\t\t:Get PDT table into binary file\n";

std::string image(size_t size) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i)
        bytes += static_cast<char>((i * 31 + 7) & 0xFF);
    return bytes;
}

std::string hex(const std::string& bytes) {
    static const char d[] = "0123456789abcdef";
    std::string t;
    for (unsigned char c : bytes) {
        t += d[c >> 4];
        t += d[c & 15];
    }
    return t;
}

ProcessResult hubtable(const HubSim& hub, std::vector<std::string> args) {
    args.insert(args.begin(), kBin);
    return hub.run(args);
}

TEST(Hubtable, SetThenGetReturnsTheSameBytes) {
    HubSim hub(defaultScenario());
    const std::string pdt = image(3990);
    writeFile(hub.dir() + "/table.BIN", pdt);
    ProcessResult r = hubtable(hub, {"-SetPDT", hub.dir() + "/table.BIN"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "Success setting PDT.\n");
    r = hubtable(hub, {"-getpdt", hub.dir() + "/back.bin"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "Success.\n");
    EXPECT_EQ(readFile(hub.dir() + "/back.bin"), pdt);

    const std::vector<std::string> sent = hub.sentMessages();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "05000000" "0000000000000000" "03000000" "960f0000" + hex(pdt));
    EXPECT_EQ(sent[1], "02000000");
    EXPECT_EQ(sent[2], "04000000" "0000000000000000" "00" "03000000");
}

class HubtableSelfTest : public ::testing::TestWithParam<int> {};

TEST_P(HubtableSelfTest, RunsAfterTheResetAndPrintsEachSensor) {
    const int level = GetParam();
    HubSim hub(defaultScenario());
    writeFile(hub.dir() + "/t.bin", image(100));
    const ProcessResult r = hubtable(hub, {"-SetPDT", hub.dir() + "/t.bin", "-Test", std::to_string(level)});
    const char* levels[] = {"configuration", "connectivity", "calibration", "BIST"};
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, std::string("Success setting PDT.\nSelf Test Result:\nTest Level: ") + levels[level] +
                         "\nResult: test warning for sensors:\n"
                         "Sensor LUID: \t10073\tResult: test pass\n"
                         "Sensor LUID: \t10073\tResult: test pass\n"
                         "Sensor LUID: \t90076\tResult: test pass\n"
                         "Sensor LUID: \t8020F\tResult: test pass\n"
                         "Sensor LUID: \t20041\tResult: test unsupported\n");
    const std::vector<std::string> sent = hub.sentMessages();
    ASSERT_EQ(sent.size(), 6u);  // set, reset, start, three polls
    const char* masks[] = {"0100", "0300", "0700", "0f00"};
    EXPECT_EQ(sent[2], std::string("03000000ffffffffffffffff00") + masks[level]);
    EXPECT_EQ(sent[3], std::string("03000000ffffffffffffffff01") + masks[level]);
}

INSTANTIATE_TEST_SUITE_P(Levels, HubtableSelfTest, ::testing::Values(0, 1, 2, 3));

TEST(Hubtable, SelfTestFailures) {
    struct Case {
        std::string extra;
        std::string level;
        std::string error;
        size_t sent;
    };
    const Case cases[] = {
        {"", "4", "invalid test level.", 2},
        {"", "x", "invalid test level.", 2},
        {"<Faults><Fault command=\"3\" status=\"2\" times=\"1\"/></Faults>", "1", "Self test failed.", 3},
        // The answer keeps saying "running" through all ten polls.
        {"<SelfTest runningPolls=\"50\" runningStatus=\"0\"/>", "2", "Corvex(R) Tessary device unavailable.", 13},
        {"<SelfTest runningPolls=\"50\" runningStatus=\"3\"/>", "2", "Corvex(R) Tessary device unavailable.", 13},
        {"<SelfTest runningPolls=\"1\" runningStatus=\"2\"/>", "2", "Unexpected result in command response.", 4},
        {"<Faults><Fault command=\"3\" response=\"short\" length=\"9\"/></Faults>", "2",
         "Unexpected result in command response.", 4},
        // Results of no known meaning: a sensor's, and the overall one.
        {"<SelfTest runningPolls=\"0\"><Result luid=\"7300010001000002\" code=\"12\"/></SelfTest>", "3",
         "invalid status.", 4},
        {"<SelfTest runningPolls=\"0\" overall=\"3\"/>", "3", "invalid test result.", 4},
    };
    for (const Case& c : cases) {
        std::string xml = defaultScenario();
        if (c.extra.rfind("<SelfTest", 0) == 0) {
            const size_t from = xml.find("<SelfTest");
            xml.replace(from, xml.find("</SelfTest>") + 11 - from, c.extra);
        } else {
            xml.insert(xml.rfind("</HubScenario>"), c.extra);
        }
        HubSim hub(xml);
        writeFile(hub.dir() + "/t.bin", image(10));
        const ProcessResult r = hubtable(hub, {"-SetPDT", hub.dir() + "/t.bin", "-Test", c.level});
        EXPECT_EQ(r.exitStatus, 1) << c.extra;
        EXPECT_EQ(r.out, "Success setting PDT.\nFailed.\nSMHI Error: " + c.error + "\n") << c.extra;
        EXPECT_EQ(hub.sentMessages().size(), c.sent) << c.extra;
    }
}

TEST(Hubtable, FailingSensorsFailTheRun) {
    struct Case {
        std::string selfTest;
        std::string lines;
        int status;
    };
    const Case cases[] = {
        {"<Result luid=\"7300010001000002\" code=\"0\"/><Result luid=\"7600090002000002\" code=\"7\"/>",
         "Result: test failed for sensors:\nSensor LUID: \t10073\tResult: test pass\n"
         "Sensor LUID: \t90076\tResult: connectivity failure\n",
         1},
        {"<Result luid=\"7300010001000002\" code=\"5\"/>",
         "Result: test warning for sensors:\nSensor LUID: \t10073\tResult: missing optional reporter\n", 0},
        {"<Result luid=\"7300010001000002\" code=\"11\"/>",
         "Result: test failed for sensors:\nSensor LUID: \t10073\tResult: I2C connectivity failure\n", 1},
    };
    for (const Case& c : cases) {
        std::string xml = defaultScenario();
        const size_t from = xml.find("<SelfTest");
        xml.replace(from, xml.find("</SelfTest>") + 11 - from, "<SelfTest runningPolls=\"0\">" + c.selfTest + "</SelfTest>");
        HubSim hub(xml);
        writeFile(hub.dir() + "/t.bin", image(10));
        const ProcessResult r = hubtable(hub, {"-SetPDT", hub.dir() + "/t.bin", "-Test", "3"});
        EXPECT_EQ(r.exitStatus, c.status) << c.selfTest;
        EXPECT_EQ(r.out, "Success setting PDT.\nSelf Test Result:\nTest Level: BIST\n" + c.lines) << c.selfTest;
    }
    // The firmware's own verdict counts too.
    std::string xml = defaultScenario();
    const size_t from = xml.find("<SelfTest");
    xml.replace(from, xml.find("</SelfTest>") + 11 - from, "<SelfTest runningPolls=\"0\" overall=\"2\"/>");
    HubSim hub(xml);
    writeFile(hub.dir() + "/t.bin", image(10));
    const ProcessResult r = hubtable(hub, {"-SetPDT", hub.dir() + "/t.bin", "-Test", "3"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "Success setting PDT.\nSelf Test Result:\nTest Level: BIST\nResult: test failed for sensors:\n");
}

TEST(Hubtable, CommandLineErrorsPrintTheUsage) {
    HubSim hub(defaultScenario());
    writeFile(hub.dir() + "/t.txt", image(10));
    writeFile(hub.dir() + "/bin", image(10));
    writeFile(hub.dir() + "/ok.bin", image(10));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{}, "No command was specified"},
        {{"-Test", "1"}, "No command was specified"},
        {{"-GetPDT", "a.bin", "-Test", "1"},
         "Invalid combination of commands. The GetPDT argument cannot be used together with Test"},
        {{"-SetPDT", hub.dir() + "/ok.bin", "-GetPDT", "b.bin"},
         "Invalid combination of commands. The SetPDT argument cannot be used together with GetPDT"},
        {{"-SetPDT"}, "Could not find value for 'SetPDT'"},
        {{"-SetPDT", hub.dir() + "/missing.bin"}, "Cannot read input file " + hub.dir() + "/missing.bin"},
        {{"-SetPDT", hub.dir()}, "Cannot read input file " + hub.dir()},
        {{"-SetPDT", hub.dir() + "/t.txt"}, "Invalid input file, must end with .bin"},
        {{"-GetPDT", hub.dir() + "/out.txt"}, "Invalid output file, must end with .bin"},
        {{"-GetPDT", "bin"}, "Invalid output file, must end with .bin"},
        {{"-SetPDT", "ok.bin", "-SetPDT", "ok.bin"}, "The 'SetPDT' argument was already specified"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = hubtable(hub, c.args);
        EXPECT_EQ(r.exitStatus, 1) << c.message;
        EXPECT_EQ(r.out, c.message + "\n" + kUsage + "\n");
    }
    EXPECT_TRUE(hub.sentMessages().empty());
    EXPECT_FALSE(readFile(hub.dir() + "/out.txt").size());
}

TEST(Hubtable, SizeLimitIsCheckedBeforeAnythingIsSent) {
    HubSim hub(defaultScenario());
    writeFile(hub.dir() + "/big.bin", image(3991));
    writeFile(hub.dir() + "/huge.bin", image(5 << 20));
    writeFile(hub.dir() + "/empty.bin", "");
    for (const char* name : {"/big.bin", "/huge.bin"}) {
        const ProcessResult r = hubtable(hub, {"-SetPDT", hub.dir() + name});
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.out, "Failed.\nSMHI Error: Too large PDT file, cannot be larger than 3990 bytes\n");
    }
    const ProcessResult r = hubtable(hub, {"-SetPDT", hub.dir() + "/empty.bin"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "Failed.\nSMHI Error: Empty PDT file, nothing to set\n");
    EXPECT_TRUE(hub.sentMessages().empty());
}

TEST(Hubtable, FirmwareRefusalsAndMissingHub) {
    struct Case {
        std::string extra;
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {"<Faults><Fault command=\"5\" status=\"2\"/></Faults>", {"-SetPDT", "@/t.bin"},
         "Failed.\nSMHI Error: Set PDT command failed, status: 2\n"},
        {"<Faults><Fault command=\"2\" status=\"1\"/></Faults>", {"-SetPDT", "@/t.bin"},
         "Failed.\nSMHI Error: Reset TSY command failed.\n"},
        {"<Faults><Fault command=\"4\" status=\"4\"/></Faults>", {"-GetPDT", "@/o.bin"},
         "Failed.\nSMHI Error: Set PDT command failed, status: 4\n"},
        {"<Faults><Fault command=\"4\" response=\"short\" length=\"12\"/></Faults>", {"-GetPDT", "@/o.bin"},
         "Failed.\nSMHI Error: Unexpected result in command response.\n"},
        {"<Faults><Fault command=\"4\" response=\"close\"/></Faults>", {"-GetPDT", "@/o.bin"},
         "Failed.\nSMHI Error: Read command failed\n"},
        {"<Nodes>/dev/keb-trace</Nodes>", {"-GetPDT", "@/o.bin"},
         "Failed.\nSMHI Error: Cannot establish a handle to the DOXI driver\n"},
        {"<Faults><Fault connect=\"refuse\"/></Faults>", {"-SetPDT", "@/t.bin"},
         "Failed.\nSMHI Error: error in IOCTL_DOXI_CONNECT_CLIENT\n"},
        // A firmware that never answers: the read gives up after its time-out.
        {"<Faults><Fault command=\"5\" response=\"none\"/></Faults>", {"-SetPDT", "@/t.bin"},
         "Failed.\nSMHI Error: Read command failed\n"},
        {"<Faults><Fault command=\"2\" response=\"none\"/></Faults>", {"-SetPDT", "@/t.bin"},
         "Failed.\nSMHI Error: Read command failed\n"},
        {"<Faults><Fault command=\"4\" response=\"none\"/></Faults>", {"-GetPDT", "@/o.bin"},
         "Failed.\nSMHI Error: Read command failed\n"},
        {"<Faults><Fault command=\"3\" response=\"none\"/></Faults>", {"-SetPDT", "@/t.bin", "-Test", "1"},
         "Success setting PDT.\nFailed.\nSMHI Error: Read command failed\n"},
    };
    for (const Case& c : cases) {
        HubSim hub(scenarioWith(c.extra));
        writeFile(hub.dir() + "/t.bin", image(10));
        std::vector<std::string> args = c.args;
        for (std::string& a : args)
            if (a[0] == '@')
                a = hub.dir() + a.substr(1);
        const ProcessResult r = hubtable(hub, args);
        EXPECT_EQ(r.exitStatus, 1) << c.extra;
        EXPECT_EQ(r.out, c.out) << c.extra;
        EXPECT_FALSE(readFile(hub.dir() + "/o.bin").size()) << c.extra;
    }
}

}  // namespace
