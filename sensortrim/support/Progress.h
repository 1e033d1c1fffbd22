// What a live step is doing, for the operator's status line: what it waits
// for, how far the device has turned about the axis the step names, how still
// it is against the step's motion threshold, how long until the time-out, and
// which sensors have sent nothing. The step script and the sensor manager fill
// it; the console draws it, and only on a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct StepProgress {
    int step = 0;                  // as the console numbers them
    std::string waitingFor;        // "holding still", "the turn", ...
    std::string turnAxis;          // "Z"; empty when the step has no turn
    double turnedDegrees = 0.0;    // so far, in the step's sense of turning
    double turnTarget = 0.0;       // 360, 90
    std::string reading;           // what the step's sensor reads now ("light 498"); empty: nothing to show
    double motion = -1.0;          // the motion over the step's threshold (at most 1: still); below 0 unknown
    // What the meter measures, and its words at and below the threshold, and above it.
    std::string meterName = "motion", calmWord = "still", busyWord = "moving";
    int secondsLeft = -1;          // before the time-out; below 0 none
    std::vector<std::string> silent;  // sensors whose samples have not arrived
};

// The status line of a step, at most width characters, plain ASCII:
// "step 2: the turn | Z 212/360 deg | motion [###.......] still | 41 s left | no samples: Gyroscope".
std::string formatProgress(const StepProgress& progress, size_t width);
