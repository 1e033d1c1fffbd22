// The trace configuration tool against the emulated trace-configuration client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HubSim.h"

namespace {

const std::string kBin = FWLOGSETUP_BIN;
const std::string kExample = EXAMPLES_DIR "/trace/trace-config.xml";

ProcessResult fwlogsetup(const HubSim& hub, std::vector<std::string> args) {
    args.insert(args.begin(), kBin);
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 30;
    return hub.run(args, options);
}

// The journal's messages on the trace-configuration client.
std::vector<std::string> configRequests(const HubSim& hub) {
    std::vector<std::string> out;
    for (const std::string& line : hub.journal()) {
        const size_t at = line.find(" tracec ");
        if (at == std::string::npos)
            continue;
        const std::string rest = line.substr(at + 8);
        if (rest.find_first_not_of("0123456789abcdef") == std::string::npos)
            out.push_back(rest);
    }
    return out;
}

std::string usage() {
    HubSim hub(defaultScenario());
    return runProcess({kBin}).out;
}

const std::string kExampleRecord = "0100000003200500" "0000" "1e00" + std::string(56, '0');
const std::string kExamplePrinted =
    "\nTrace Configuration:\n====================\nTrace Interfaces Mask: 0x1\nTrace Mode Mask: 0x3\n"
    "Buffer Size: 32\nI2C BUS: 0x0, I2C Address: 0x0\nHost Debug: disabled\nLowest Priority: 5\n"
    "Comp Filter Mask:\n\t\t0x0\n\t\t0x1e\n" + [] {
        std::string rest;
        for (int i = 0; i < 14; ++i)
            rest += "\t\t0x0\n";
        return rest;
    }();

TEST(Fwlogsetup, SetThenGetTheConfiguration) {
    HubSim hub(defaultScenario());
    ProcessResult r = fwlogsetup(hub, {"-setConfig", kExample});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out, "Configuration set successfully");
    r = fwlogsetup(hub, {"-GETCONFIG", "-connectionType", "SimulatedDOXI"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out, kExamplePrinted);
    // The set request: header, the record, "not volatile"; then a get request.
    EXPECT_EQ(configRequests(hub), (std::vector<std::string>{"01000000" + kExampleRecord + "00", "00000000"}));
}

TEST(Fwlogsetup, AVolatileConfigurationIsLostOnReset) {
    HubSim hub(defaultScenario());
    ASSERT_EQ(fwlogsetup(hub, {"-setconfig", kExample, "VOLATILE"}).exitStatus, 0);
    EXPECT_EQ(fwlogsetup(hub, {"-getconfig"}).out, kExamplePrinted);
    EXPECT_EQ(configRequests(hub)[0], "01000000" + kExampleRecord + "01");
    // A reset of the hub (here after writing a PDT) brings back the configuration kept in flash.
    writeFile(hub.dir() + "/t.bin", "pdt");
    ASSERT_EQ(hub.run({HUBCTL_BIN, "-PDT", "-SetPDT", hub.dir() + "/t.bin"}).exitStatus, 0);
    const ProcessResult r = fwlogsetup(hub, {"-getconfig"});
    EXPECT_NE(r.out, kExamplePrinted);
    EXPECT_NE(r.out.find("Trace Mode Mask: 0x3\nBuffer Size: 16\n"), std::string::npos) << r.out;
}

TEST(Fwlogsetup, LogHeader) {
    // Header version 1, length 24, config format 1, message format 2.
    HubSim hub(scenarioWith("<TraceConfig><LogHeader hex=\"54535900000000000000000000000000 01 18 01 02 "
                            "0300 0100 0000 620d 00000000\"/></TraceConfig>"));
    const ProcessResult r = fwlogsetup(hub, {"-getConfig", "header"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out,
              "Trace Log Header flag:        TSY\n"
              "Trace Log Header version:     1\n"
              "Trace Log Header length:      24\n"
              "       tools support version: 32, please align the version, otherwise parsing errors may occur.\n"
              "Trace Message Format version: 2\n"
              "       tools support version: 1, please align the version, otherwise parsing errors may occur.\n"
              "Trace Config Format version:  1\n"
              "FW version                    3.1.0.3426\n");
    EXPECT_EQ(configRequests(hub), std::vector<std::string>{"02000000"});
}

TEST(Fwlogsetup, FirmwareStatusesAndShortAnswers) {
    struct Case {
        std::string answer;
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {"<Answer command=\"1\" status=\"1\"/>", {"-setConfig", kExample}, "Config Client Exception: Invalied Command\n"},
        {"<Answer command=\"1\" status=\"2\"/>", {"-setConfig", kExample},
         "Config Client Exception: Illegal configuration request\n"},
        {"<Answer command=\"1\" status=\"3\"/>", {"-setConfig", kExample},
         "Config Client Exception: Error during buffer mode configuration\n"},
        {"<Answer command=\"1\" status=\"4\"/>", {"-setConfig", kExample},
         "Config Client Exception: Error when saving the configuration to flash\n"},
        {"<Answer command=\"0\" status=\"3\"/>", {"-getConfig"}, "Config Client Exception: DOXI general Error\n"},
        {"<Answer command=\"0\" length=\"43\"/>", {"-getConfig"}, "Config Client Exception: DOXI general Error\n"},
        {"<Answer command=\"0\" length=\"44\"/>", {"-getConfig"}, ""},
        {"<Answer command=\"2\" length=\"35\"/>", {"-getConfig", "header"}, "Config Client Exception: DOXI general Error\n"},
        {"<Answer command=\"2\" status=\"9\"/>", {"-getConfig", "header"}, "Config Client Exception: DOXI general Error\n"},
        {"<Answer command=\"0\" length=\"2\"/>", {"-getConfig"}, "Doxi Exception: DOXI general Error\n"},
        // A firmware that never answers: the read gives up after its time.
        {"<Answer command=\"0\" response=\"none\"/>", {"-getConfig"}, "Doxi Exception: DOXI read timeout\n"},
        {"<Answer command=\"2\" response=\"none\"/>", {"-getConfig", "header"}, "Doxi Exception: DOXI read timeout\n"},
    };
    for (const Case& c : cases) {
        HubSim hub(scenarioWith("<TraceConfig>" + c.answer + "</TraceConfig>"));
        const ProcessResult r = fwlogsetup(hub, c.args);
        if (c.out.empty()) {
            EXPECT_EQ(r.exitStatus, 0) << c.answer << r.out;
            continue;
        }
        EXPECT_EQ(r.exitStatus, 1) << c.answer;
        EXPECT_EQ(r.out, c.out) << c.answer;
    }
    // A status with its full answer: the status text.
    HubSim hub(scenarioWith("<TraceConfig><Answer command=\"0\" status=\"3\" length=\"44\"/></TraceConfig>"));
    EXPECT_EQ(fwlogsetup(hub, {"-getConfig"}).out, "Config Client Exception: Error during buffer mode configuration\n");
}

TEST(Fwlogsetup, CommandLinesAndFiles) {
    HubSim hub(defaultScenario());
    const std::string help = usage();
    ASSERT_EQ(help.rfind("TSY Trace Config Tool version 3.1.0.3426\n\nUsage:\n------\nfwlogsetup -getconfig\n", 0), 0u);
    writeFile(hub.dir() + "/bad.xml", "<myConfiguration><BufferSize>12a</BufferSize></myConfiguration>");
    writeFile(hub.dir() + "/conf.txt", "x");
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::string unsupported = "Trace Exception: Unsupported Command line Argument(s)\n" + help;
    const Case cases[] = {
        {{"-getConfig", "-connectionType"}, unsupported},
        {{"-getConfig", "-connectionType", "USB"}, unsupported},
        {{"-setConfig"}, unsupported},
        {{"-frobnicate"}, unsupported},
        {{"-setConfig", "conf.txt"}, "Trace Exception: Invalid config file\n"},
        {{"-setConfig", "bad.xml"}, "Config Client Exception: Invalid config file\n"},
        {{"-setConfig", "missing.xml"}, "Config Client Exception: Invalid config file\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = fwlogsetup(hub, c.args);
        EXPECT_EQ(r.exitStatus, 1) << c.args[0];
        EXPECT_EQ(r.out, c.out) << c.args[0];
    }
    // Nothing was sent for any of them.
    EXPECT_TRUE(configRequests(hub).empty());
    // No hub: the transport's own reason.
    HubSim none(scenarioWith("<Nodes>/dev/keb-smhi</Nodes>"));
    const ProcessResult r = fwlogsetup(none, {"-getConfig"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "Doxi Exception: Cannot establish a handle to the DOXI driver\n");
}

}  // namespace
