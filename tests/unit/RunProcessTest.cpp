// The harness that runs the tools: a run that outlives its time-out ends the
// test's wait even when something it started keeps its output open.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include "RunProcess.h"

namespace {

TEST(RunProcess, ATimedOutRunEndsTheWaitThoughItsChildKeepsTheOutputOpen) {
    ProcessOptions options;
    options.timeoutSeconds = 1;
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult r = runProcess({"/bin/sh", "-c", "echo started; sleep 30 & exec sleep 30"}, options);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(r.out, "started\n");
    EXPECT_LT(waited, std::chrono::seconds(20));
}

}  // namespace
