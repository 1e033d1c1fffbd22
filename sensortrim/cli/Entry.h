// Process entry of the calibration tool.
#pragma once

#include <memory>

class CalibrationManager;

// The running job, reachable from the interrupt handler; empty until the
// command line has been accepted.
extern std::shared_ptr<CalibrationManager> manager;

void signalHandler(int signum);

// Everything main does: banner, parsing, the run and its reporting. Returns the
// process exit status.
int sensortrimMain(int argc, char** argv);
