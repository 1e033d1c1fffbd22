// Runs of the calibration tool on dumps the device simulator writes into a
// folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "RunProcess.h"

class DumpRunTest : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTempDir(); }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // devicesim --out <dir>/<folder> args...
    void simulate(const std::string& folder, std::vector<std::string> args) {
        args.insert(args.begin(), {DEVICESIM_BIN, "--out", dir + "/" + folder});
        const ProcessResult r = runProcess(args);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
    }
    // sensortrim args..., in the test's folder.
    ProcessResult sensortrim(std::vector<std::string> args) {
        args.insert(args.begin(), SENSORTRIM_BIN);
        ProcessOptions options;
        options.workDir = dir;
        return runProcess(args, options);
    }
    std::string file(const std::string& path) { return readFile(dir + "/" + path); }
    bool exists(const std::string& path) { return readFile(dir + "/" + path).size() > 0; }
    static bool endsWith(const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }

    std::string dir;
};
