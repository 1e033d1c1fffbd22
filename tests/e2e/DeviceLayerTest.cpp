// The device layer as the tools use it: a client under the device shim against
// hubsim, checking what it printed and the bytes hubsim received.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "HubSim.h"

namespace {

const std::string kClient = DEVCLIENT_BIN;
const std::string kAccel = "7300010001000002";

ProcessResult client(const HubSim& hub, std::vector<std::string> args) {
    args.insert(args.begin(), kClient);
    return hub.run(args);
}

// A journal line equal to line, or starting with it when it ends in '*'.
// hubsim writes a connection's "closed" when it notices the close, which may
// be just after the client has ended: the journal is read again for a while.
bool journalHas(const HubSim& hub, std::string line) {
    const bool prefix = !line.empty() && line.back() == '*';
    if (prefix)
        line.pop_back();
    for (int attempt = 0; attempt < 200; ++attempt) {
        for (const std::string& l : hub.journal())
            if (prefix ? l.compare(0, line.size(), line) == 0 : l == line)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(DeviceLayer, EnumeratesTheSensorsOfTheScenario) {
    HubSim hub(defaultScenario());
    const ProcessResult r = client(hub, {"enumerate"});
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.out,
              "7300010001000002\n7300010001000102\n7600090002000002\n4102090002000001\n"
              "0f02080004000002\n4202080004000001\n4100020001000002\n"
              "0302000000000000\n6402000000000000\n3602000000000000\n");
    EXPECT_EQ(hub.sentMessages(), (std::vector<std::string>{"0400000000000000000000000002"}));
    EXPECT_TRUE(journalHas(hub, "1 - open /dev/keb-smhi"));
    EXPECT_TRUE(journalHas(hub, "1 smhi connect bb579a2e-cc54-4450-b1d0-5e7520dcad25"));
    EXPECT_TRUE(journalHas(hub, "1 smhi closed"));
}

TEST(DeviceLayer, CalibrationRecordsAreReadAndKept) {
    HubSim hub(defaultScenario());
    ProcessResult r = client(hub, {"get-cal", kAccel});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out, "00000c000000f9ffffff03000000102700000000000010270000000000001027102701010100" "0000\n");

    const std::string record(80, 'a');
    r = client(hub, {"set-cal", kAccel, record});
    EXPECT_EQ(r.out, "status 0\n");
    r = client(hub, {"get-cal", kAccel});
    EXPECT_EQ(r.out, record + "\n");
    const std::vector<std::string> sent = hub.sentMessages();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].size(), 2u * 76);
    EXPECT_EQ(sent[1].substr(0, 40), "05000000" + kAccel + "0000000038000000");

    // A sensor without a record answers with a failure status.
    r = client(hub, {"get-cal", "4202080004000001"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "SMHI Error: Get calibration data command failed\n");
}

TEST(DeviceLayer, PdtSetThenGetReturnsTheSameBytes) {
    HubSim hub(defaultScenario());
    std::string image;
    for (int i = 0; i < 3990; ++i)
        image += static_cast<char>(i * 13);
    writeFile(hub.dir() + "/in.bin", image);
    ProcessResult r = client(hub, {"set-pdt", hub.dir() + "/in.bin"});
    ASSERT_EQ(r.out, "status 0\n");
    r = client(hub, {"get-pdt", hub.dir() + "/out.bin"});
    ASSERT_EQ(r.out, "pdt 3990 bytes\n");
    EXPECT_EQ(readFile(hub.dir() + "/out.bin"), image);
}

TEST(DeviceLayer, SelfTestIsPolledUntilResultsAreReady) {
    HubSim hub(defaultScenario());
    const ProcessResult r = client(hub, {"selftest", "3"});
    ASSERT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out,
              "poll 1 status 3\npoll 2 status 3\npolls 3 overall 1\n"
              "0073000100010002 test passed\n0073000100010102 test passed\n0076000900020002 test passed\n"
              "020F000800040002 test passed\n0041000200010000 warning: test unsupported\n");
    const std::vector<std::string> sent = hub.sentMessages();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], "03000000ffffffffffffffff000f00");
    EXPECT_EQ(sent[1], "03000000ffffffffffffffff010f00");
}

TEST(DeviceLayer, FallsBackToTheGenericNode) {
    HubSim hub(scenarioWith("<Nodes>/dev/keb</Nodes>"));
    const ProcessResult r = client(hub, {"enumerate"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_TRUE(journalHas(hub, "1 - open /dev/keb-smhi absent"));
    EXPECT_TRUE(journalHas(hub, "2 - open /dev/keb"));
    EXPECT_TRUE(journalHas(hub, "2 smhi 0400*"));
}

TEST(DeviceLayer, MissingNodesAndRefusedConnectsAreReportedPerSurface) {
    struct Case {
        std::string extra;
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {"<Nodes>/dev/keb-trace</Nodes>", {"enumerate"}, "SMHI Error: Cannot establish a handle to the DOXI driver\n"},
        {"<Nodes>/dev/keb-trace</Nodes>", {"c-version"}, "code 8192\n"},
        {"<Nodes>/dev/keb-smhi</Nodes>", {"trace-config", "/dev/keb-tracec", "00000000"},
         "DoxiException 8203: Cannot establish a handle to the DOXI driver\n"},
        {"<Faults><Fault connect=\"refuse\"/></Faults>", {"enumerate"}, "SMHI Error: error in IOCTL_DOXI_CONNECT_CLIENT\n"},
        {"<Faults><Fault connect=\"refuse\"/></Faults>", {"c-version"}, "code 8192\n"},
        {"<Faults><Fault connect=\"refuse\"/></Faults>", {"c-bufsize"}, "size 0\n"},
        {"<Faults><Fault connect=\"refuse\"/></Faults>", {"trace-config", "/dev/keb-tracec", "00000000"},
         "DoxiException 8207: error in IOCTL_DOXI_CONNECT_CLIENT\n"},
    };
    for (const Case& c : cases) {
        HubSim hub(scenarioWith(c.extra));
        const ProcessResult r = client(hub, c.args);
        EXPECT_EQ(r.out, c.out) << c.extra << " " << c.args[0];
        EXPECT_TRUE(hub.sentMessages().empty());
    }
}

TEST(DeviceLayer, FaultyResponsesGiveTheSurfaceErrors) {
    struct Case {
        std::string fault;
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {"<Fault command=\"1\" response=\"short\" length=\"11\"/>", {"c-version"}, "code 8203\n"},
        {"<Fault command=\"1\" response=\"long\" length=\"13\"/>", {"c-version"}, "code 8203\n"},
        {"<Fault command=\"1\" status=\"2\"/>", {"c-version"}, "code 8203\n"},
        {"<Fault command=\"1\" response=\"none\"/>", {"c-version"}, "code 8199\n"},
        {"<Fault command=\"1\" delayMs=\"300\"/>", {"c-version"}, "FW Version: 3.1.0.3426\n"},
        {"<Fault command=\"4\" response=\"close\"/>", {"enumerate"}, "SMHI Error: Read command failed\n"},
        {"<Fault command=\"4\" response=\"short\" length=\"2\"/>", {"enumerate"}, "SMHI Error: Read command failed\n"},
        {"<Fault command=\"4\" response=\"short\" length=\"20\"/>", {"enumerate"},
         "SMHI Error: Enumerate sensors command failed\n"},
        {"<Fault command=\"4\" property=\"2\" status=\"1\"/>", {"enumerate"},
         "SMHI Error: Enumerate sensors command failed\n"},
    };
    for (const Case& c : cases) {
        HubSim hub(scenarioWith("<Faults>" + c.fault + "</Faults>"));
        const ProcessResult r = client(hub, c.args);
        EXPECT_EQ(r.out, c.out) << c.fault;
    }
}

TEST(DeviceLayer, VersionThroughTheCStyleSurface) {
    HubSim hub(defaultScenario());
    EXPECT_EQ(client(hub, {"c-version"}).out, "FW Version: 3.1.0.3426\n");
    EXPECT_EQ(client(hub, {"c-bufsize"}).out, "size 4096\n");
    EXPECT_EQ(hub.sentMessages(), (std::vector<std::string>{"01000000"}));
}

TEST(DeviceLayer, ASecondConnectDoesNothing) {
    HubSim hub(defaultScenario());
    EXPECT_EQ(client(hub, {"connect-twice"}).out, "read 12\n");
    const auto journal = hub.journal();
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& l) { return l.find(" open ") != std::string::npos; }),
              1);
}

TEST(DeviceLayer, MalformedRequestsAreRefusedAndHubsimKeepsServing) {
    HubSim hub(defaultScenario());
    const ProcessResult r = client(hub, {"raw", "04", "040000007300010001000002000000", "03000000", "050000007300"});
    EXPECT_EQ(r.out, "84000004\n84000004\n83000004\n85000004\n");
    EXPECT_EQ(client(hub, {"c-version"}).out, "FW Version: 3.1.0.3426\n");
}

TEST(DeviceLayer, AsynchronousTraceReadEndsOnTheStopFlag) {
    HubSim hub(defaultScenario());
    const ProcessResult r = client(hub, {"trace-read-stop"});
    EXPECT_EQ(r.out, "connect 1 0\nread 0 size 4100\nthen 8206\n");
    EXPECT_TRUE(journalHas(hub, "1 trace connect c1cc78b9-b693-4e54-9191-5169cb027c25"));
}

TEST(DeviceLayer, TwoClientsAtOnce) {
    HubSim hub(defaultScenario());
    ProcessResult first, second;
    std::thread a([&] { first = client(hub, {"selftest", "1"}); });
    std::thread b([&] { second = client(hub, {"enumerate"}); });
    a.join();
    b.join();
    EXPECT_EQ(first.exitStatus, 0) << first.out;
    EXPECT_EQ(second.exitStatus, 0) << second.out;
    EXPECT_EQ(std::count(second.out.begin(), second.out.end(), '\n'), 10);
}

}  // namespace
