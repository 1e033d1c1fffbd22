// Runs one job of the calibration tool, from the accepted command line to the verdict.
#pragma once

#include "cmdline/CmdLineArguments.h"

class CalibrationManager {
public:
    explicit CalibrationManager(const CmdLineArguments& arguments);

    // Runs the whole job; failures are thrown after they have been reported.
    void start();
    // Called from the interrupt handler: stops live sampling and writes the data
    // collected so far.
    void abort();
    // Whole seconds the run spent waiting for the operator.
    long long getUserDelays() const { return userDelays; }

private:
    CmdLineArguments args;
    long long userDelays = 0;
};
