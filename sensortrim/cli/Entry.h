// Process entry of the calibration tool.
#pragma once

#include <memory>

class CalibrationManager;

// The running job, reachable from the interrupt handling; empty until the
// command line has been accepted.
extern std::shared_ptr<CalibrationManager> manager;

// The handler of SIGINT, SIGTERM and SIGHUP. It only notes the signal and
// wakes the interrupt thread (what a handler may safely do) and returns; the
// main thread ends the run at its next safe point (or, when it reaches none
// within a second, the interrupt thread does): the signal's line, abort(),
// the record of the interrupt, "Abort request", and status 2 after SIGINT,
// 128 + the signal's number after the others.
void signalHandler(int signum);

// Everything main does: banner, parsing, the run and its reporting. Returns the
// process exit status.
int sensortrimMain(int argc, char** argv);
