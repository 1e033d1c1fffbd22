// The calibration tool as an operator starts it: banner, command-line errors,
// an accepted line and an interrupt.
#include <gtest/gtest.h>

#include "HubSim.h"
#include "RunProcess.h"

namespace {

const std::string kBin = SENSORTRIM_BIN;
const std::string kBanner = "\nCorvex(R) Tessary Calibration Tool\nVersion: 3.1.0.3426\n";

ProcessResult runTool(std::vector<std::string> args, ProcessOptions options = {}) {
    args.insert(args.begin(), kBin);
    return runProcess(args, options);
}

std::string usageOf(const std::string& program) {
    // The usage text starts with its synopsis and ends with the last example.
    return "\nUsage:\n\n" + program + " [-ImportXml <filename>] [-ExportXml <filename>]\n";
}

TEST(SensortrimCli, NoArgumentsPrintsBannerMessageAndUsage) {
    const ProcessResult r = runTool({});
    EXPECT_EQ(r.exitStatus, 255);
    const std::string expectedStart = kBanner + "No command was specified\n" + usageOf(kBin);
    EXPECT_EQ(r.out.substr(0, expectedStart.size()), expectedStart);
    const std::string lastExample = kBin + " -ImportXml filename.xml\n\n";
    ASSERT_GE(r.out.size(), lastExample.size());
    EXPECT_EQ(r.out.substr(r.out.size() - lastExample.size()), lastExample);
    EXPECT_EQ(r.err, "");
}

TEST(SensortrimCli, RejectedLinesExitWith255AfterMessageAndUsage) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"-Calibrate", "-UpdateTSY"}, "Could not find value for 'Calibrate'"},
        {{"-"}, "Invalid argument: ''"},
        {{""}, "Invalid argument: ''"},
        {{"-\xff\xfe\x80"}, "Invalid argument: '\xff\xfe\x80'"},
        {{"-" + std::string(100000, 'x')}, "Invalid argument: '" + std::string(100000, 'x') + "'"},
        {{"-ExportXml", "out.txt"}, "Invalid extension for file out.txt. Valid extension is only .xml"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = runTool(c.args);
        EXPECT_EQ(r.exitStatus, 255) << c.message.substr(0, 60);
        const std::string expectedStart = kBanner + c.message + "\n" + usageOf(kBin);
        EXPECT_EQ(r.out.substr(0, expectedStart.size()), expectedStart) << c.message.substr(0, 60);
    }
}

TEST(SensortrimCli, AcceptedLinePrintsBothRunTimeLines) {
    HubSim hub(defaultScenario());
    ProcessOptions options;
    options.workDir = hub.dir();
    const ProcessResult r = hub.run({kBin, "-ExportXml", "x.xml"}, options);
    EXPECT_EQ(r.exitStatus, 0);
    const std::string tail = "Total run time: 0 seconds\n"
                             "Total run time (excluding time waiting for user inputs): 0 seconds\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST(SensortrimCli, RunWithoutAHubFailsWithTheDeviceError) {
    const ProcessResult r = runTool({"-TestCalibration", "AG", "-Minimal", "-noEnter", "2000"});
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_EQ(r.out, kBanner + "SMHI Error: Cannot establish a handle to the DOXI driver\n");
}

TEST(SensortrimCli, InterruptPrintsBothLinesAndExitsWithTheSignalNumber) {
    ProcessOptions options;
    options.env["LD_PRELOAD"] = INTERRUPT_PRELOAD;
    // Sanitizer runtimes must otherwise come first in the preload list.
    options.env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    const ProcessResult r = runTool({"-MagTest"}, options);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.out, "Interrupt signal (2) received.\nAbort request\n");
}

}  // namespace
