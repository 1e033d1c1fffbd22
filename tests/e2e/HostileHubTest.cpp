// Every tool against a firmware that misbehaves at random (hubsim --hostile):
// answers cut short or padded with junk, junk statuses, counts and lengths,
// delays, swallowed answers and dropped connections. Whatever happens, a tool
// ends by itself with one of its exit statuses and, when it fails, says why:
// no signal, no sanitizer report, no hang. A failing seed replays with
// scripts/with-hub SCENARIO --hostile SEED -- COMMAND.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "HubSim.h"

namespace {

struct ToolCommand {
    std::vector<std::string> argv;
    std::set<int> statuses;  // the tool's exit statuses
};

std::vector<ToolCommand> commands(const std::string& dir) {
    const std::string examples = EXAMPLES_DIR;
    return {
        {{HUBCTL_BIN, "-INFO", "-BOM"}, {0, 1}},
        {{HUBCTL_BIN, "-BIST", "-All"}, {0, 1}},
        {{HUBCTL_BIN, "-BIST", "-Test", "1", "-LUID", "7300010001000002"}, {0, 1}},
        {{HUBCTL_BIN, "-PDT", "-GetPDT", dir + "/got.bin"}, {0, 1}},
        {{HUBCTL_BIN, "-I2C", "-Calibrate", "1", "-UpdatePDT"}, {0, 1}},
        {{HUBTABLE_BIN, "-GetPDT", dir + "/table.bin"}, {0, 1}},
        {{HUBTABLE_BIN, "-SetPDT", examples + "/pdt-default.bin", "-Test", "1"}, {0, 1}},
        {{SENSORTRIM_BIN, "-ExportXml", dir + "/device.xml"}, {0, 255}},
        {{SENSORTRIM_BIN, "-ImportXml", examples + "/calibration-default.xml"}, {0, 255}},
        {{FWLOGSETUP_BIN, "-getConfig"}, {0, 1}},
        {{FWLOGSETUP_BIN, "-getConfig", "header"}, {0, 1}},
        {{FWLOGSETUP_BIN, "-setConfig", examples + "/trace/trace-config.xml", "volatile"}, {0, 1}},
        {{FWLOGTAP_BIN, "DOXI", "flush", examples + "/trace/TraceCatalog.xml", examples + "/trace/TraceComponents.xml",
          dir + "/trace.log"},
         {0, 1}},
    };
}

std::string describe(const std::vector<std::string>& argv) {
    std::string text;
    for (const std::string& word : argv)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

class HostileHub : public ::testing::TestWithParam<int> {};

TEST_P(HostileHub, EveryToolEndsCleanlyWithAMessage) {
    const int seed = GetParam();
    // The trace scenario gives fwlogtap a bulk to read; the default one the rest.
    const HubSim hub(defaultScenario(), {"--hostile", std::to_string(seed)});
    const HubSim traceHub(readFile(EXAMPLES_DIR "/trace/hub-trace.xml"), {"--hostile", std::to_string(seed)});
    int failures = 0, successes = 0;
    for (int round = 0; round < 2; ++round) {
        for (const ToolCommand& command : commands(hub.dir())) {
            const bool trace = command.argv[0] == FWLOGTAP_BIN;
            ProcessOptions options;
            options.timeoutSeconds = 90;
            const ProcessResult result = (trace ? traceHub : hub).run(command.argv, options);
            const std::string what = "seed " + std::to_string(seed) + ": " + describe(command.argv);
            ASSERT_EQ(result.signal, 0) << what << "\n" << result.out << result.err;
            EXPECT_TRUE(command.statuses.count(result.exitStatus)) << what << " exit " << result.exitStatus;
            const std::string printed = result.out + result.err;
            EXPECT_EQ(printed.find("Sanitizer"), std::string::npos) << what << "\n" << printed;
            EXPECT_EQ(printed.find("runtime error"), std::string::npos) << what << "\n" << printed;
            EXPECT_EQ(printed.find("terminate called"), std::string::npos) << what << "\n" << printed;
            if (result.exitStatus != 0) {
                ++failures;
                // A failure names its reason.
                std::string lower = printed;
                for (char& c : lower)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                bool named = false;
                for (const char* word : {"error", "fail", "invalid", "exception", "cannot", "unexpected", "timeout"})
                    named = named || lower.find(word) != std::string::npos;
                EXPECT_TRUE(named) << what << "\n" << printed;
            } else {
                ++successes;
            }
        }
    }
    // The firmware did misbehave, and not always.
    EXPECT_GT(failures, 0);
    EXPECT_GT(successes, 0);
}

// A live calibration: the firmware answers its commands, and now and then one
// of its sensor reports comes cut, padded, garbled, late or not at all, or the
// connection drops.
TEST_P(HostileHub, LiveCalibrationEndsCleanlyWithAMessage) {
    const int seed = GetParam();
    const HubSim hub(defaultScenario(), {"--hostile-reports", std::to_string(seed)});
    ProcessOptions options;
    options.workDir = hub.dir();
    options.timeoutSeconds = 150;
    const ProcessResult result =
        hub.runWithOperator({SENSORTRIM_BIN, "-Calibrate", "AGM", "-UpdateTSY", "-ExportAllFiles", "out"}, options);
    const std::string what = "seed " + std::to_string(seed) + ": live AGM calibration";
    const std::string printed = result.out + result.err;
    ASSERT_EQ(result.signal, 0) << what << "\n" << printed;
    EXPECT_TRUE(result.exitStatus == 0 || result.exitStatus == 255) << what << " exit " << result.exitStatus << "\n"
                                                                    << printed;
    for (const char* report : {"Sanitizer", "runtime error", "terminate called"})
        EXPECT_EQ(printed.find(report), std::string::npos) << what << "\n" << printed;
    if (result.exitStatus != 0) {
        EXPECT_NE(printed.find("FAILED"), std::string::npos) << what << "\n" << printed;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, HostileHub, ::testing::Values(1, 2, 3, 4));

}  // namespace
