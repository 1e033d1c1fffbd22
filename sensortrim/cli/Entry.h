// Process entry of the calibration tool.
#pragma once

#include <memory>

class CalibrationManager;

// The running job, reachable from the interrupt handling; empty until the
// command line has been accepted.
extern std::shared_ptr<CalibrationManager> manager;

// The SIGINT handler. It only hands the signal to the interrupt thread (the
// one thing a handler may safely do) and holds the interrupted thread still;
// that thread prints the two lines, calls abort() and ends the process with
// status 2.
void signalHandler(int signum);

// Everything main does: banner, parsing, the run and its reporting. Returns the
// process exit status.
int sensortrimMain(int argc, char** argv);
